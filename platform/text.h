// Text services: case mapping of names in the system code page (UTF-8).
#pragma once

#include <string>

namespace zelo {

// Upper and lower case by Unicode case mapping over whole characters; bytes that are
// not valid UTF-8 are kept as they are.
std::string ToUpperText(const std::string& text);
std::string ToLowerText(const std::string& text);
bool IsValidUtf8(const std::string& text);
// The key under which a file system that folds case files a name: Unicode simple case folding over whole
// characters ("A.TXT" and "a.txt" give one key); bytes that are not valid UTF-8 are kept as they are.
std::string FoldCaseText(const std::string& text);

// Text for a terminal: control characters (C0, DEL and the C1 range) are written as escapes the way
// `ls -b` writes them ("\033", "\r", ...), so a file name cannot move the cursor or send a terminal
// command. With keepLineBreaks, a line feed stays a line break and the carriage return of the
// program's "\n\r" pairs is dropped (messages); otherwise every control character is escaped (names).
std::string EscapeForTerminal(const std::string& text, bool keepLineBreaks = false);

} // namespace zelo
