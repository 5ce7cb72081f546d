#include "tests/support/scoped_mount.h"

#include <cstdio>
#include <cstdlib>
#include <sys/mount.h>
#include <unistd.h>
#include <utility>

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

// Each stand-in of a command replaced by its value, quoted.
std::string Filled(std::string command, const std::string& image, const std::string& device, const std::string& dir)
{
    for (const auto& [key, value] :
        { std::pair<std::string, std::string> { "IMAGE", image }, { "DEVICE", device }, { "DIR", dir } }) {
        for (size_t at = command.find(key); at != std::string::npos; at = command.find(key, at + value.size() + 2))
            command.replace(at, key.size(), "'" + value + "'");
    }
    return command + " >/dev/null 2>&1";
}

ScopedImageMount::ScopedImageMount(const std::string& linuxDirectory, const std::string& mkfs, const std::string& mount)
    : m_directory(linuxDirectory)
{
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) return;
    const std::string image = m_directory + ".img";
    if (std::system(Filled("truncate -s 32M IMAGE && " + mkfs, image, "", m_directory).c_str()) != 0) return;
    if (mount.find("DEVICE") != std::string::npos) {
        m_loop = FirstLineOf("losetup -f --show '" + image + "' 2>/dev/null");
        if (m_loop.empty()) return;
    }
    m_mounted = std::system(Filled(mount, image, m_loop, m_directory).c_str()) == 0;
}

ScopedImageMount::~ScopedImageMount()
{
    if (m_mounted) ::umount2(m_directory.c_str(), 0);
    if (!m_loop.empty()) {
        // A loop device that will not go is left to the system; nothing else depends on it.
        const int detached = std::system(("losetup -d '" + m_loop + "' >/dev/null 2>&1").c_str());
        (void)detached;
    }
    ::unlink((m_directory + ".img").c_str());
}

ScopedExfatMount::ScopedExfatMount(const std::string& linuxDirectory)
    : ScopedImageMount(linuxDirectory, "mkfs.exfat IMAGE", "mount.exfat-fuse DEVICE DIR")
{
}

ScopedFatMount::ScopedFatMount(const std::string& linuxDirectory)
    : ScopedImageMount(linuxDirectory, "mkfs.vfat IMAGE", "fusefat -o rw+ IMAGE DIR")
{
}

bool MountsRequired()
{
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true" && ::geteuid() == 0 && ::access("/dev/fuse", R_OK | W_OK) == 0;
}

} // namespace zelo::test
