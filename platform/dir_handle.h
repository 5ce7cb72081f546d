// An open directory of a tree walk: its entries are listed, opened, deleted and changed relative to it,
// never by reopening a path from its text, so a directory swapped for a link mid-walk is never followed
// and a tree has no depth limit. Drive paths stay what messages show; the handle only needs its names.
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zelo {

class File;
struct ReplaceOptions;

// Which directory a handle holds (device and inode), to check a directory reached again by "..".
struct DirIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    friend bool operator==(const DirIdentity&, const DirIdentity&) = default;
};

// How much the listing reads per entry.
enum class ListDetail {
    Full, // attributes (ReadOnly, Directory, ReparsePoint, Hidden of a dot name), size, times, mount points
    KindOnly, // name, Directory and ReparsePoint only, without a stat per entry (ReadOnly is not known)
};

// Why a subdirectory could not be entered (OpenChild).
enum class ChildOpen {
    Opened,
    MountPoint, // another file system is mounted there: a walk does not go into it
    Changed, // no longer the directory the listing reported (swapped for a link or another directory)
    Failed, // the open itself failed (access denied, gone): the last error says why
};

class DirHandle {
public:
    virtual ~DirHandle() = default;

    // The next entry, without "." and "..", its name in drive form (a "\" in it as its stand-in, see
    // drive_path.h); every call taking a name or an entry maps it back to the exact Linux bytes.
    // False at the end (last error 0) or when reading fails (last error set).
    virtual bool Next(FindData& out) = 0;
    // Starts the listing again from the first entry.
    virtual bool Rewind() = 0;
    // The entry of exactly this name, as a full listing reports it; false with the last error set.
    virtual bool Lookup(const std::string& name, FindData& out) = 0;

    // Opens a subdirectory this handle listed (entry as Next gave it), never following a link and never
    // into another mounted file system; status says why it returned null.
    virtual std::unique_ptr<DirHandle> OpenChild(const FindData& entry, ChildOpen& status) = 0;
    // Opens the directory that holds this one, only if it is still expected (null, last error 3, when not);
    // an expected inode of 0 takes whatever holds it.
    virtual std::unique_ptr<DirHandle> OpenParent(const DirIdentity& expected) = 0;
    virtual DirIdentity Identity() const = 0;

    // Deletes a file, link or special file listed here. allowReadOnly false refuses a ReadOnly entry
    // with 5 (for root as well); a deletion never changes the entry's mode, which would outlive it
    // in another hard link.
    virtual bool DeleteEntry(const FindData& entry, bool allowReadOnly) = 0;
    // Removes an empty subdirectory listed here. allowReadOnly false refuses a ReadOnly one with 5;
    // the process's current directory is refused with 16. With a fileId, only that very directory (3).
    virtual bool RemoveSubdirectory(const FindData& entry, bool allowReadOnly) = 0;

    // Creates an empty subdirectory (default permissions); an existing name fails with 183.
    virtual bool CreateSubdirectory(const std::string& name) = 0;
    // Makes a symbolic link of the listed link entry's name in destination, with the same target text and
    // times, in place of a file or link of that name there (never of a directory). The target is never
    // looked at.
    virtual bool CopyLinkTo(const FindData& entry, DirHandle& destination) = 0;
    // A listed file opened for reading a copy: never a link's target, never a FIFO, socket or device (1920).
    virtual std::unique_ptr<File> OpenForCopy(const FindData& entry) = 0;
    // A new file that is to take the place of name here, as FileSystem::CreateReplacement, and its commit.
    // listedFree: a listing of this directory just found no entry of that name, so it is not looked at
    // again now (the commit still never replaces what appears there meanwhile without the usual checks).
    virtual std::unique_ptr<File> CreateReplacement(const std::string& name, bool listedFree = false) = 0;
    virtual bool CommitReplacement(std::unique_ptr<File> file, const std::string& name, const ReplaceOptions& options)
        = 0;
    // Makes a copied source (opened through OpenForCopy) Archive only: ReadOnly, Hidden and System go, as
    // SetAttributes(path, Archive) does. A failure (a CD) is of no consequence and not reported.
    virtual void MarkArchiveOnly(const FindData& entry, File& opened) = 0;

    // Moves an entry listed here (a directory with everything below it) into target under the same name:
    // one rename within a file system, never replacing what target holds (183), and only while the name
    // is still the entry listed. Keeps what a backup deletes as an earlier version.
    virtual bool MoveEntryTo(const FindData& entry, DirHandle& target)
    {
        (void)entry;
        (void)target;
        return Unsupported();
    }
    // Gives a file listed here a second name in target (a hard link), so that the file survives its
    // replacement here; fails where the file system has no hard links.
    virtual bool LinkEntryTo(const FindData& entry, DirHandle& target)
    {
        (void)entry;
        (void)target;
        return Unsupported();
    }

    // The Linux descriptor, for platform code only (-1 where there is none).
    virtual int NativeHandle() const { return -1; }

    // Whether this directory is ReadOnly (no owner write bit), and lending/taking back that bit so that
    // an ordinary user can remove entries in it. Lend returns false when there was nothing to lend.
    virtual bool IsReadOnly() = 0;
    virtual bool LendWrite() = 0;
    virtual void TakeBackWrite() = 0;
    // True when this is the Linux root directory itself (emptying it is refused).
    virtual bool IsSystemRoot() = 0;

protected:
    // Fails with "not supported" (50).
    static bool Unsupported();
};

} // namespace zelo
