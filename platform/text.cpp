#include "platform/text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace zelo {

namespace {

// Maps every valid UTF-8 character through map; bytes that do not form one are copied unchanged.
template <typename Map> std::string mapCharacters(const std::string& text, Map map)
{
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = int32_t(text.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        if (bytes[i] < 0x80) { // ASCII fast path
            out += char(map(UChar32(bytes[i])));
            ++i;
            continue;
        }
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            out.append(text, size_t(start), size_t(i - start));
            continue;
        }
        const UChar32 mapped = map(c);
        uint8_t buffer[U8_MAX_LENGTH];
        int32_t n = 0;
        UBool error = false;
        U8_APPEND(buffer, n, U8_MAX_LENGTH, mapped, error);
        if (error)
            out.append(text, size_t(start), size_t(i - start));
        else
            out.append(reinterpret_cast<const char*>(buffer), size_t(n));
    }
    return out;
}

} // namespace

std::string ToUpperText(const std::string& text)
{
    return mapCharacters(text, [](UChar32 c) { return u_toupper(c); });
}

std::string ToLowerText(const std::string& text)
{
    return mapCharacters(text, [](UChar32 c) { return u_tolower(c); });
}

std::string FoldCaseText(const std::string& text)
{
    return mapCharacters(text, [](UChar32 c) { return u_foldCase(c, U_FOLD_CASE_DEFAULT); });
}

bool IsValidUtf8(const std::string& text)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = int32_t(text.size());
    int32_t i = 0;
    while (i < length) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string EscapeForTerminal(const std::string& text, bool keepLineBreaks)
{
    static constexpr char kDigits[] = "01234567";
    std::string out;
    out.reserve(text.size());
    const auto octal = [&](unsigned char byte) {
        out += '\\';
        out += kDigits[byte >> 6];
        out += kDigits[(byte >> 3) & 7];
        out += kDigits[byte & 7];
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (keepLineBreaks && byte == '\n') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\r') ++i;
            continue;
        }
        // U+0080 to U+009F (C1 controls such as CSI) in UTF-8: both bytes escaped.
        if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80
            && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            octal(byte);
            octal(static_cast<unsigned char>(text[++i]));
            continue;
        }
        if (byte >= 0x20 && byte != 0x7F) {
            out += static_cast<char>(byte);
            continue;
        }
        switch (byte) {
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\v':
            out += "\\v";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            octal(byte);
        }
    }
    return out;
}

} // namespace zelo
