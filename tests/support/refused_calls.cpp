#include "tests/support/refused_calls.h"

#include "platform/errors.h"

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zelo::test {

namespace {

#if defined(__x86_64__)
constexpr unsigned kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kArch = AUDIT_ARCH_AARCH64;
#else
constexpr unsigned kArch = 0;
#endif

constexpr int kNoFilter = 2;

bool installFilter(const std::vector<long>& calls, int error)
{
    std::vector<sock_filter> program;
    program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    const sock_filter refuse = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (unsigned(error) & SECCOMP_RET_DATA));
    for (long call : calls) {
        if (call == kUnnamedFileCall) {
            // openat with the O_TMPFILE bits in its flags (the low word of its third argument); the number
            // is loaded again for the calls after it.
            program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(SYS_openat), 0, 4));
            program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])));
            program.push_back(BPF_STMT(BPF_ALU | BPF_AND | BPF_K, unsigned(__O_TMPFILE)));
            program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(__O_TMPFILE), 0, 1));
            program.push_back(refuse);
            program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
            continue;
        }
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(call), 0, 1));
        program.push_back(refuse);
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    sock_fprog filter { static_cast<unsigned short>(program.size()), program.data() };
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
        && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0;
}

} // namespace

std::vector<long> MetadataCalls()
{
    return {
#ifdef SYS_chmod
        SYS_chmod,
        SYS_chown,
        SYS_lchown,
#endif
        SYS_fchmod,
        SYS_fchmodat,
        SYS_fchown,
        SYS_fchownat,
        SYS_setxattr,
        SYS_lsetxattr,
        SYS_fsetxattr,
    };
}

std::optional<bool> RunWithRefusedCalls(const std::vector<long>& calls, int error, const std::function<bool()>& step)
{
    if (kArch == 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) ::_exit(!installFilter(calls, error) ? kNoFilter : step() ? 0 : 1);
    int status = 0;
    bool waited = child > 0;
    while (waited && ::waitpid(child, &status, 0) < 0)
        waited = errno == EINTR;
    if (!waited || !WIFEXITED(status) || WEXITSTATUS(status) == kNoFilter) return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

std::optional<bool> RunInThreadWithRefusedCalls(
    const std::vector<long>& calls, int error, const std::function<bool()>& step)
{
    if (kArch == 0) return std::nullopt;
    std::optional<bool> result;
    uint32_t lastError = GetLastError();
    // A filter installed without SECCOMP_FILTER_FLAG_TSYNC binds only the thread that installs it.
    std::thread([&] {
        if (!installFilter(calls, error)) return;
        result = step();
        lastError = GetLastError();
    }).join();
    SetLastError(lastError);
    return result;
}

} // namespace zelo::test
