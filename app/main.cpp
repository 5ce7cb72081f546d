// zelo32: creates the application and its windows and runs the event loop.
#include "platform/drives.h"
#include "platform/text.h"
#include "ui/application.h"

#include <QMessageBox>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr const char* kNoDisplay
    = "zelo32: ディスプレイが見つかりません。X または Wayland のデスクトップから起動してください。\n"
      "zelo32: no display found: start it from an X or Wayland desktop (DISPLAY or WAYLAND_DISPLAY).\n";

bool g_starting = true;
QtMessageHandler g_qtHandler = nullptr;

// While the application starts, a platform plugin that finds no display ends the program with the
// program's own words instead of Qt's abort; the plugins' warnings about it are left out.
void StartupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (g_starting && type == QtFatalMsg) {
        std::fputs(kNoDisplay, stderr);
        std::_Exit(1);
    }
    if (g_starting && context.category && std::strncmp(context.category, "qt.qpa", 6) == 0) return;
    if (g_qtHandler) g_qtHandler(type, context, text);
}

bool Set(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

int main(int argc, char* argv[])
{
    // Answered before the application starts, so it needs no display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("zelo32 %s\n", ZELO_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: zelo32 [DIRECTORY]...\n       zelo32 --version\n"
                    "Opens Zelo's window, at the first DIRECTORY given that is a folder (a Linux path, a drive path\n"
                    "such as D:\\photos, or a file:// address).\n");
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // A mistyped drive map would otherwise put C: on "/" and every command on the machine's root.
    const auto bad = zelo::MalformedDriveEntryInEnvironment();
    if (bad)
        std::fprintf(stderr, "zelo32: ZELO_DRIVES: not a drive entry: '%s'\n", zelo::EscapeForTerminal(*bad).c_str());
    if (!Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
        if (bad) return 2;
        std::fputs(kNoDisplay, stderr);
        return 1;
    }
    g_qtHandler = qInstallMessageHandler(StartupMessages);
    zelo::ZeloApplication app(argc, argv);
    g_starting = false;

    if (bad) {
        const std::string text = "ZELO_DRIVES の指定が正しくありません: '" + *bad
            + "'\n(LETTER=/DIRECTORY[,TYPE][,label=TEXT] を \";\" で区切ります)";
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Zelo"), QString::fromStdString(text), QMessageBox::Ok);
        box.exec();
        return 2;
    }
    // The folders to open at (after Qt took its own arguments): Linux paths, drive paths or file://
    // addresses, as a desktop's "Open with" hands them over; "--" lets one begin with "-". The first
    // that is a folder is opened and the rest pass unmentioned, as other file managers take them.
    std::vector<std::string> operands;
    bool dashes = false;
    for (int i = 1; i < argc; ++i) {
        if (!dashes && std::strcmp(argv[i], "--") == 0) {
            dashes = true;
        } else if (!dashes && argv[i][0] == '-') {
            std::fprintf(stderr, "usage: zelo32 [DIRECTORY]... | zelo32 --help | zelo32 --version\n");
            return 2;
        } else {
            operands.emplace_back(argv[i]);
        }
    }
    std::optional<std::string> start;
    std::string shown;
    for (const std::string& given : operands) {
        std::string why;
        start = zelo::StartDirectory(given, &why);
        shown = zelo::EscapeForTerminal(given);
        if (start) break;
        std::fprintf(stderr, "zelo32: %s: %s\n", shown.c_str(), why.c_str());
    }
    try {
        auto windows = zelo::CreateWindows();
        if (start && !zelo::OpenAtDirectory(*start))
            std::fprintf(stderr, "zelo32: %s: the panes could not reach it\n", shown.c_str());
        zelo::ZeloApplication::exec();
    } catch (const std::exception& e) {
        zelo::ShowExceptionMessage(e.what());
    } catch (...) {
        // Whatever escapes start-up is shown the same way, and the program still ends with 0.
        zelo::ShowExceptionMessage("Unknown exception");
    }
    return 0;
}
