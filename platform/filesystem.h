// The file system as the program sees it: drive paths in, the system's semantics out.
// Every path here is a drive path ("C:\dir\name"); the Linux implementation maps it
// through the drive map at each call. Every failing call sets the last error (errors.h).
#pragma once

#include "platform/dir_handle.h"
#include "platform/types.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelo {

// An open directory search. Destroying it closes the search.
class DirSearch {
public:
    virtual ~DirSearch() = default;
    // Next matching entry; false (last error 18 "no more files" is not used: the code is left 0) at the end.
    virtual bool Next(FindData& out) = 0;
};

// What a commit takes from a copy's source: its permission bits and exact times (since 1970).
struct SourceFacts {
    uint32_t mode = 0;
    int64_t accessSeconds = 0;
    int64_t accessNanoseconds = 0;
    int64_t writeSeconds = 0;
    int64_t writeNanoseconds = 0;
};

// An open file. Destroying it closes the handle.
class File {
public:
    virtual ~File() = default;
    // Bytes read (0 at the end of the file), or -1 with the last error set.
    virtual int64_t Read(void* buffer, size_t count) = 0;
    // Bytes written (all of them unless the call fails), or -1 with the last error set.
    virtual int64_t Write(const void* buffer, size_t count) = 0;
    // Moves up to count bytes from source's current position to this file's current
    // position, in the kernel where it can. Bytes moved (0 at the source's end), or -1.
    // A hole of a sparse source stays a hole and is passed in one call up to 1 GiB, beyond count.
    virtual int64_t CopyFrom(File& source, size_t count) = 0;
    virtual bool Seek(int64_t position) = 0;
    // Size in bytes, or -1.
    virtual int64_t Size() = 0;
    // The size the file had when it was opened (what a copy must reach), or its size now where that was
    // not taken.
    virtual int64_t SizeAtOpen() { return Size(); }
    // Sets last access and last write (a null pointer leaves that time alone).
    // The creation time cannot be set on Linux and is ignored.
    virtual bool SetTimes(const FileTime* creation, const FileTime* lastAccess, const FileTime* lastWrite) = 0;
    // The Linux descriptor, for platform code only.
    virtual int NativeHandle() const = 0;
    // Flushes the file's data to its medium (fdatasync), so that a rename that follows cannot
    // outlive the bytes after a power loss.
    virtual bool Flush() { return true; }
    // Closes the handle now and reports a failing close (a network file system may report a
    // lost write only here). Destroying a File closes it without a report.
    virtual bool Close() { return true; }
    // Cuts or extends the file to size (ftruncate of NativeHandle()).
    virtual bool Truncate(int64_t size);
    // The facts a copy of this file takes: as they were when it was opened for a copy, else fstat of
    // NativeHandle(). A file without a descriptor (a share reached directly) gives its own.
    virtual bool Facts(SourceFacts& out);
};

// What a finished file takes over before it replaces its destination (CommitReplacement). Permission bits are always
// those of the model & 0777: setuid, setgid and sticky never travel. A file that is replaced hands on its owner and
// group (where the process may set them) and its extended attributes other than user.DOSATTRIB.
struct ReplaceOptions {
    // Drive path whose permission bits the file gets; empty keeps the temporary file's 0600.
    std::string permissionsFrom;
    // Adds the owner's write bit (a copy of a read-only file is writable).
    bool addOwnerWrite = false;
    // Also copies user.DOSATTRIB of permissionsFrom (an in-place rewrite keeps Hidden/System/Archive).
    bool keepDosAttributes = false;
    // An open file (a copy's source) whose permission bits and exact times the file takes, read from
    // its descriptor; it takes the place of permissionsFrom.
    File* source = nullptr;
    // Flushes the data to the medium before the rename. A tree operation that syncs its destination
    // file system once at its end turns this off.
    bool flush = true;
};

enum class OpenMode {
    Read, // existing file, read only
    ReadWrite, // existing file, read and write
    CreateAlways, // create or truncate, read and write
    CreateNew, // create exclusively, fails with 80 when the name exists
    OpenAlways, // open or create, read and write, no truncation
};

