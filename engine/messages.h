// The program's messages: the file error report, the plain message box and the application message box.
// All of them go through the platform's UI services (zelo::ui()), so tests can read the exact texts.
#pragma once

#include <cstdint>
#include <string>

namespace zelo {

// Captions of the application message box.
inline constexpr const char* kCaptionReport = "報告"; // results
inline constexpr const char* kCaptionWarning = "警告"; // refusals
inline constexpr const char* kCaptionCaution = "注意"; // Yes/No before destructive commands

// The message for a last error code; errorContext selects the access-denied (5) wording
// (2 and 4 delete a file, 3 remove a directory, 6 none, anything else overwrite).
std::string FileErrorMessage(uint32_t code, int errorContext);

// What a failing step was doing: selects the access-denied wording of the error report.
enum ErrorContextValue : int {
    kContextOverwrite = 0, // creating, overwriting (and anything not listed)
    kContextDeleteBackup = 2, // deleting a *.BAK or *.VIX file
    kContextRemoveTree = 3, // deleting inside a tree, removing a directory
    kContextDeleteSelected = 4, // deleting a selected file
    kContextReadSource = 6, // opening or reading what is copied or converted
    kContextWriteDenied = 7, // writing where the system refuses it, the entry itself not being ReadOnly
    // A step where access denied cannot mean ReadOnly (reading, a folder or drive refused by its
    // permissions): the bare access-denied text, without a ReadOnly wording that would mislead.
    kContextAccess = 8,
};

// "path  :   message" for the current last error, as ReportFileError shows it.
std::string FileErrorText(const std::string& name, int errorContext);

// Another file system mounted at path: another drive's, never entered, copied into or deleted into.
std::string AnotherDriveMessage(const std::string& path);

// Shows the message for the current last error (GetLastError) in the given context.
// A non-empty name is put in front: name + "  :   " + message. Call it right after the failing call.
void ReportFileError(const std::string& name, int errorContext);

// A modal box with the application title, the text and OK.
void ShowPlainMessage(const std::string& text);

// The application message box: flags kMbOk (0) or kMbYesNo (4); returns kIdOk, kIdYes or kIdNo.
int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags);

} // namespace zelo
