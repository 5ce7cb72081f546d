// What the direct SMB client's file system, its open files and its walks' directory handles share: a
// place on a share with the calling thread's helper, the mapping of the helper's failures and entries,
// and the share's files. Inside the platform only.
#pragma once

#include "platform/dir_handle.h"
#include "platform/errors.h"
#include "platform/smb_filesystem.h"

#include <memory>
#include <optional>
#include <string>

namespace zelo::smbfs {

using smb::Entry;
using smb::Helper;
using smb::Op;
using smb::Reply;
using smb::ShareAddress;
using smb::Writer;

// Sets the last error for a helper's errno (a server gone is a network path that cannot be reached);
// false.
bool Failed(int e, ErrnoCall call = ErrnoCall::Generic);
// Sets the last error to code; false.
bool Coded(uint32_t code);
FileTime TimeOf(int64_t ns);
int64_t MicrosecondsOf(const FileTime* time);
// The attribute word of an entry as the share keeps it; a file with none reads as Normal.
uint32_t AttributesOf(const Entry& e);
std::string Join(const std::string& inside, std::string_view name);
// The folder that holds a path inside a share ("a/b" -> "a", "b" -> ""), and its last name.
std::string ParentOf(const std::string& inside);
std::string BaseName(const std::string& inside);
using smb::RandomHiddenName;

// A place on a share with the calling thread's helper, logged in.
struct Place {
    std::shared_ptr<Helper> helper;
    ShareAddress share;
    std::string inside;

    std::string Url() const { return SmbUrl(share, inside); }
    std::string UrlOf(std::string_view name) const { return SmbUrl(share, Join(inside, name)); }

    Reply Ask(Writer& request) const { return helper->Call(request); }
    // One request on one URL (Stat, Unlink, Mkdir, Rmdir, GetDos).
    Reply On(Op op, const std::string& url) const
    {
        Writer request;
        request.U8(uint8_t(op)).Bytes(url);
        return Ask(request);
    }
    bool Stat(const std::string& url, Entry& out) const
    {
        const Reply reply = On(Op::Stat, url);
        if (reply.error != 0) return Failed(reply.error);
        auto fields = reply.Fields();
        out = fields.GetEntry();
        return true;
    }
};

// The place of a drive path, with the calling thread's helper logged in; none (and the last error set)
// for a path on no share.
std::optional<Place> PlaceOf(const std::string& drivePath);

// An open file on a share. Reads and writes go in requests of at most 1 MiB.
class SmbFile : public File {
public:
    SmbFile(Place place, uint32_t handle, Entry atOpen);
    ~SmbFile() override;

    int64_t Read(void* buffer, size_t count) override;
    int64_t Write(const void* buffer, size_t count) override;
    int64_t CopyFrom(File& source, size_t count) override;
    bool Seek(int64_t position) override;
    int64_t Size() override;
    int64_t SizeAtOpen() override { return int64_t(m_atOpen.size); }
    bool SetTimes(const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite) override;
    int NativeHandle() const override { return -1; }
    bool Close() override;
    bool Truncate(int64_t size) override;
    // A share keeps no Unix modes: a copy is readable by all, writable by its owner unless ReadOnly.
    bool Facts(SourceFacts& out) override;

    const Place& place() const { return m_place; }
    uint32_t AttributesAtOpen() const { return AttributesOf(m_atOpen); }

protected:
    Place m_place; // the file's own path
    uint32_t m_handle;
    Entry m_atOpen;
    bool m_open = true;
};

// A new file beside its destination, taking the destination's place when committed. A small one is held in
// the program and made, filled, dated and named by the helper in one request at the commit; one that
// grows past smb::kMostHeld is made under a hidden name then and streamed. Nothing made stays unless
// committed (the helper removes it should the program end before).
class SmbReplacement final : public SmbFile {
public:
    SmbReplacement(Place directory, bool destinationWasFree);
    ~SmbReplacement() override;

    int64_t Read(void* buffer, size_t count) override;
    int64_t Write(const void* buffer, size_t count) override;
    bool Seek(int64_t position) override;
    int64_t Size() override;
    bool SetTimes(const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite) override;
    bool Close() override;
    bool Truncate(int64_t size) override;
    // At the source's end a file still held in the program is made, written, closed and dated under a
    // hidden name by this thread's request, so the commit, which runs in order on one thread at a time,
    // only names it.
    int64_t CopyFrom(File& source, size_t count) override;

    // The share's own attribute word for the new file, given once it has its times (setting times by name
    // sets the attribute word too) and its name.
    void SetDosAttributes(uint32_t attributes) { m_attributes = attributes; }

    // Closes the file (the close checked), gives it the source's times and puts it in destination's place:
    // under a free name with a rename that looks first, over an old file without deleting it first.
    bool Commit(const Place& destination, const ReplaceOptions& options, bool exclusive);

private:
    // Makes the file under a hidden name and writes what was held; false (the last error set) on a failure.
    bool Make();
    bool Put(const Place& destination, const ReplaceOptions& options, bool exclusive);
    bool Stage(File& source);
    bool CommitMade(const Place& destination, const ReplaceOptions& options, bool exclusive);

    Place m_directory;
    bool m_destinationWasFree;
    bool m_made = false;
    bool m_committed = false;
    std::string m_held; // the bytes written while the file is not made
    std::optional<uint32_t> m_attributes;
    File* m_datedFrom = nullptr; // the source whose times a staged file already has
};

// Opens the file at place (a failure sets code as the last error where it is not 0).
std::unique_ptr<File> OpenAt(Place place, int flags, bool temporary, uint32_t code = 0);
// A replacement for the entry name in directory: refused (5) for a directory or a ReadOnly file, looked up
// first unless the caller's listing has just seen it (then the commit refuses them).
std::unique_ptr<File> MakeReplacement(
    const Place& directory, const std::string& linuxName, bool listedFree, bool lookFirst = true);
bool CommitTo(std::unique_ptr<File> file, const Place& destination, const ReplaceOptions& options, bool exclusive);
// A walk's handle on the directory at place, which self describes.
std::unique_ptr<DirHandle> OpenDirectoryAt(Place place, const Entry& self);

} // namespace zelo::smbfs
