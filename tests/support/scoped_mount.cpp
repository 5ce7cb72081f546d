#include "tests/support/scoped_mount.h"

#include <sys/mount.h>

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

} // namespace zelo::test
