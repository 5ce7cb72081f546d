// The desktop shell and network shares: external commands (gio, xdg-open) run through CommandRunner.
#include "platform/fd.h"
#include "platform/shell.h"

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/linux_path.h"
#include "platform/mount_table.h"
#include "platform/share_logins.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zelo {

namespace {

class Pipe {
public:
    Pipe()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        m_read.reset(fds[0]);
        m_write.reset(fds[1]);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool ok() const { return m_read.valid(); }
    int readEnd() const { return m_read.get(); }
    int writeEnd() const { return m_write.get(); }
    void closeRead() { m_read.reset(); }
    void closeWrite() { m_write.reset(); }

private:
    UniqueFd m_read;
    UniqueFd m_write;
};

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&m_actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&m_actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
};

class SpawnAttributes {
public:
    SpawnAttributes() { posix_spawnattr_init(&m_attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&m_attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* get() { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes;
};

std::vector<char*> argvPointers(const std::vector<std::string>& argv)
{
    std::vector<char*> pointers;
    for (const std::string& arg : argv)
        pointers.push_back(const_cast<char*>(arg.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

int waitForExit(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The environment of a command whose output is read: this one's, with messages in English.
class EnglishEnvironment {
public:
    EnglishEnvironment()
    {
        for (char** entry = environ; *entry; ++entry)
            if (const std::string_view e(*entry); !e.starts_with("LC_ALL=") && !e.starts_with("LANGUAGE="))
                m_pointers.push_back(*entry);
        m_pointers.push_back(const_cast<char*>("LC_ALL=C.UTF-8"));
        m_pointers.push_back(nullptr);
    }
    char** get() { return m_pointers.data(); }

private:
    std::vector<char*> m_pointers;
};

// Reads both pipes to their ends (a null target is skipped), together, so neither can fill while the
// other is read.
void ReadBoth(int outFd, std::string* output, int errFd, std::string* errors)
{
    std::string* into[2] = { output, errors };
    pollfd fds[2] = { { output ? outFd : -1, POLLIN, 0 }, { errors ? errFd : -1, POLLIN, 0 } };
    for (std::string* text : into)
        if (text) text->clear();
    char buffer[4096];
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t count = ::read(fds[i].fd, buffer, sizeof buffer);
            if (count > 0)
                into[i]->append(buffer, size_t(count));
            else if (count == 0 || errno != EINTR)
                fds[i].fd = -1;
        }
    }
}

class ProcessRunner : public CommandRunner {
public:
    int Run(const std::vector<std::string>& argv, std::string* output) override
    {
        return RunCapturing(argv, output, nullptr);
    }

    int RunCapturing(const std::vector<std::string>& argv, std::string* output, std::string* errors) override
    {
        if (argv.empty()) return -1;
        Pipe out;
        Pipe err;
        if (!out.ok() || !err.ok()) return -1;
        SpawnActions actions;
        posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (output)
            posix_spawn_file_actions_adddup2(actions.get(), out.writeEnd(), STDOUT_FILENO);
        else
            posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (errors) posix_spawn_file_actions_adddup2(actions.get(), err.writeEnd(), STDERR_FILENO);
        pid_t pid = 0;
        auto pointers = argvPointers(argv);
        EnglishEnvironment environment;
        if (posix_spawnp(&pid, argv[0].c_str(), actions.get(), nullptr, pointers.data(), environment.get()) != 0)
            return -1;
        out.closeWrite();
        err.closeWrite();
        ReadBoth(out.readEnd(), output, err.readEnd(), errors);
        return waitForExit(pid);
    }

    int RunAnswering(const std::vector<std::string>& argv, const PromptAnswer& answer) override
    {
        if (argv.empty()) return -1;
        // Its input is a socket, so an answer to a command that already ended fails without SIGPIPE.
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return -1;
        UniqueFd input(ends[0]);
        UniqueFd theirs(ends[1]);
        Pipe pipe;
        if (!pipe.ok()) return -1;
        SpawnActions actions;
        posix_spawn_file_actions_adddup2(actions.get(), theirs.get(), STDIN_FILENO);
        posix_spawn_file_actions_adddup2(actions.get(), pipe.writeEnd(), STDOUT_FILENO);
        pid_t pid = 0;
        auto pointers = argvPointers(argv);
        EnglishEnvironment environment;
        if (posix_spawnp(&pid, argv[0].c_str(), actions.get(), nullptr, pointers.data(), environment.get()) != 0)
            return -1;
        theirs.reset();
        pipe.closeWrite();
        // A question is the unfinished last line, ending in ": ", after which the command waits.
        std::string line;
        char buffer[4096];
        while (true) {
            const ssize_t count = ::read(pipe.readEnd(), buffer, sizeof buffer);
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) break;
            line.append(buffer, size_t(count));
            if (const size_t end = line.rfind('\n'); end != std::string::npos) line.erase(0, end + 1);
            if (!input.valid() || line.size() < 2 || line.compare(line.size() - 2, 2, ": ") != 0) continue;
            std::optional<std::string> reply = answer(line);
            line.clear();
            if (!reply) {
                input.reset();
                continue;
            }
            reply->push_back('\n');
            for (size_t sent = 0; sent < reply->size();) {
                const ssize_t put = ::send(input.get(), reply->data() + sent, reply->size() - sent, MSG_NOSIGNAL);
                if (put < 0 && errno == EINTR) continue;
                if (put <= 0) break;
                sent += size_t(put);
            }
            std::fill(reply->begin(), reply->end(), '\0'); // a password lives no longer than needed
        }
        input.reset();
        return waitForExit(pid);
    }

    bool StartDetached(const std::vector<std::string>& argv) override
    {
        if (argv.empty()) return false;
        SpawnActions actions;
        posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        SpawnAttributes attributes;
        // Its own session: the opened program outlives this one and its terminal.
        posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSID);
        pid_t pid = 0;
        auto pointers = argvPointers(argv);
        if (posix_spawnp(&pid, argv[0].c_str(), actions.get(), attributes.get(), pointers.data(), environ) != 0)
            return false;
        // Reaped on the side, so no zombie is left whatever it does.
        try {
            std::thread([pid]() { waitForExit(pid); }).detach();
        } catch (const std::system_error&) {
        }
        return true;
    }
};

ProcessRunner& processRunner()
{
    static ProcessRunner runner;
    return runner;
}

CommandRunner* g_runner = nullptr;

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool isDirectory(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// "\\host\share" as typed by a user becomes the address the mount tool understands.
std::string shareAddress(const std::string& share)
{
    if (startsWith(share, "\\\\")) {
        std::string address = "smb://" + share.substr(2);
        for (char& c : address)
            if (c == '\\') c = '/';
        return address;
    }
    return share;
}

struct ShareParts {
    std::string scheme;
    std::string host;
    std::string path; // without leading "/"
    std::string port; // as typed, empty when none
};

std::optional<ShareParts> splitAddress(const std::string& address)
{
    const auto schemeEnd = address.find("://");
    if (schemeEnd == std::string::npos) return std::nullopt;
    ShareParts parts;
    parts.scheme = address.substr(0, schemeEnd);
    std::string rest = address.substr(schemeEnd + 3);
    const auto slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    parts.path = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    while (!parts.path.empty() && parts.path.back() == '/')
        parts.path.pop_back();
    const auto at = authority.rfind('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);
    if (!authority.empty() && authority[0] != '[') {
        const auto colon = authority.find(':');
        if (colon != std::string::npos) parts.port = authority.substr(colon + 1);
        authority = authority.substr(0, colon);
    }
    parts.host = authority;
    if (parts.host.empty()) return std::nullopt;
    return parts;
}

// The universal name of a share address: "smb://host/share/dir" -> "\\host\share\dir".
std::string universalNameOf(const std::string& address)
{
    const auto parts = splitAddress(address);
    if (!parts) return {};
    std::string name = "\\\\" + parts->host;
    if (!parts->path.empty()) {
        std::string path = parts->path;
        for (char& c : path)
            if (c == '/') c = '\\';
        name += "\\" + path;
    }
    return name;
}

// Where GVfs shows a mounted share: "local path:" of `gio info`, else the FUSE directory GVfs
// names after an smb share.
std::string mountDirectoryOf(const std::string& address)
{
    std::string info;
    if (commandRunner().Run({ "gio", "info", address }, &info) == 0) {
        std::istringstream lines(info);
        std::string line;
        while (std::getline(lines, line)) {
            const std::string key = "local path: ";
            if (startsWith(line, key) && line.size() > key.size() && line[key.size()] == '/')
                return line.substr(key.size());
        }
    }
    const auto parts = splitAddress(address);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (parts && parts->scheme == "smb" && runtime && *runtime) {
        const std::string share = parts->path.substr(0, parts->path.find('/'));
        // A port given in the address comes first in the name ("smb-share:port=N,server=...").
        for (const std::string& port : { parts->port, std::string() }) {
            const std::string directory = std::string(runtime) + "/gvfs/smb-share:"
                + (port.empty() ? "" : "port=" + port + ",") + "server=" + parts->host + ",share=" + share;
            if (!share.empty() && isDirectory(directory)) return directory;
        }
    }
    return {};
}

// The mount tool asks for the user, the domain and the password, and asks again from the user on when
// it refused them: the login is given once, and a second round means it was refused. password gets what
// was typed. False when the login was refused.
bool MountWithLogin(const std::string& address, const ShareLogin& login, std::optional<std::string>& password)
{
    int users = 0;
    int passwords = 0;
    bool refused = false;
    commandRunner().RunAnswering(
        { "gio", "mount", address }, [&](const std::string& prompt) -> std::optional<std::string> {
            if ((startsWith(prompt, "User") && ++users > 1) || (startsWith(prompt, "Password") && ++passwords > 1))
                refused = true;
            if (refused) return std::nullopt;
            if (startsWith(prompt, "User")) return login.user;
            if (startsWith(prompt, "Domain")) return login.domain;
            if (startsWith(prompt, "Password") && login.password) {
                if (!password) password = login.password();
                return password;
            }
            return std::nullopt;
        });
    return !refused;
}

// Without a login nothing is asked: a share the mount tool cannot open with what it knows (the keyring)
// is tried once more as a guest, as shares open to everyone expect. False when the share refused the
// guest (it wants a login).
bool MountWithoutLogin(const std::string& address)
{
    if (commandRunner().Run({ "gio", "mount", address }) == 0) return true;
    std::string errors;
    if (commandRunner().RunCapturing({ "gio", "mount", "-a", address }, nullptr, &errors) == 0) return true;
    return errors.find("Anonymous access denied") == std::string::npos;
}

} // namespace

CommandRunner& commandRunner()
{
    return g_runner ? *g_runner : processRunner();
}

ScopedCommandRunner::ScopedCommandRunner(CommandRunner& runner)
    : m_previous(g_runner)
{
    g_runner = &runner;
}

ScopedCommandRunner::~ScopedCommandRunner()
{
    g_runner = m_previous;
}

void ShellOpen(const std::string& drivePath)
{
    const auto linuxPath = driveMap().toLinux(drivePath);
    if (!linuxPath) return;
    if (!commandRunner().StartDetached({ "gio", "open", *linuxPath }))
        commandRunner().StartDetached({ "xdg-open", *linuxPath });
}

bool ConnectNetworkDrive(const std::string& share, char letter, const ShareLogin* login)
{
    if (letter >= 'a' && letter <= 'z') letter = char(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z' || driveMap().find(letter)) {
        SetLastError(err::AlreadyAssigned);
        return false;
    }
    const std::string address = shareAddress(share);
    if (address.empty()) {
        SetLastError(err::BadNetName);
        return false;
    }
    // A share mounted earlier makes the mount tool fail, yet it is there to be used: the
    // directory lookup decides.
    bool loginRefused = false;
    std::optional<std::string> password;
    if (login)
        loginRefused = !MountWithLogin(address, *login, password);
    else
        loginRefused = !MountWithoutLogin(address);
    const std::string directory = mountDirectoryOf(address);
    if (directory.empty()) {
        if (password) WipeSecret(*password);
        SetLastError(loginRefused ? err::LogonFailure : err::BadNetName);
        return false;
    }
    if (password) {
        if (const auto parts = splitAddress(address)) {
            const std::string server = parts->host + (parts->port.empty() ? "" : ":" + parts->port);
            RememberShareCredentials(server, parts->path.substr(0, parts->path.find('/')),
                ShareCredentials { login->user, login->domain, *password });
        }
        WipeSecret(*password);
    }
    Drive drive { letter, directory, kDriveRemote, std::nullopt, universalNameOf(address) };
    if (drive.unc.empty()) {
        const auto slash = directory.rfind('/');
        drive.unc = uncFromGvfsName(directory.substr(slash + 1));
    }
    driveMap().add(std::move(drive));
    SetLastError(err::Success);
    return true;
}

bool IsOnNetworkShare(const std::string& linuxPath)
{
    const auto mount = mountHolding(linuxPath);
    if (!mount) return false;
    const auto type = classifyMount(*mount, [](const std::string&) { return false; });
    return type && *type == kDriveRemote;
}

bool DisconnectNetworkDrive(const std::string& localName)
{
    const Drive* drive = localName.empty() ? nullptr : driveMap().find(localName[0]);
    if (!drive || drive->type != kDriveRemote) {
        SetLastError(err::NotConnected);
        return false;
    }
    // No force: a share with open files stays connected.
    if (commandRunner().Run({ "gio", "mount", "-u", drive->directory }) != 0) {
        SetLastError(err::OpenFiles);
        return false;
    }
    // The login typed for it is not kept past its connection.
    if (const auto share = GvfsShareOf(std::string(linuxfs::BaseName(drive->directory))))
        ForgetShareCredentials(share->server + (share->port.empty() ? "" : ":" + share->port), share->share);
    const char letter = drive->letter;
    DriveMap remaining;
    for (const Drive& other : driveMap().drives())
        if (other.letter != letter) remaining.add(other);
    setDriveMap(std::move(remaining));
    SetLastError(err::Success);
    return true;
}

} // namespace zelo
