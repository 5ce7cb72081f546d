// The desktop shell and the network: opening files, mounting and unmounting shares.
// External commands run through CommandRunner so tests can replace them.
#pragma once

#include <string>
#include <vector>

namespace zelo {

class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // Runs argv and waits; returns the exit code (-1 when it could not start). output gets stdout.
    virtual int Run(const std::vector<std::string>& argv, std::string* output = nullptr) = 0;
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

// Connects a share (smb://host/share or what the mount tool understands) as a remote drive letter.
bool ConnectNetworkDrive(const std::string& share, char letter);
// Disconnects a remote drive ("X:"), without forcing when files are open. False on failure.
bool DisconnectNetworkDrive(const std::string& localName);

} // namespace zelo
