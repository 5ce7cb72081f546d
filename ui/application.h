// The program's windows, created once in a fixed order and kept until the end, and the application.
#pragma once

#include "platform/ui_services.h"

#include <QApplication>

#include <memory>
#include <optional>
#include <string>

namespace zelo {

class QtUiServices;
class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TForm7;
class TForm8;
class TForm9;
class THelp;

// One instance per window, valid while the Windows object returned by CreateWindows lives.
extern TForm1* Form1;
extern TForm7* Form7;
extern TForm5* Form5;
extern TForm3* Form3;
extern TForm4* Form4;
extern THelp* Help;
extern TForm8* Form8;
extern TForm6* Form6;
extern TForm2* Form2;
extern TForm9* Form9;

class Windows {
public:
    Windows();
    ~Windows();
    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;

private:
    std::unique_ptr<TForm1> m_form1; // the other windows are its children
    std::unique_ptr<QtUiServices> m_services;
    std::optional<ScopedUiServices> m_installed;
};

// Creates the windows in their order (main window first; its creation fills the panes), installs the
// Qt UI services and shows the main window.
std::unique_ptr<Windows> CreateWindows();

// The drive path of the directory zelo32 was started with (a drive path, a Linux path or a file://
// address); nullopt with the reason ("does not exist", "not a directory", no drive holds it).
std::optional<std::string> StartDirectory(const std::string& given, std::string* why);
// The Linux path a file:// address names, its percent escapes as the bytes they stand for; nullopt with
// the reason for another scheme, another computer's folder or a malformed address.
std::optional<std::string> LocalPathOfUri(const std::string& uri, std::string* why);
// Moves the main window's panes to that directory as the user would reach it; false when a step
// could not be taken (the panes then show the deepest directory reached).
bool OpenAtDirectory(const std::string& drivePath);

// The application: title "Zelo"; an exception that escapes an event handler is shown in a message box
// and the event loop goes on.
class ZeloApplication : public QApplication {
    Q_OBJECT
public:
    ZeloApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Loads Qt's Japanese translation (Debian's qt6-translations-l10n) into the application; false when it
// is not installed, and Qt's own texts then stay English.
bool InstallQtTranslation(QCoreApplication& app);

// The message box for an exception (also used when start-up fails).
void ShowExceptionMessage(const char* what);

} // namespace zelo
