// zelo-cli's shared parts: the parsed command line, the paths as typed and as drive paths, the
// messages on standard error and the exit statuses.
#pragma once

#include "platform/ui_services.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zelo::cli {

// Exit statuses: everything done; something failed or was left undone (each failure on standard
// error); the command line was wrong and nothing was done.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct Arguments {
    std::vector<std::string> operands;
    std::vector<std::string> flags; // long names of the options given ("keep-root")
    std::optional<std::string> set; // --set=VALUE of attrib and label
    std::optional<std::string> maxDelete; // --max-delete=N of mirror
    std::optional<std::string> backupDir; // --backup-dir=DIR of mirror
    std::optional<std::string> mask; // --mask=PATTERN of save-list
    std::optional<std::string> user; // --user=NAME of net-connect
    bool verbose = false;
    bool progress = false;
    bool has(const char* flag) const;
};

struct Command {
    const char* name;
    const char* synopsis; // operands and options after the name
    const char* summary; // one line of what it does
    int (*run)(const Arguments&);
    std::vector<std::string> flags; // the command's own options (long names)
    size_t minOperands;
    size_t maxOperands; // SIZE_MAX: no limit
};

const std::vector<Command>& Commands();

// "zelo-cli: TEXT" on standard error, escaped for the terminal; the first returns kExitUsage (with the
// usage of the command being run, or the program's, and a pointer to --help), the second kExitFailed.
int UsageError(const std::string& text);
void SetUsageCommand(const Command* command);
int Failed(const std::string& text);
// "zelo-cli: PATH: TEXT" for a path as typed.
int Failed(const std::string& typedPath, const std::string& text);

// A Linux path as a drive path, resolved as the kernel resolves it (a path no drive holds gets a drive
// of its own). The typed text is remembered, so messages about it and about what lies below it name
// the path as it was typed. why receives the reason of a failure.
std::optional<std::string> ToDrivePath(const std::string& typed, std::string* why = nullptr);
// Remembers how a directory was typed (drivePath without its separator), so messages about what lies in
// it name it that way, as ToDrivePath does for its operands.
void NoteTypedPath(const std::string& drivePath, const std::string& typed);
// An existing directory as a drive path with its separator; why: "does not exist" or "not a directory".
std::optional<std::string> ExistingDirectory(const std::string& typed, std::string* why = nullptr);
// An existing entry of any kind; why: "does not exist".
std::optional<std::string> ExistingEntry(const std::string& typed, std::string* why = nullptr);
// A drive path as the user would type it: below a typed operand through that operand, else as the
// Linux path it stands for.
std::string TypedPath(const std::string& drivePath);
// The operand the engine is working on, named in its messages that name no file.
void SetCurrentOperand(const std::string& typed);
const std::string& CurrentOperand();
// "C:\a\b" -> directory "C:\a\" and name "b".
std::pair<std::string, std::string> SplitDrivePath(const std::string& drivePath);

// What the engine says, as the command line says it. Failures go one a line to standard error as
// "zelo-cli: PATH: message" and are counted; a command's success reports are printed on standard
// output when the command prints them (printReports), else dropped. Questions get the default answer
// (No, or Yes with --yes); a question answered No is said on standard error.
class CliUi : public ForwardingUiServices {
public:
    using ReportTest = std::function<bool(const std::string& text, const std::string& caption)>;
    CliUi(ReportTest isReport, bool printReports);
    ~CliUi() override;
    CliUi(const CliUi&) = delete;
    CliUi& operator=(const CliUi&) = delete;

    void ShowPlainMessage(const std::string& text) override;
    int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags) override;

    int Failures() const { return m_failures; }
    static void SetDefaultAnswer(int answer);

private:
    void Route(const std::string& text, const std::string& caption);
    ReportTest m_isReport;
    bool m_printReports;
    int m_failures = 0;
    ScopedUiServices m_installed { *this };
};

// One line of an engine message: "NAME  :   MESSAGE" and other forms made "zelo-cli: PATH: MESSAGE".
std::string FormatEngineMessage(const std::string& text);
// A name for the terminal: control characters and bytes that are not UTF-8 as octal escapes, "\" as
// "\\", so every printed name reads back unambiguously.
std::string EscapeName(const std::string& name);

// --verbose: each failure the engine reports about an entry is also listed as "refused PATH".
void SetListRefusals(bool list);
// --verbose lines: "ACTION PATH" on standard output.
void Verbose(const Arguments& args, const char* action, const std::string& typedPath);
// Every line a command prints about what it did or would do (entries and counts): a dry run marks each
// line " (DRY RUN)", as rsync marks its summary, so no line of it reads as a change that was made.
void PrintOutcome(bool dryRun, const std::string& line);

} // namespace zelo::cli
