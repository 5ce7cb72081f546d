// A temporary directory mapped as drive letters, with helpers that make the files tests need.
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <string>

namespace zelo::test {

class TempTree {
public:
    // Creates a fresh directory under $TMPDIR (or /tmp) and maps drive C: to it
    // (the drive map is replaced for the fixture's lifetime and reloaded afterwards).
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // Linux path of the fixture's root and of a relative path below it ("a/b.txt").
    const std::string& root() const { return m_root; }
    std::string linux(const std::string& relative) const;
    // Drive path of a relative path ("a/b.txt" -> "C:\a\b.txt"); "" gives "C:\".
    std::string drive(const std::string& relative) const;

    // Makes directories along the way.
    void mkdir(const std::string& relative) const;
    void write(const std::string& relative, const std::string& content) const;
    // A file of size bytes with a repeating pattern.
    void writeSized(const std::string& relative, uint64_t size) const;
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const; // lstat: a dangling link exists
    // Sets last write (and access) time in Unix seconds.
    void setTime(const std::string& relative, int64_t unixSeconds) const;
    void symlink(const std::string& target, const std::string& relativeLink) const;
    void fifo(const std::string& relative) const;
    // The standard small tree below relative, in one call: file.txt, sub/inner.txt, a link "link" to
    // file.txt, a hidden .hidden and a ReadOnly readonly.txt.
    void standard(const std::string& relative) const;
    // A file of an exact size that is one hole (no disk space used).
    void sparse(const std::string& relative, uint64_t size) const;
    // Maps drives onto directories of the fixture: "LETTER=name[,options];..." with names relative to
    // its root ("D=d,cdrom,label=MYCD"); C: is the root itself (with cOptions) unless withC is false.
    // A missing directory is a drive without a medium.
    void mapDrives(const std::string& entries, bool withC = true, const std::string& cOptions = "") const;
    // Clears (readOnly) or restores the owner's write bit.
    void setReadOnly(const std::string& relative, bool readOnly) const;
    // Writes user.DOSATTRIB in the text form ("0x22").
    void setDosAttrib(const std::string& relative, uint32_t attributes) const;

private:
    std::string m_root;
};

} // namespace zelo::test