class RewriteTarget;

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Directory search over a pattern whose last component may hold "*" and "?" ("*.*" is every name).
    // attrMask selects, besides ordinary files, the entries that have Hidden, System, Directory or
    // VolumeLabel set (an entry with one of those bits is returned only when the mask has that bit);
    // kAttrMaskAll returns everything. "." and ".." are reported for directories other than a drive root.
    // Names containing "\" are left out. Returns null with the last error set when nothing matches
    // (2) or the directory cannot be read.
    virtual std::unique_ptr<DirSearch> FindFirst(const std::string& pattern, uint32_t attrMask, FindData& first) = 0;
    // Opens a directory for a tree walk (dirWithSep ends with "\"); everything below it is then reached
    // through the handle. The directory itself is taken through a symbolic link only with followLink (a
    // directory the user chose to copy from or into) or when it is a drive's own directory, which the
    // drive map names as it is. The listing reads what the walks need - Directory,
    // ReparsePoint, ReadOnly, size, times - but no extended attribute: Hidden is only that of a dot name,
    // files report Archive. Null with the last error set.
    virtual std::unique_ptr<DirHandle> OpenTreeDirectory(
        const std::string& dirWithSep, ListDetail detail, bool followLink = false)
        = 0;

    // Attribute word of a path (the link itself for a symbolic link), or kInvalidAttributes.
    virtual uint32_t GetAttributes(const std::string& path) = 0;
    // Sets ReadOnly (permissions) and Hidden/System/Archive (user.DOSATTRIB).
    virtual bool SetAttributes(const std::string& path, uint32_t attributes) = 0;

    // Opens a file. Opening a ReadOnly file for writing fails with 5, even for root; so does opening
    // a directory. A FIFO, socket or device is never opened (it could block or have side effects):
    // the call fails with err::CannotAccessFile (1920).
    virtual std::unique_ptr<File> Open(const std::string& path, OpenMode mode) = 0;
    // A new file in destination's directory that takes destination's place only through
    // CommitReplacement. It has no name where the file system allows (O_TMPFILE), so nothing is left
    // even when the process is killed; elsewhere it is a hidden temporary file that dropping the File
    // removes. Only a regular file, a symbolic link (replaced itself, never followed) or a free name
    // is ever replaced: a FIFO, socket or device fails with 1920, a directory or a ReadOnly file with 5.
    virtual std::unique_ptr<File> CreateReplacement(const std::string& destination) = 0;
    // Puts a file from CreateReplacement in destination's place: gives it what options name, flushes
    // it (options.flush), closes it with the close checked and renames it over destination in one
    // step. On any failure the file is gone and destination is as it was. Other hard links of a
    // replaced file keep its old bytes: the new file takes the name, the old one is never written into.
    virtual bool CommitReplacement(
        std::unique_ptr<File> file, const std::string& destination, const ReplaceOptions& options)
        = 0;

    // Deletes a file or a symbolic link (never what it points to). ReadOnly fails with 5.
    virtual bool DeleteFile(const std::string& path) = 0;
    // Renames or moves; never replaces an existing target (183). Same entry or a case change succeeds.
    virtual bool MoveFile(const std::string& from, const std::string& to) = 0;
    // Copies bytes (holes kept), times, permission bits (& 0777) and user.DOSATTRIB into a replacement
    // file (CreateReplacement) that takes the target's name when complete: with failIfExists only a
    // free name (an existing one fails with 80), else in one step over the old file.
    virtual bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) = 0;
    virtual bool CreateDirectory(const std::string& path) = 0;
    // Removes an empty directory. ReadOnly fails with 5; not empty 145; the current directory 16;
    // a file 267. A symbolic link to a directory is removed as the link.
    virtual bool RemoveDirectory(const std::string& path) = 0;
    virtual bool SetCurrentDirectory(const std::string& path) = 0;
    virtual std::string GetCurrentDirectory() = 0;
    // Sets the times of the entry itself (a symbolic link is not followed); a null pointer or a zero
    // time leaves that time alone.
    virtual bool SetFileTimes(
        const std::string& path, const FileTime* creation, const FileTime* lastAccess, const FileTime* lastWrite)
        = 0;
    // Flushes the file system that holds path (once at the end of a tree copy).
    virtual bool SyncFileSystem(const std::string& path) = 0;

    // Opens a file once for a rewrite of its contents; null with the last error set.
    virtual std::unique_ptr<RewriteTarget> OpenForRewrite(const std::string& path) = 0;
};

