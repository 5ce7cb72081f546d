// Text services: case mapping of names in the system code page (UTF-8).
#pragma once

#include <string>

namespace zelo {

// Upper and lower case by Unicode case mapping over whole characters; bytes that are
// not valid UTF-8 are kept as they are.
std::string ToUpperText(const std::string& text);
std::string ToLowerText(const std::string& text);
bool IsValidUtf8(const std::string& text);

} // namespace zelo
