// Linux names in drive form and back (see drive_path.h): the stand-in U+F05C for "\" and U+F700 plus
// the byte for a byte that cannot stand as itself. Walks list hundreds of thousands of names: an ASCII
// name without "\" is passed on after one scan.
#include "platform/drive_path.h"

namespace zelo {

namespace {

constexpr char32_t kStandIn = 0xF05C;
constexpr char32_t kByteBase = 0xF700;
constexpr char32_t kFirstByteCode = kByteBase + 0x80;
constexpr char32_t kLastByteCode = kByteBase + 0xFF;

// The length of the UTF-8 character at text[i] (overlong forms, surrogates and code points past
// U+10FFFF are none), 0 when the bytes there are no character; code receives its code point.
size_t CharacterAt(std::string_view text, size_t i, char32_t& code)
{
    const auto byte = static_cast<unsigned char>(text[i]);
    const size_t length = byte >= 0xC2 && byte <= 0xDF ? 2
        : byte >= 0xE0 && byte <= 0xEF                 ? 3
        : byte >= 0xF0 && byte <= 0xF4                 ? 4
                                                       : 0;
    if (length == 0 || i + length > text.size()) return 0;
    code = byte & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return length;
}

bool IsReserved(char32_t code)
{
    return code == kStandIn || (code >= kFirstByteCode && code <= kLastByteCode);
}

void AppendThreeBytes(std::string& out, char32_t code)
{
    out += char(0xE0 | (code >> 12));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
}

// Whether every byte stands as itself: ASCII without "\".
bool PlainAscii(std::string_view name)
{
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80 || c == '\\') return false;
    }
    return true;
}

} // namespace

void AppendDriveName(std::string& out, std::string_view linuxName)
{
    if (PlainAscii(linuxName)) {
        out.append(linuxName);
        return;
    }
    for (size_t i = 0; i < linuxName.size();) {
        const char c = linuxName[i];
        if (c == '\\') {
            out.append(kBackslashStandIn);
            ++i;
            continue;
        }
        if (static_cast<unsigned char>(c) < 0x80) {
            out += c;
            ++i;
            continue;
        }
        char32_t code = 0;
        const size_t length = CharacterAt(linuxName, i, code);
        if (length > 0 && !IsReserved(code)) {
            out.append(linuxName.substr(i, length));
            i += length;
            continue;
        }
        // No character, or one of the stand-ins the name holds itself: byte by byte.
        for (size_t k = 0; k < (length > 0 ? length : 1); ++k)
            AppendThreeBytes(out, kByteBase + static_cast<unsigned char>(linuxName[i + k]));
        i += length > 0 ? length : 1;
    }
}

std::string DriveNameFromLinux(std::string_view linuxName)
{
    std::string out;
    out.reserve(linuxName.size());
    AppendDriveName(out, linuxName);
    return out;
}

std::string LinuxNameFromDrive(std::string_view driveText)
{
    if (!MayHoldStandIn(driveText)) return std::string(driveText);
    std::string out;
    out.reserve(driveText.size());
    for (size_t i = 0; i < driveText.size();) {
        char32_t code = 0;
        const size_t length = static_cast<unsigned char>(driveText[i]) == 0xEF ? CharacterAt(driveText, i, code) : 0;
        if (length == 3 && code == kStandIn) {
            out += '\\';
        } else if (length == 3 && IsReserved(code)) {
            out += char(code - kByteBase);
        } else {
            out += driveText[i];
            ++i;
            continue;
        }
        i += 3;
    }
    return out;
}

bool IsOwnDriveName(std::string_view linuxName)
{
    if (PlainAscii(linuxName)) return true;
    std::string driveForm;
    AppendDriveName(driveForm, linuxName);
    return driveForm == linuxName;
}

} // namespace zelo
