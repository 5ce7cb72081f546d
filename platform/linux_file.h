// LinuxFile: an open file of the Linux file system, and what a copy knows of its source. Platform code only.
#pragma once

#include "platform/fd.h"
#include "platform/filesystem.h"
#include "platform/linux_copy_data.h"

#include <sys/stat.h>

namespace zelo::linuxfs {

class LinuxFile : public File {
public:
    explicit LinuxFile(UniqueFd fd)
        : m_fd(std::move(fd))
    {
    }

    // A copy's source, with what fstat said of it when it was opened: the copy takes that mode and
    // those times, and ends at that size.
    LinuxFile(UniqueFd fd, const struct stat& atOpen)
        : m_fd(std::move(fd))
        , m_atOpen(atOpen)
        , m_haveAtOpen(true)
        , m_untouched(true)
    {
    }

    // The Linux file behind a File handed in through the interface (a wrapper hands on its inner
    // file); null for any other kind.
    static LinuxFile* of(File& file) { return dynamic_cast<LinuxFile*>(&file); }

    const struct stat* statAtOpen() const { return m_haveAtOpen ? &m_atOpen : nullptr; }

    int64_t Read(void* buffer, size_t count) override;
    int64_t Write(const void* buffer, size_t count) override;
    int64_t CopyFrom(File& source, size_t count) override;
    bool Seek(int64_t position) override;
    int64_t Size() override;
    int64_t SizeAtOpen() override { return m_haveAtOpen ? int64_t(m_atOpen.st_size) : Size(); }
    bool SetTimes(const FileTime* creation, const FileTime* lastAccess, const FileTime* lastWrite) override;
    int NativeHandle() const override { return m_fd.get(); }
    bool Flush() override;
    bool Close() override;

protected:
    // Closes the descriptor without a report (a replacement dropped uncommitted).
    void closeQuietly() { m_fd.reset(); }
    // Takes a descriptor of the same file again, after a close.
    void reopened(UniqueFd fd) { m_fd = std::move(fd); }

private:
    UniqueFd m_fd;
    struct stat m_atOpen { };
    bool m_haveAtOpen = false;
    bool m_untouched = false; // still at its start, nothing read: the position needs no call to know
    CopyExtents m_copy; // the copy into this file
};

} // namespace zelo::linuxfs
