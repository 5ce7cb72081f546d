#include "tests/support/ordinary_user.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zelo::test {

namespace {

constexpr uid_t kNobody = 65534;
// The child's exit codes when the step never ran: the ids could not be dropped, or the path of this
// index (0 the tree, then needs) cannot be reached.
constexpr int kNotDropped = 100;
constexpr int kUnreachable = 101;

// An entry that cannot be given away stays root's: the step then finds it as such.
void giveTreeTo(const std::string& root, uid_t user)
{
    [[maybe_unused]] int ignored = ::lchown(root.c_str(), user, user);
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        ignored = ::lchown(it->path().c_str(), user, user);
}

// The first directory on the way to path that others may not enter, for the reason of a skip.
std::string ClosedDirectoryOnTheWay(const std::string& path)
{
    std::filesystem::path walked = "/";
    for (const auto& part : std::filesystem::path(path).parent_path().relative_path()) {
        walked /= part;
        struct stat st { };
        if (::stat(walked.c_str(), &st) == 0 && !(st.st_mode & S_IXOTH) && st.st_uid != kNobody) return walked.string();
    }
    return path;
}

void Skip(const std::string& why)
{
    [&] { GTEST_SKIP() << why; }();
}

} // namespace

std::optional<bool> RunAsOrdinaryUser(
    const std::string& treeRoot, const std::function<bool()>& step, const std::vector<std::string>& needs)
{
    if (::geteuid() != 0) return step();
    std::vector<std::string> reached { treeRoot };
    reached.insert(reached.end(), needs.begin(), needs.end());
    giveTreeTo(treeRoot, kNobody);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0
            || ::setresuid(kNobody, kNobody, kNobody) != 0)
            ::_exit(kNotDropped);
        for (size_t i = 0; i < reached.size(); ++i)
            if (::access(reached[i].c_str(), i == 0 ? R_OK | W_OK | X_OK : X_OK) != 0) ::_exit(kUnreachable + int(i));
        ::_exit(step() ? 0 : 1);
    }
    int status = 0;
    bool waited = child > 0;
    while (waited && ::waitpid(child, &status, 0) < 0)
        waited = errno == EINTR;
    giveTreeTo(treeRoot, 0);
    const int code = waited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == 0 || code == 1) return code == 0;
    if (code >= kUnreachable && code < kUnreachable + int(reached.size())) {
        const std::string& path = reached[size_t(code - kUnreachable)];
        Skip("the user nobody cannot reach " + path + ": " + ClosedDirectoryOnTheWay(path)
            + " is closed to other users (a private TMPDIR or a checkout under /root)");
    } else {
        Skip("cannot run as the user nobody here (no child, or its ids could not be dropped)");
    }
    return std::nullopt;
}

} // namespace zelo::test
