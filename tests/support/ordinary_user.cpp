#include "tests/support/ordinary_user.h"

#include <cerrno>
#include <filesystem>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zelo::test {

namespace {

constexpr uid_t kNobody = 65534;
constexpr int kNotDropped = 2;

// An entry that cannot be given away stays root's: the step then finds it as such.
void giveTreeTo(const std::string& root, uid_t user)
{
    [[maybe_unused]] int ignored = ::lchown(root.c_str(), user, user);
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        ignored = ::lchown(it->path().c_str(), user, user);
}

} // namespace

std::optional<bool> RunAsOrdinaryUser(const std::string& treeRoot, const std::function<bool()>& step)
{
    if (::geteuid() != 0) return step();
    giveTreeTo(treeRoot, kNobody);
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setresgid(kNobody, kNobody, kNobody) == 0
            && ::setresuid(kNobody, kNobody, kNobody) == 0
            && ::access(treeRoot.c_str(), R_OK | W_OK | X_OK) == 0; // a parent the user cannot pass
        ::_exit(!dropped ? kNotDropped : step() ? 0 : 1);
    }
    int status = 0;
    bool waited = child > 0;
    while (waited && ::waitpid(child, &status, 0) < 0)
        waited = errno == EINTR;
    giveTreeTo(treeRoot, 0);
    if (!waited || !WIFEXITED(status) || WEXITSTATUS(status) == kNotDropped) return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

} // namespace zelo::test
