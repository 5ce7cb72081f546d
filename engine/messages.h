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
// (2 and 4 delete a file, 3 remove a directory, anything else overwrite).
std::string FileErrorMessage(uint32_t code, int errorContext);

// Shows the message for the current last error (GetLastError) and Main.ErrorContext.
// A non-empty name is put in front: name + "  :   " + message. Call it right after the failing call.
void ReportFileError(const std::string& name);

// A modal box with the application title, the text and OK.
void ShowPlainMessage(const std::string& text);

// The application message box: flags kMbOk (0) or kMbYesNo (4); returns kIdOk, kIdYes or kIdNo.
int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags);

} // namespace zelo
