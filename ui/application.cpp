// The application and the window set: created once in their order, kept until the end.
#include "ui/application.h"

#include "model/path_tree.h"
#include "model/state.h"
#include "platform/drives.h"
#include "platform/ui_services.h"
#include "ui/detail_window.h"
#include "ui/dir_attributes_dialog.h"
#include "ui/drive_combo_box.h"
#include "ui/file_info_dialog.h"
#include "ui/folder_info_dialog.h"
#include "ui/fonts.h"
#include "ui/help_window.h"
#include "ui/input_dialog.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/operation_dialog.h"
#include "ui/progress_window.h"
#include "ui/qt_ui_services.h"
#include "ui/rename_dialog.h"
#include "ui/result_window.h"

#include <QLibraryInfo>
#include <QMessageBox>
#include <QProxyStyle>
#include <QTranslator>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace zelo {

TForm1* Form1 = nullptr;
TForm7* Form7 = nullptr;
TForm5* Form5 = nullptr;
TForm3* Form3 = nullptr;
TForm4* Form4 = nullptr;
THelp* Help = nullptr;
TForm8* Form8 = nullptr;
TForm6* Form6 = nullptr;
TForm2* Form2 = nullptr;
TForm9* Form9 = nullptr;

Windows::Windows()
{
    m_form1 = std::make_unique<TForm1>();
    Form1 = m_form1.get();
    Form7 = new TForm7(Form1); // owned by the main window from here on
    Form6 = new TForm6(Form1);
    Form5 = new TForm5(Form1);
    Form3 = new TForm3(Form1, Form1);
    Form2 = new TForm2(Form6, Form1);
    Form4 = new TForm4(Form1, Form1);
    Help = new THelp(Form1);
    Ren = new TRen(Form1);
    Form8 = new TForm8(Form1, Form1);
    Form9 = new TForm9(Form1);
    Form1->SetDialogs(Form3, Help);
    Form1->SetInfoDialogs(Form4, Form5, Form8);
    Form1->SetRenameDialog(Ren);
    Form1->SetOperationDialog(Form2);
    Form6->SetDetailWindow(Form9);
    m_services = std::make_unique<QtUiServices>(*Form7);
    m_installed.emplace(*m_services);
}

Windows::~Windows()
{
    m_installed.reset();
    Form1 = nullptr;
    Form7 = nullptr;
    Form5 = nullptr;
    Form3 = nullptr;
    Form4 = nullptr;
    Help = nullptr;
    Form8 = nullptr;
    Ren = nullptr;
    Form6 = nullptr;
    Form2 = nullptr;
    Form9 = nullptr;
    m_form1.reset();
    m_services.reset();
}

std::unique_ptr<Windows> CreateWindows()
{
    auto windows = std::make_unique<Windows>();
    Form1->show();
    return windows;
}

std::optional<std::string> LocalPathOfUri(const std::string& uri, std::string* why)
{
    const auto fail = [why](const char* reason) -> std::optional<std::string> {
        *why = reason;
        return std::nullopt;
    };
    const size_t colon = uri.find(':');
    std::string scheme = uri.substr(0, colon);
    for (char& c : scheme)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (colon == std::string::npos || scheme != "file") return fail("not a local folder (only file:// addresses open)");
    std::string_view rest = std::string_view(uri).substr(colon + 1);
    if (rest.substr(0, 2) == "//") {
        // The authority: empty, "localhost" or this computer's name; any other host's folder is not here.
        rest.remove_prefix(2);
        const size_t slash = rest.find('/');
        const std::string host(rest.substr(0, slash));
        char own[256] = {};
        ::gethostname(own, sizeof own - 1);
        if (!host.empty() && host != "localhost" && host != own) return fail("a folder on another computer");
        rest = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
    }
    if (rest.empty() || rest.front() != '/') return fail("not a valid file:// address");
    // Percent escapes stand for bytes: names that are not UTF-8 come back exactly.
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        const auto hex = [](char c) {
            return c >= '0' && c <= '9' ? c - '0'
                : c >= 'a' && c <= 'f'  ? c - 'a' + 10
                : c >= 'A' && c <= 'F'  ? c - 'A' + 10
                                        : -1;
        };
        const int high = i + 2 < rest.size() ? hex(rest[i + 1]) : -1;
        const int low = i + 2 < rest.size() ? hex(rest[i + 2]) : -1;
        if (high < 0 || low < 0) return fail("not a valid file:// address");
        const char byte = char(high * 16 + low);
        if (byte == '\0') return fail("not a valid file:// address");
        path += byte;
        i += 2;
    }
    return path;
}

