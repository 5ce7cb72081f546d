// The desktop shell and the network: opening files, mounting and unmounting shares.
// External commands run through CommandRunner so tests can replace them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zelo {

// The answer to a question a command asks on its standard output (the unfinished last line it wrote,
// such as "Password: "): the line to type, or nullopt to end its input.
using PromptAnswer = std::function<std::optional<std::string>(const std::string& prompt)>;

class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // Runs argv and waits; returns the exit code (-1 when it could not start). output gets stdout.
    // Commands run with their messages in English (LC_ALL=C.UTF-8), so their questions and errors read
    // the same whatever the desktop's language.
    virtual int Run(const std::vector<std::string>& argv, std::string* output = nullptr) = 0;
    // As Run, with its standard error in errors as well.
    virtual int RunCapturing(const std::vector<std::string>& argv, std::string* output, std::string* errors)
    {
        if (errors) errors->clear();
        return Run(argv, output);
    }
    // Runs argv and waits, answering each question it asks; by default it gets no input, as with Run.
    virtual int RunAnswering(const std::vector<std::string>& argv, const PromptAnswer& answer)
    {
        (void)answer;
        return Run(argv);
    }
    // Starts argv detached; false when it could not start.
    virtual bool StartDetached(const std::vector<std::string>& argv) = 0;
};

CommandRunner& commandRunner();
// Installs a runner (a test's) for the scope's lifetime and then puts back the one in use, so scopes nest.
class ScopedCommandRunner {
public:
    explicit ScopedCommandRunner(CommandRunner& runner);
    ~ScopedCommandRunner();
    ScopedCommandRunner(const ScopedCommandRunner&) = delete;
    ScopedCommandRunner& operator=(const ScopedCommandRunner&) = delete;

private:
    CommandRunner* m_previous;
};

// Opens a file with its associated program (gio open, else xdg-open), detached; the outcome is not reported.
void ShellOpen(const std::string& drivePath);

// The login of a connection: the user (empty: the mount tool's default), the password, asked for
// only when the share wants one (nullopt: none can be given), and the domain (empty: the default).
struct ShareLogin {
    std::string user;
    std::function<std::optional<std::string>()> password;
    std::string domain;
};

// Connects a share (smb://host/share or what the mount tool understands) as a remote drive letter.
// Without a login the share is opened with what the mount tool knows, or as a guest; a share that
// refuses a guest fails with err::LogonFailure, so the caller can ask for a login. With a login the
// mount tool's questions are answered from it (a password it refuses: err::LogonFailure), and the login
// is held for the session (share_logins.h) for the direct client of the same share.
bool ConnectNetworkDrive(const std::string& share, char letter, const ShareLogin* login = nullptr);
// Whether a Linux directory lies on a network share by the mount table (an smb or nfs mount, GVfs's
// folder of shares), whatever drive letters the map gives.
bool IsOnNetworkShare(const std::string& linuxPath);
// Disconnects a remote drive ("X:"), without forcing when files are open. False on failure.
bool DisconnectNetworkDrive(const std::string& localName);

} // namespace zelo