// A file opened once for a rewrite of its contents (the text conversions). A symbolic link is followed
// to its target, which is opened once; every later step works on that open file and on the directory
// that held it then, never on a name looked up again, so a name swapped meanwhile is never read or
// written through.
class RewriteTarget {
public:
    struct Facts {
        uint64_t size = 0; // when it was opened
        uint64_t links = 1; // its names (hard links)
        bool readOnly = false; // the owner's write permission is absent
        // 0 when the open file may be written; else why not (5, 19, 32...). ReadOnly counts here too.
        uint32_t writeError = 0;
    };
    virtual ~RewriteTarget() = default;
    virtual const Facts& Info() const = 0;
    // The open file at its start. A rewrite in place writes through it.
    virtual File& Content() = 0;
    // A new file in the directory that held the target (the replacement of CreateReplacement); 5 when
    // that directory may not be written.
    virtual std::unique_ptr<File> CreateReplacement() = 0;
    // Gives file the target's permission bits and user.DOSATTRIB and puts it in the target's place
    // (CommitReplacement), provided the name still holds the file that was opened (else 32). On any
    // failure the file is gone and the target as it was.
    virtual bool CommitReplacement(std::unique_ptr<File> file) = 0;

    // Before the text is written back into the file itself, a copy of its original bytes is kept where a
    // person finds it after a crash: a new file, unnamed until KeepCopy, beside the target or, where that
    // folder may not be written, in the user's state folder ($XDG_STATE_HOME/zelo, by default
    // ~/.local/state/zelo). Null with the last error set.
    virtual std::unique_ptr<File> CreateKeptCopy() = 0;
    // Names the filled copy durably (its data and its directory flushed) under a free name that tells whose
    // copy it is: ".NAME.zelo-original" beside the file, the file's path with "/" as "%2F" in the state
    // folder. The copy stays open for reading. False with the last error set; nothing is then left.
    virtual bool KeepCopy(File& copy) = 0;
    // Where the named copy is: a drive path, or its Linux path where no drive holds it.
    virtual std::string KeptCopyPath() const = 0;
    // Removes the named copy, once the write-back is durable.
    virtual bool DropKeptCopy() = 0;
};

// Makes a file opened for a copy Archive only (ReadOnly, Hidden and System go) through its descriptor, so the
// file copied is the one re-tagged even when its name has changed since. Failures are of no consequence.
void MarkArchiveOnly(File& opened);
// Moves up to count bytes (at most 1 MiB a call) from source's position to target's through a buffer:
// CopyFrom where a side has no Linux descriptor. Bytes moved, 0 at the source's end, or -1.
int64_t CopyThroughBuffer(File& source, File& target, size_t count);

// The file system every layer uses. Tests may replace it (ScopedFileSystem).
FileSystem& fs();
// The Linux implementation.
FileSystem& linuxFileSystem();

// Installs a replacement (for example a fault-injecting wrapper) for the scope's lifetime.
class ScopedFileSystem {
public:
    explicit ScopedFileSystem(FileSystem& replacement);
    ~ScopedFileSystem();
    ScopedFileSystem(const ScopedFileSystem&) = delete;
    ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

private:
    FileSystem* m_previous;
};

// Wildcard match of one name against one pattern: "*" any run, "?" one character;
// "*.*" matches every name. ASCII letters compare without regard to case, as on the system modelled.
bool MatchWildcard(const std::string& pattern, const std::string& name);

} // namespace zelo
