// The program's side of the direct SMB client: helper processes (zelo-smb-helper), each holding one
// libsmbclient connection, spoken to over a socket. Each thread that reaches a share has a helper of its
// own (libsmbclient is not safe from several threads of one process): the walk's thread keeps its helper
// while the program runs, a copy thread's ends with the thread. No helper outlives the program: it ends
// when its socket closes, which a killed program's socket does too.
#pragma once

#include "platform/smb/smb_protocol.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>

namespace zelo::smb {

// A share as an address names it: "127.0.0.1", 4450 (0: the default port), "zshare".
struct ShareAddress {
    std::string server;
    uint16_t port = 0;
    std::string share;
    // "server" or "server:port", as logins are kept (share_logins.h).
    std::string ServerWithPort() const { return port ? server + ":" + std::to_string(port) : server; }
    friend bool operator==(const ShareAddress&, const ShareAddress&) = default;
};

// A reply: error 0 (then its fields follow) or the errno of the failure.
struct Reply {
    int error = 0;
    std::string body;
    Reader Fields() const { return Reader(std::string_view(body).substr(4)); }
};

class Helper {
public:
    // Starts a helper; null when there is none to start (not installed) or it cannot be started.
    static std::shared_ptr<Helper> Start();
    // Closes the socket (the helper then ends) and waits for it.
    ~Helper();
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    // One request and its reply; a helper that is gone answers ENOTCONN (a share that cannot be reached),
    // and every later request too: what it had open went with it.
    Reply Call(Writer& request);
    // The helper ended or answered nonsense: its thread's next file gets a new one.
    bool Broken() const { return m_broken.load(); }
    // Hands the helper the login typed for the share this session (a guest where none was), once.
    void EnsureLogin(const ShareAddress& share);
    pid_t Pid() const { return m_pid; }

private:
    Helper(int socket, pid_t pid);
    std::mutex m_mutex;
    int m_socket;
    pid_t m_pid;
    std::atomic<bool> m_broken { false };
    std::map<std::string, std::string> m_logins; // share -> the login last handed over (memory only)
};

// The helper of the calling thread, started on first use and again after the last one ended (files open
// in the old one keep failing); null when none can be started.
std::shared_ptr<Helper> ThisThreadHelper();
// Where the helper program is: $ZELO_SMB_HELPER, else beside the running program (the build tree), else in
// libexec/zelo relative to the running program's folder (installed), else the configured installed one.
std::string HelperProgram();

} // namespace zelo::smb
