// A tmpfs mounted on a directory of a test tree for the scope's lifetime, to stand for another drive
// mounted inside a tree. Mounting needs privileges: tests skip when mounted() is false.
#pragma once

#include <string>

namespace zelo::test {

class ScopedTmpfsMount {
public:
    explicit ScopedTmpfsMount(const std::string& linuxDirectory);
    ~ScopedTmpfsMount();
    ScopedTmpfsMount(const ScopedTmpfsMount&) = delete;
    ScopedTmpfsMount& operator=(const ScopedTmpfsMount&) = delete;

    bool mounted() const { return m_mounted; }

private:
    std::string m_directory;
    bool m_mounted = false;
};

// A bind mount of one directory onto another for the scope's lifetime (the same file system seen twice).
// Mounting needs privileges: tests skip when mounted() is false.
class ScopedBindMount {
public:
    ScopedBindMount(const std::string& linuxSource, const std::string& linuxTarget);
    ~ScopedBindMount();
    ScopedBindMount(const ScopedBindMount&) = delete;
    ScopedBindMount& operator=(const ScopedBindMount&) = delete;

    bool mounted() const { return m_mounted; }

private:
    std::string m_target;
    bool m_mounted = false;
};

// An exFAT file system through FUSE (a file system whose listing gives no inode numbers and whose names
// ignore case) mounted on a directory for the scope's lifetime, from an image file beside it. Needs root,
// /dev/fuse, a loop device, mkfs.exfat and mount.exfat-fuse: tests skip when mounted() is false.
class ScopedExfatMount {
public:
    explicit ScopedExfatMount(const std::string& linuxDirectory);
    ~ScopedExfatMount();
    ScopedExfatMount(const ScopedExfatMount&) = delete;
    ScopedExfatMount& operator=(const ScopedExfatMount&) = delete;

    bool mounted() const { return m_mounted; }

private:
    std::string m_directory;
    std::string m_loop;
    bool m_mounted = false;
};

} // namespace zelo::test
