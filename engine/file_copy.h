// The single-file copy the copy, move and backup drivers call for every file, and the date comparison.
#pragma once

#include "platform/dir_handle.h"
#include "platform/types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

namespace zelo {

// Bytes per progress step: the bar advances once per 8192-byte block (a final partial block counts one).
inline constexpr uint64_t kCopyBlockSize = 8192;

// A count of progress steps as a bar takes it: a bar holds an int, so a file over 16 TiB (more 8192-byte
// blocks than an int counts) stops at the bar's end instead of overflowing it.
inline int ProgressUnits(uint64_t steps)
{
    return steps > uint64_t(INT32_MAX) ? INT32_MAX : static_cast<int>(steps);
}

// The kind of a listed entry: a destination of another kind under a source's name is never "up to date"
// and never overwritten.
enum class EntryKind { Directory, Link, Special, File };

inline EntryKind KindOf(const FindData& entry)
{
    if (entry.attributes & kAttrReparsePoint) return EntryKind::Link;
    if (entry.attributes & kAttrDirectory) return EntryKind::Directory;
    return entry.special ? EntryKind::Special : EntryKind::File;
}

struct CopyOptions {
    // Flushes each copy to its medium before it takes the destination's place. A tree operation
    // turns this off and syncs the destination file system once at its end (SyncFileSystem).
    bool flushEachFile = true;
    // Called once the new file is complete, just before it takes the destination's place; false fails
    // the copy (the destination stays). A backup that keeps earlier versions puts the old file aside here.
    std::function<bool()> beforeCommit;
};

// Copies source to destination (full drive paths; the destination's directory must exist).
// progressSelector kProgressOverall: the file name goes to the progress label and the overall bar (PBar1)
// steps; any other value (kProgressBlock): the block bar (PBar2) steps. The caller shows the progress
// window and sets the Max. The bytes go to a new file beside the destination (holes kept) that replaces it
// only when complete, with the source's exact times and permission bits (& 0777, writable by its owner); a
// stop (requested through stop) or a failure leaves any earlier destination as it was and no
// temporary file. Only a regular file, a symbolic link (replaced itself, never followed) or a free name is
// written. The source becomes Archive only after a complete copy. Returns 1 when the copy completed or was
// stopped by the user (callers test the stop request), -1 after a failure (the message has been shown with
// ReportFileError).
inline constexpr int kProgressOverall = 0;
inline constexpr int kProgressBlock = 255;
int CopyOneFile(const std::string& source, const std::string& destination, int progressSelector, std::stop_token stop,
    const CopyOptions& options = {});

// A copy of a file listed in one open directory into the same name in another (destAttributes: what a
// listing of it says of that name, or kInvalidAttributes), never reached by path; source and destination
// are their drive paths, for messages. It is taken in two steps, for copies carried out beside the walk:
// the bytes, on any thread, and the commit, in the order the walk handed the copies over. Both directories
// stay open as long as the copy exists; dropping it before its commit leaves nothing behind. Nothing here
// shows a message: the walk's thread tells a failure with Report.
class ListedCopy {
public:
    ListedCopy(std::shared_ptr<DirHandle> from, const FindData& entry, std::shared_ptr<DirHandle> to,
        uint32_t destAttributes, std::string source, std::string destination, CopyOptions options);
    ~ListedCopy();

    // Opens both ends and moves the bytes; after each chunk step(bytes moved so far) says whether to go on.
    // False after a failure or a stop.
    bool Move(const std::function<bool(uint64_t)>& step);
    // The complete file takes the destination's place. False after a failure.
    bool Commit();
    // Whether a step failed (rather than stopped), and the failure told as CopyOneFile tells it.
    bool Failed() const;
    // Whether it failed because the destination refuses the name (a character or a length its file system
    // cannot hold): a failure of this entry alone, after which the run goes on.
    bool NameRefused() const;
    void Report() const;
    const FindData& Entry() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Whether the last error says the destination refuses a name (a character or a length its file system
// cannot hold): a failure of that entry alone.
bool NameRefused();

// Looks up the directory entry of exactly one path (every kind of entry). A Linux name may hold "*"
// or "?", which the directory search takes as wildcards: only the entry of that very name counts,
// never another name the pattern also matches. False with the last error set when there is none.
bool FindFileEntry(const std::string& path, FindData& data);

// Sign of (source's last write - destination's last write), compared to the second in local time:
// positive when the source is later, negative when the destination is later, 0 in the same second.
int CompareFileDates(const std::string& source, const std::string& destination);

} // namespace zelo
