// zelo-cli's messages: one line each on standard error as "zelo-cli: PATH: message", names escaped
// for the terminal, the engine's Japanese texts kept as the program speaks them.
#include "engine/messages.h"
#include "cli/cli.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "platform/types.h"

#include <cstdio>

namespace zelo::cli {

namespace {

int g_defaultAnswer = kIdNo;

// The length of the UTF-8 character at text[i], or 0 when the bytes there are not one.
size_t Utf8Length(const std::string& text, size_t i)
{
    const auto byte = static_cast<unsigned char>(text[i]);
    size_t length = byte < 0x80        ? 1
        : byte >= 0xC2 && byte <= 0xDF ? 2
        : byte >= 0xE0 && byte <= 0xEF ? 3
        : byte >= 0xF0 && byte <= 0xF4 ? 4
                                       : 0;
    if (length == 0 || i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    }
    const auto second = static_cast<unsigned char>(text[i + 1 < text.size() ? i + 1 : i]);
    // Overlong forms, surrogates and code points past U+10FFFF are not characters.
    if ((byte == 0xE0 && second < 0xA0) || (byte == 0xED && second > 0x9F) || (byte == 0xF0 && second < 0x90)
        || (byte == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

// A message's line breaks ("\n\r" pairs of the message boxes) as one blank, so each message is one line.
std::string OneLine(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\r') {
            while (i + 1 < text.size() && (text[i + 1] == '\n' || text[i + 1] == '\r'))
                ++i;
            if (!out.empty() && i + 1 < text.size()) out += ' ';
            continue;
        }
        out += text[i];
    }
    return out;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The access-denied texts name ReadOnly as the cause; for an entry that is not ReadOnly the cause is
// another (the directory's permissions, an immutable file), said with the program's own words for it.
std::string RealCause(const std::string& drivePath, const std::string& message)
{
    if (!StartsWith(message, "Accesee Denied !")) return message;
    if (drivePath.empty()) return message;
    const uint32_t attributes = fs().GetAttributes(drivePath);
    if (attributes != kInvalidAttributes && (attributes & kAttrReadOnly)) return message;
    return FileErrorMessage(65, kContextOverwrite);
}

} // namespace

bool Arguments::has(const char* flag) const
{
    for (const auto& f : flags) {
        if (f == flag) return true;
    }
    return false;
}

std::string EscapeName(const std::string& name)
{
    static constexpr char kDigits[] = "01234567";
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const size_t length = Utf8Length(name, i);
        const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(name[i + 1]) <= 0x9F;
        if (length > 1 && !c1) {
            out.append(name, i, length);
            i += length;
            continue;
        }
        if (length == 1 && byte >= 0x20 && byte != 0x7F) {
            if (byte == '\\') out += '\\';
            out += char(byte);
            ++i;
            continue;
        }
        // Control characters (C0, DEL, C1) and bytes that are no UTF-8: escaped one byte at a time.
        for (size_t k = 0; k < (c1 ? 2u : 1u); ++k) {
            const auto b = static_cast<unsigned char>(name[i + k]);
            const char* named = b == '\a' ? "\\a"
                : b == '\b'               ? "\\b"
                : b == '\t'               ? "\\t"
                : b == '\n'               ? "\\n"
                : b == '\v'               ? "\\v"
                : b == '\f'               ? "\\f"
                : b == '\r'               ? "\\r"
                                          : nullptr;
            if (named) {
                out += named;
            } else {
                out += '\\';
                out += kDigits[b >> 6];
                out += kDigits[(b >> 3) & 7];
                out += kDigits[b & 7];
            }
        }
        i += c1 ? 2 : 1;
    }
    return out;
}

namespace {

bool g_listRefusals = false;

// An engine message as the path it names (as typed; empty when it names none) and its one-line text.
std::pair<std::string, std::string> SplitEngineMessage(const std::string& text)
{
    static const std::string kNameSeparator = "  :   ";
    static const std::string kCannotOpen = "開けません　！";
    std::string drivePath;
    std::string message = text;
    if (const size_t at = text.find(kNameSeparator); at != std::string::npos && at > 0) {
        drivePath = text.substr(0, at);
        message = text.substr(at + kNameSeparator.size());
    } else if (EndsWith(text, kCannotOpen) && text.size() > 2 && text[1] == ':') {
        drivePath = text.substr(0, text.size() - kCannotOpen.size());
        message = kCannotOpen;
    }
    while (drivePath.size() > 3 && drivePath.back() == '\\')
        drivePath.pop_back();
    std::string path = drivePath.empty() ? CurrentOperand() : TypedPath(drivePath);
    return { std::move(path), OneLine(RealCause(drivePath, message)) };
}

} // namespace

std::string FormatEngineMessage(const std::string& text)
{
    const auto [path, message] = SplitEngineMessage(text);
    if (path.empty()) return "zelo-cli: " + EscapeName(message);
    return "zelo-cli: " + EscapeName(path) + ": " + EscapeName(message);
}

void SetListRefusals(bool list)
{
    g_listRefusals = list;
}

namespace {
const Command* g_usageCommand = nullptr;
} // namespace

void SetUsageCommand(const Command* command)
{
    g_usageCommand = command;
}

int UsageError(const std::string& text)
{
    std::fprintf(stderr,
        "zelo-cli: %s\nusage: zelo-cli [OPTION]... %s %s\nTry 'zelo-cli --help' for more information.\n",
        EscapeName(text).c_str(), g_usageCommand ? g_usageCommand->name : "COMMAND",
        g_usageCommand ? g_usageCommand->synopsis : "[ARG]...");
    return kExitUsage;
}

int Failed(const std::string& text)
{
    std::fprintf(stderr, "zelo-cli: %s\n", EscapeName(text).c_str());
    return kExitFailed;
}

int Failed(const std::string& typedPath, const std::string& text)
{
    std::fprintf(stderr, "zelo-cli: %s: %s\n", EscapeName(typedPath).c_str(), EscapeName(text).c_str());
    return kExitFailed;
}

void Verbose(const Arguments& args, const char* action, const std::string& typedPath)
{
    if (args.verbose) std::printf("%s %s\n", action, EscapeName(typedPath).c_str());
}

void PrintOutcome(bool dryRun, const std::string& line)
{
    std::printf("%s%s\n", line.c_str(), dryRun ? " (DRY RUN)" : "");
}

CliUi::CliUi(ReportTest isReport, bool printReports)
    : m_isReport(std::move(isReport))
    , m_printReports(printReports)
{
}

CliUi::~CliUi() = default;

void CliUi::SetDefaultAnswer(int answer)
{
    g_defaultAnswer = answer;
}

void CliUi::Route(const std::string& text, const std::string& caption)
{
    if (m_isReport && m_isReport(text, caption)) {
        if (m_printReports) std::printf("%s\n", EscapeName(OneLine(text)).c_str());
        return;
    }
    ++m_failures;
    std::fprintf(stderr, "%s\n", FormatEngineMessage(text).c_str());
    // --verbose: the entry the engine refused is listed among those it acted on.
    if (g_listRefusals) {
        const std::string path = SplitEngineMessage(text).first;
        if (!path.empty()) std::printf("refused %s\n", EscapeName(path).c_str());
    }
}

void CliUi::ShowPlainMessage(const std::string& text)
{
    Route(text, "");
}

int CliUi::AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags)
{
    if (!AsksYesNo(flags)) {
        Route(text, caption);
        return kIdOk;
    }
    if (g_defaultAnswer == kIdNo)
        std::fprintf(stderr, "zelo-cli: %s (answered No; --yes answers Yes)\n", EscapeName(OneLine(text)).c_str());
    return g_defaultAnswer;
}

} // namespace zelo::cli
