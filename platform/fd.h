// RAII owners of Linux descriptors and directory streams, for platform code only.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <utility>

namespace zelo {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd)
    {
    }
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

class UniqueDir {
public:
    UniqueDir() = default;
    explicit UniqueDir(DIR* dir)
        : m_dir(dir)
    {
    }
    ~UniqueDir() { reset(); }
    UniqueDir(UniqueDir&& other) noexcept
        : m_dir(std::exchange(other.m_dir, nullptr))
    {
    }
    UniqueDir& operator=(UniqueDir&& other) noexcept
    {
        if (this != &other) reset(std::exchange(other.m_dir, nullptr));
        return *this;
    }
    UniqueDir(const UniqueDir&) = delete;
    UniqueDir& operator=(const UniqueDir&) = delete;

    DIR* get() const { return m_dir; }
    void reset(DIR* dir = nullptr)
    {
        if (m_dir) ::closedir(m_dir);
        m_dir = dir;
    }

private:
    DIR* m_dir = nullptr;
};

} // namespace zelo