std::optional<std::string> StartDirectory(const std::string& given, std::string* why)
{
    // A file:// address (what a desktop hands over with "Open with") is the Linux path it names; a drive
    // path ("D:\a", "d:") is first taken to the Linux directory it stands for.
    const size_t colon = given.find(':');
    const bool schemed = colon >= 2 && colon != std::string::npos && std::isalpha(static_cast<unsigned char>(given[0]))
        && given.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.") == colon;
    const bool uri = schemed && (given.compare(colon, 3, "://") == 0 || given.compare(0, 5, "file:") == 0);
    const bool drivePath = !uri && given.size() >= 2 && given[1] == ':';
    std::optional<std::string> linuxPath;
    if (uri) {
        linuxPath = LocalPathOfUri(given, why);
        if (!linuxPath) return std::nullopt;
    } else {
        linuxPath = drivePath ? driveMap().toLinux(given) : given;
    }
    char real[PATH_MAX];
    struct stat st { };
    if (!linuxPath || !::realpath(linuxPath->c_str(), real)) {
        *why = "does not exist";
        return std::nullopt;
    }
    if (::stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) {
        *why = "not a directory";
        return std::nullopt;
    }
    auto mapped = driveMap().fromLinux(real);
    if (!mapped) *why = "no drive holds it (see ZELO_DRIVES)";
    return mapped;
}

bool OpenAtDirectory(const std::string& drivePath)
{
    // As the user would: the drive typed into the selector, then each directory double-clicked.
    Form1->CBox1->SetEditText(drivePath.substr(0, 3)); // "C:\", as at start-up
    Form1->CBox1Change();
    if (Main.DriveReady != 1) return false;
    size_t position = 3;
    while (position < drivePath.size()) {
        size_t end = drivePath.find('\\', position);
        if (end == std::string::npos) end = drivePath.size();
        const std::string name = drivePath.substr(position, end - position);
        position = end + 1;
        if (name.empty()) continue;
        int found = -1;
        for (int i = Main.MainTree.GetLevel() + 1; i < Main.MainTree.EntryCount() && found < 0; ++i) {
            if (Main.MainTree.Entry(i).name == name) found = i;
        }
        if (found < 0) return false; // hidden from the pane, or gone meanwhile
        Form1->DirBx1->SetSelectedIndex(found);
        Form1->DirBx1DblClick();
    }
    return true;
}

namespace {
// The platform's style, with the menu bar reachable from the keyboard: Alt enters it, the arrow keys
// move, Enter chooses, as the menus of the program have no accelerator letters.
class ZeloStyle : public QProxyStyle {
public:
    int styleHint(
        StyleHint hint, const QStyleOption* option, const QWidget* widget, QStyleHintReturn* returnData) const override
    {
        if (hint == QStyle::SH_MenuBar_AltKeyNavigation) return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};
} // namespace

ZeloApplication::ZeloApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QString::fromUtf8(kAppTitle));
    setStyle(new ZeloStyle); // the application owns its style
    InstallFontSubstitutions();
    InstallQtTranslation(*this);
}

bool InstallQtTranslation(QCoreApplication& app)
{
    // Qt's own buttons, dialogs and edit menus speak the interface's language, whatever the locale.
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    translator->setParent(&app); // the application owns it from here on
    return QCoreApplication::installTranslator(translator.release());
}

void ShowExceptionMessage(const char* what)
{
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kAppTitle), QString::fromUtf8(what), QMessageBox::Ok);
    box.exec();
}

bool ZeloApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowExceptionMessage(e.what());
    } catch (...) {
        ShowExceptionMessage("Unknown exception");
    }
    return false;
}

} // namespace zelo
