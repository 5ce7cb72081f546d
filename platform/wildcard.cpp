// Wildcard matching of names, as the directory search and the file pane filter use it.
#include "platform/filesystem.h"
#include "platform/text.h"

namespace zelo {

namespace {

char foldAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

// Length of the character at i: a whole UTF-8 sequence when the name is valid UTF-8, else one byte.
size_t charLength(const std::string& name, size_t i, bool utf8)
{
    if (!utf8) return 1;
    const auto lead = static_cast<unsigned char>(name[i]);
    size_t n = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return i + n <= name.size() ? n : 1;
}

// "*" any run (also empty), "?" one character, anything else one byte compared without ASCII case.
bool matchPlain(const std::string& pattern, size_t patternEnd, const std::string& name, bool utf8)
{
    size_t p = 0, n = 0;
    size_t starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < patternEnd && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < patternEnd && pattern[p] == '?') {
            ++p;
            n += charLength(name, n, utf8);
        } else if (p < patternEnd && foldAscii(pattern[p]) == foldAscii(name[n])) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            // Let the last "*" take one more character and try again from there.
            p = starP + 1;
            starN += charLength(name, starN, utf8);
            n = starN;
        } else {
            return false;
        }
    }
    while (p < patternEnd && pattern[p] == '*')
        ++p;
    return p == patternEnd;
}

} // namespace

bool MatchWildcard(const std::string& pattern, const std::string& name)
{
    if (pattern == "*" || pattern == "*.*") return true;
    const bool utf8 = IsValidUtf8(name);
    if (matchPlain(pattern, pattern.size(), name, utf8)) return true;
    // A trailing ".*" also matches a name without an extension ("readme.*" finds "readme"),
    // which is what makes "*.*" match every name.
    const size_t size = pattern.size();
    if (size >= 2 && pattern[size - 2] == '.' && pattern[size - 1] == '*' && name.find('.') == std::string::npos)
        return matchPlain(pattern, size - 2, name, utf8);
    return false;
}

} // namespace zelo
