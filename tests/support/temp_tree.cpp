#include "tests/support/temp_tree.h"

#include "platform/drives.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace zelo::test {

namespace {
std::string tempBase()
{
    const char* t = std::getenv("TMPDIR");
    return (t && *t) ? t : "/tmp";
}
} // namespace

TempTree::TempTree()
{
    std::string pattern = tempBase() + "/zelo-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    m_root = buf.data();
    setDriveMap(DriveMap::parse("C=" + m_root));
}

TempTree::~TempTree()
{
    std::error_code ec;
    // Give back write permission so a read-only directory does not block the clean-up.
    for (auto it = std::filesystem::recursive_directory_iterator(m_root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink()) ::chmod(it->path().c_str(), 0700);
    }
    std::filesystem::remove_all(m_root, ec);
    setDriveMap(DriveMap::load());
}

std::string TempTree::linux(const std::string& relative) const
{
    return relative.empty() ? m_root : m_root + "/" + relative;
}

std::string TempTree::drive(const std::string& relative) const
{
    std::string out = "C:\\";
    for (char c : relative)
        out += (c == '/') ? '\\' : c;
    return out;
}

void TempTree::mkdir(const std::string& relative) const
{
    std::filesystem::create_directories(linux(relative));
}

void TempTree::write(const std::string& relative, const std::string& content) const
{
    auto p = std::filesystem::path(linux(relative));
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

void TempTree::writeSized(const std::string& relative, uint64_t size) const
{
    auto p = std::filesystem::path(linux(relative));
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    std::string block(65536, '\0');
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = char('a' + (i * 7 + i / 251) % 26);
    uint64_t left = size;
    while (left > 0) {
        size_t n = left < block.size() ? size_t(left) : block.size();
        out.write(block.data(), std::streamsize(n));
        left -= n;
    }
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

std::string TempTree::read(const std::string& relative) const
{
    std::ifstream in(linux(relative), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool TempTree::exists(const std::string& relative) const
{
    struct stat st;
    return ::lstat(linux(relative).c_str(), &st) == 0;
}

void TempTree::setTime(const std::string& relative, int64_t unixSeconds) const
{
    struct timespec ts[2];
    ts[0].tv_sec = ts[1].tv_sec = unixSeconds;
    ts[0].tv_nsec = ts[1].tv_nsec = 0;
    if (::utimensat(AT_FDCWD, linux(relative).c_str(), ts, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("utimensat failed");
}

void TempTree::symlink(const std::string& target, const std::string& relativeLink) const
{
    if (::symlink(target.c_str(), linux(relativeLink).c_str()) != 0) throw std::runtime_error("symlink failed");
}

void TempTree::fifo(const std::string& relative) const
{
    if (::mkfifo(linux(relative).c_str(), 0644) != 0) throw std::runtime_error("mkfifo failed");
}

void TempTree::standard(const std::string& relative) const
{
    mkdir(relative + "/sub");
    write(relative + "/file.txt", "file");
    write(relative + "/sub/inner.txt", "inner");
    symlink("file.txt", relative + "/link");
    write(relative + "/.hidden", "hidden");
    write(relative + "/readonly.txt", "readonly");
    setReadOnly(relative + "/readonly.txt", true);
}

void TempTree::sparse(const std::string& relative, uint64_t size) const
{
    const int fd = ::open(linux(relative).c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    const bool sized = fd >= 0 && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    if (fd >= 0) ::close(fd);
    if (!sized) throw std::runtime_error("sparse file failed");
}

void TempTree::mapDrives(const std::string& entries, bool withC, const std::string& cOptions) const
{
    std::string spec = withC ? "C=" + m_root + cOptions : std::string();
    size_t start = 0;
    while (start < entries.size()) {
        size_t end = entries.find(';', start);
        if (end == std::string::npos) end = entries.size();
        const std::string entry = entries.substr(start, end - start);
        const size_t eq = entry.find('=');
        const size_t comma = entry.find(',', eq);
        const std::string name = entry.substr(eq + 1, comma == std::string::npos ? std::string::npos : comma - eq - 1);
        if (!spec.empty()) spec += ';';
        spec += entry.substr(0, eq + 1) + linux(name) + (comma == std::string::npos ? "" : entry.substr(comma));
        start = end + 1;
    }
    setDriveMap(DriveMap::parse(spec));
}

void TempTree::setReadOnly(const std::string& relative, bool readOnly) const
{
    struct stat st;
    std::string p = linux(relative);
    if (::stat(p.c_str(), &st) != 0) throw std::runtime_error("stat failed");
    mode_t mode = st.st_mode & 07777;
    mode = readOnly ? (mode & ~mode_t(0222)) : (mode | S_IWUSR);
    ::chmod(p.c_str(), mode);
}

void TempTree::setDosAttrib(const std::string& relative, uint32_t attributes) const
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", attributes);
    const std::string p = linux(relative);
    if (::lsetxattr(p.c_str(), "user.DOSATTRIB", text, std::strlen(text), 0) == 0) return;
    // An ordinary user writes user attributes only with write permission: lend it for the write.
    struct stat st { };
    if ((errno == EACCES || errno == EPERM) && ::lstat(p.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)
        && ::chmod(p.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0) {
        const int written = ::lsetxattr(p.c_str(), "user.DOSATTRIB", text, std::strlen(text), 0);
        ::chmod(p.c_str(), st.st_mode & 07777);
        if (written == 0) return;
    }
    throw std::runtime_error("lsetxattr failed (file system without user xattrs?)");
}

} // namespace zelo::test
