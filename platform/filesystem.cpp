// The file system every layer uses, and its replacement by tests: nothing here is Linux's own.
#include "platform/filesystem.h"

namespace zelo {

namespace {
FileSystem* g_installed = nullptr;
} // namespace

FileSystem& fs()
{
    return g_installed ? *g_installed : linuxFileSystem();
}

ScopedFileSystem::ScopedFileSystem(FileSystem& replacement)
    : m_previous(g_installed)
{
    g_installed = &replacement;
}

ScopedFileSystem::~ScopedFileSystem()
{
    g_installed = m_previous;
}

} // namespace zelo
