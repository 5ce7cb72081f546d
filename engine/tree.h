// Tree totals and deletion, on the one tree walk. Each returns its counts as a value; the handlers set
// the counters the windows read (Main.TreeDirCount, ...) from it.
#pragma once

#include "engine/options.h"
#include "platform/dir_handle.h"
#include "platform/drive_path.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace zelo {

struct TreeTotals {
    int dirs = 0; // directories below the start (not the start itself)
    int files = 0; // files below and in the start directory (links and special files included)
    float bytes = 0.0f; // their sizes, each addition rounded to single precision, as the totals are kept
    uint64_t exactBytes = 0; // the same sum, exact
    uint64_t largestFile = 0; // the size of the largest file
    // Directories that could not be listed or entered (they add nothing), and the first of them.
    int unreadable = 0;
    std::string firstUnreadable;
};

// Counts directories, files and bytes below start (a directory path ending with "\"). Symbolic links are
// counted as files of their own size and never followed (a start that is itself a link is one file);
// FIFOs, sockets and devices count as files of size 0; other file systems mounted inside the tree are
// counted as directories and not counted into. A start that cannot be listed is unreadable.
// With ListDetail::KindOnly only the counts are taken, without a stat per entry (bytes stay 0).
TreeTotals CountTree(const std::string& start, ListDetail detail = ListDetail::Full);
// The same, given up (with what was counted so far) once a stop is requested: a count run beside other work.
TreeTotals CountTree(const std::string& start, ListDetail detail, std::stop_token stop);
// The same for an entry listed in parent: a directory counts itself in dirs, a file or link is one file.
TreeTotals CountEntry(DirHandle& parent, const FindData& entry);

struct DeleteResult {
    // 1 on success; -1 when a directory could not be removed (reported; the rest of the tree stays),
    // when the root is missing or refused, or when anything failed (a kept root's own files included).
    int result = 1;
    int dirs = 0; // directories removed, the root included when it goes
    int files = 0; // files (and links) deleted
    int failures = 0; // everything that could not be deleted or listed, each reported
};

// How far a deletion has come, read by the window's thread while the deletion runs on another.
class DeleteProgress {
public:
    void Deleted() { m_entries.fetch_add(1, std::memory_order_relaxed); }
    int Entries() const { return m_entries.load(std::memory_order_relaxed); }
    // The folder the deletion works in now (a drive path with its separator).
    void Entered(const std::string& folder)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_folder = folder;
    }
    std::string Folder() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_folder;
    }

private:
    std::atomic<int> m_entries { 0 };
    mutable std::mutex m_mutex;
    std::string m_folder;
};

// Deletes everything below root (a directory path; taken with exactly one trailing separator) and, when
// keepRoot is 0, root itself. Each file that cannot be deleted is reported and skipped; the first directory
// that cannot be removed is reported and ends the call with -1. With options.clearReadOnly, ReadOnly
// entries go too; otherwise they are refused with access denied. Links are deleted as links, never
// followed: a root that is itself a link is removed as the link (keepRoot 0) and is refused as a root to
// empty. The Linux root directory is never emptied. A deletion changes nothing that survives it: no mode
// or attribute of an entry is changed, and a ReadOnly directory that is lent its write bit so an ordinary
// user can remove its entries gets it back whenever it stays. progress (when given) follows the deletion.
DeleteResult DeleteTree(
    const std::string& root, int keepRoot, const CommandOptions& options, DeleteProgress* progress = nullptr);
// The keepRoot of a deletion that empties root and keeps it (any value but 0 does).
inline constexpr int kKeepRoot = 255;

// Deletes the subdirectory entry listed in parent (path: its drive path, for messages) with everything
// below it, through parent, as DeleteTree deletes a root (keepRoot 0). A link or file entry is deleted as
// itself. The mirror deletes extra destination directories so.
DeleteResult DeleteSubtree(
    DirHandle& parent, const FindData& entry, const std::string& path, const CommandOptions& options);

// What a move copied, by inode (a move's source is one file system): a source entry may be deleted only while
// it is still exactly what was copied.
struct MovedEntry {
    uint64_t size = 0;
    FileTime lastWrite;
};
struct MovedEntries {
    std::unordered_map<uint64_t, MovedEntry> copied;
    // Left at the source on purpose (the destination holds a different file of the same second or a newer
    // one): kept without a report.
    std::unordered_set<uint64_t> kept;
};

// What a backup's plan counted inside a folder it deletes, by inode, as the plan saw it: only these go.
struct CountedEntries {
    std::unordered_map<uint64_t, MovedEntry> files; // files, links and special files
    std::unordered_set<uint64_t> dirs;
};

// CountEntry that also records what it counts below a directory entry.
TreeTotals CountEntry(DirHandle& parent, const FindData& entry, CountedEntries& counted);

// Whether the directory entry of parent still holds exactly what was counted: nothing added, changed or
// gone (a folder that is may go in one piece).
bool StillAsCounted(DirHandle& parent, const FindData& entry, const CountedEntries& counted);

// Moves one entry of dir aside (an earlier version) instead of deleting it; relativeDir is the folder that
// holds it, below the destination's top, with its separator.
using KeepAside = std::function<bool(DirHandle& dir, const FindData& entry, const std::string& relativeDir)>;

// Deletes the directory entry of parent (relativePath: below the destination's top, with its separator;
// messages put destinationBase before it) with what was counted in it, each entry only while it is
// unchanged, or moves them aside one by one through keep. Anything not counted or changed stays, with the
// folders that hold it, and is reported with changedText, once each, as a failure.
DeleteResult RemoveCounted(DirHandle& parent, const FindData& entry, const std::string& destinationBase,
    const std::string& relativePath, const CountedEntries& counted, const CommandOptions& options,
    const KeepAside& keep, const char* changedText);

// The source deletion of a move, through root (the source directory the copy walked, opened with a full
// listing) and never by path: every file and link that moved holds unchanged (same inode, size and write
// time) is deleted, every directory left empty removed, and root itself when keepRoot is 0 and it is empty.
// Anything else (written or replaced since it was copied, never copied, another drive mounted there) stays
// and is reported once, as a failure; the deletion goes on with the rest.
DeleteResult DeleteMovedSource(std::unique_ptr<DirHandle> root, const std::string& rootPath, int keepRoot,
    const CommandOptions& options, const MovedEntries& moved);

// The message that refuses to empty the Linux root directory (as rm refuses "/").
std::string SystemRootRefusal(const std::string& root);

} // namespace zelo
