#include "tests/support/scoped_mount.h"

#include <cstdio>
#include <cstdlib>
#include <sys/mount.h>
#include <unistd.h>

namespace zelo::test {

ScopedTmpfsMount::ScopedTmpfsMount(const std::string& linuxDirectory)
    : m_directory(linuxDirectory)
{
    m_mounted = ::mount("zelo-test", m_directory.c_str(), "tmpfs", 0, "size=4m") == 0;
}

ScopedTmpfsMount::~ScopedTmpfsMount()
{
    if (m_mounted) ::umount2(m_directory.c_str(), MNT_DETACH);
}

ScopedBindMount::ScopedBindMount(const std::string& linuxSource, const std::string& linuxTarget)
    : m_target(linuxTarget)
{
    m_mounted = ::mount(linuxSource.c_str(), m_target.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

ScopedBindMount::~ScopedBindMount()
{
    if (m_mounted) ::umount2(m_target.c_str(), MNT_DETACH);
}

namespace {

// The first line a command prints, or empty when it fails.
std::string FirstLineOf(const std::string& command)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {};
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    const int status = ::pclose(pipe);
    if (!read || status != 0) return {};
    std::string out(line);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

} // namespace

ScopedExfatMount::ScopedExfatMount(const std::string& linuxDirectory)
    : m_directory(linuxDirectory)
{
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) return;
    const std::string image = m_directory + ".img";
    const std::string quiet = " >/dev/null 2>&1";
    if (std::system(("truncate -s 32M '" + image + "' && mkfs.exfat '" + image + "'" + quiet).c_str()) != 0) return;
    m_loop = FirstLineOf("losetup -f --show '" + image + "' 2>/dev/null");
    if (m_loop.empty()) return;
    m_mounted = std::system(("mount.exfat-fuse '" + m_loop + "' '" + m_directory + "'" + quiet).c_str()) == 0;
}

ScopedExfatMount::~ScopedExfatMount()
{
    if (m_mounted) ::umount2(m_directory.c_str(), 0);
    if (!m_loop.empty()) {
        // A loop device that will not go is left to the system; nothing else depends on it.
        const int detached = std::system(("losetup -d '" + m_loop + "' >/dev/null 2>&1").c_str());
        (void)detached;
    }
    ::unlink((m_directory + ".img").c_str());
}

} // namespace zelo::test
