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

// A file system in an image file beside a directory, made and mounted through FUSE on it for the
// scope's lifetime. Needs root, /dev/fuse and the file system's tools: tests skip when mounted() is false
// (see ZELO_REQUIRE_MOUNTED).
class ScopedImageMount {
public:
    ~ScopedImageMount();
    ScopedImageMount(const ScopedImageMount&) = delete;
    ScopedImageMount& operator=(const ScopedImageMount&) = delete;

    bool mounted() const { return m_mounted; }

protected:
    // mkfs and mount are shell commands; in them IMAGE stands for the image, DEVICE for a loop device over
    // it (made only when mount names it) and DIR for the directory.
    ScopedImageMount(const std::string& linuxDirectory, const std::string& mkfs, const std::string& mount);

private:
    std::string m_directory;
    std::string m_loop;
    bool m_mounted = false;
};

// exFAT through exfat-fuse: a file system whose listing gives no inode numbers and whose names ignore case.
class ScopedExfatMount : public ScopedImageMount {
public:
    explicit ScopedExfatMount(const std::string& linuxDirectory);
};

// FAT16 through fusefat: names ignore case, times in 2-second steps, no links.
class ScopedFatMount : public ScopedImageMount {
public:
    explicit ScopedFatMount(const std::string& linuxDirectory);
};

// Whether a file system that cannot be mounted fails a test instead of skipping it: in CI as root with
// FUSE, where a missing package must not pass as a skip.
bool MountsRequired();

} // namespace zelo::test

// Skips the test when the mount is not there, or fails it where mounts are required.
#define ZELO_REQUIRE_MOUNTED(mount, what)                                                                              \
    do {                                                                                                               \
        if (!(mount).mounted()) {                                                                                      \
            if (::zelo::test::MountsRequired()) FAIL() << "cannot mount " << (what);                                   \
            GTEST_SKIP() << "mounting " << (what) << " needs root, /dev/fuse and its tools";                           \
        }                                                                                                              \
    } while (0)
