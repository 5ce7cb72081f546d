// Helper processes of the direct SMB client: started through posix_spawn on a socket pair whose ends are
// close-on-exec, so no other child (or other helper) holds a helper's socket and keeps it alive.
#include "platform/smb_client.h"

#include "platform/share_logins.h"
#include "platform/smb/smb_frames.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#ifndef ZELO_SMB_HELPER_INSTALLED
#define ZELO_SMB_HELPER_INSTALLED "/usr/libexec/zelo/zelo-smb-helper"
#endif
#ifndef ZELO_SMB_HELPER_FROM_BIN
#define ZELO_SMB_HELPER_FROM_BIN "../libexec/zelo/zelo-smb-helper"
#endif

namespace zelo::smb {

namespace {

bool Executable(const std::string& path)
{
    return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::string HelperProgram()
{
    if (const char* chosen = std::getenv("ZELO_SMB_HELPER"); chosen && *chosen) return chosen;
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        const std::string folder
            = std::string(self, size_t(n)).substr(0, std::string_view(self, size_t(n)).rfind('/') + 1);
        // Beside it in the build tree; in libexec/zelo beside bin/ where it is installed.
        for (const std::string& candidate : { folder + "zelo-smb-helper", folder + ZELO_SMB_HELPER_FROM_BIN })
            if (Executable(candidate)) return candidate;
    }
    return Executable(ZELO_SMB_HELPER_INSTALLED) ? ZELO_SMB_HELPER_INSTALLED : std::string();
}

Helper::Helper(int socket, pid_t pid)
    : m_socket(socket)
    , m_pid(pid)
{
}

std::shared_ptr<Helper> Helper::Start()
{
    static const std::string program = HelperProgram();
    if (program.empty()) return nullptr;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    char* argv[] = { const_cast<char*>(program.c_str()), nullptr };
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (spawned != 0) {
        ::close(ends[0]);
        return nullptr;
    }
    return std::shared_ptr<Helper>(new Helper(ends[0], pid));
}

Helper::~Helper()
{
    ::close(m_socket);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
}

Reply Helper::Call(Writer& request)
{
    Reply reply;
    std::lock_guard lock(m_mutex);
    if (!m_broken && SendFrame(m_socket, request) && ReceiveFrame(m_socket, reply.body) && reply.body.size() >= 4) {
        Reader fields(reply.body);
        reply.error = int(fields.U32());
        return reply;
    }
    // A helper that ended (or answered nonsense) serves no more requests: its files are gone with it, as
    // they would be with a lost connection.
    m_broken = true;
    reply.body.clear();
    reply.error = ENOTCONN;
    return reply;
}

void Helper::EnsureLogin(const ShareAddress& share)
{
    const auto login = ShareCredentialsFor(share.ServerWithPort(), share.share);
    std::string known;
    if (login) known = login->user + '\n' + login->domain + '\n' + login->password;
    const std::string key = share.ServerWithPort() + "/" + share.share;
    {
        std::lock_guard lock(m_mutex);
        auto found = m_logins.find(key);
        if (found != m_logins.end() && found->second == known) return;
        m_logins[key] = known;
    }
    Writer request;
    request.U8(uint8_t(Op::Login)).Bytes(share.server).Bytes(share.share);
    request.Bytes(login ? login->user : "").Bytes(login ? login->domain : "").Bytes(login ? login->password : "");
    Call(request);
}

std::shared_ptr<Helper> ThisThreadHelper()
{
    // Dropped when the thread ends: a copy thread's helper ends with the run.
    thread_local std::shared_ptr<Helper> helper;
    thread_local bool failed = false;
    // One that died (killed, crashed) is replaced for what comes next; nothing is retried inside a file,
    // whose requests keep going to the dead one.
    if (helper && helper->Broken()) helper.reset();
    if (!helper && !failed) {
        helper = Helper::Start();
        failed = !helper;
    }
    return helper;
}

} // namespace zelo::smb
