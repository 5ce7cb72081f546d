// Number and date formats.
#include "engine/formats.h"

#include "engine/file_copy.h"
#include "platform/time.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace zelo {

std::string FormatFileDate(const std::string& path)
{
    FindData data;
    if (!FindFileEntry(path, data)) return {};
    FileTime local;
    SystemTime t;
    if (!FileTimeToLocalFileTime(data.lastWriteTime, local) || !FileTimeToSystemTime(local, t)) return {};
    char text[64];
    std::snprintf(
        text, sizeof text, "%.2d/%.2d/%.4d    %.2d:%.2d:%2d", t.month, t.day, t.year, t.hour, t.minute, t.second);
    return text;
}

std::string FormatSizeUnit(float value)
{
    if (value < 1000.0f) {
        // Byte counts are integral: the number is written whole.
        char text[64];
        std::snprintf(text, sizeof text, "%.0f B", std::trunc(static_cast<double>(value)));
        return text;
    }
    float scaled;
    const char* unit;
    if (value > 1000000000.0f) {
        scaled = value * 0x1p-30f;
        unit = " GB";
    } else if (value > 999999.0f) {
        scaled = value * 0x1p-20f;
        unit = " MB";
    } else {
        scaled = value * 0x1p-10f;
        unit = " KB";
    }
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.15g", static_cast<double>(scaled));
    std::string text = digits;
    // Two decimals at most, cut rather than rounded.
    if (auto point = text.find('.'); point != std::string::npos && text.size() > point + 3) text.resize(point + 3);
    return text + unit;
}

std::string FormatByteCount(float value)
{
    // Whole part, truncated toward zero; the groups below cover every finite single-precision total
    // the walks produce (a leading group above 999 is printed as it is).
    double whole = std::trunc(static_cast<double>(value));
    if (!(whole >= 0.0)) whole = 0.0;
    if (whole > 1.8e19) whole = 1.8e19;
    const auto n = static_cast<uint64_t>(whole);
    const unsigned long long g1 = n / 1000000000ULL;
    const unsigned g2 = static_cast<unsigned>(n / 1000000ULL % 1000);
    const unsigned g3 = static_cast<unsigned>(n / 1000ULL % 1000);
    const unsigned g4 = static_cast<unsigned>(n % 1000);
    char text[96];
    if (g1 != 0)
        std::snprintf(text, sizeof text, "%llu,%03u,%03u,%03u Byte", g1, g2, g3, g4);
    else if (g2 != 0)
        std::snprintf(text, sizeof text, "%u,%03u,%03u Byte", g2, g3, g4);
    else if (g3 != 0)
        std::snprintf(text, sizeof text, "%u,%03u Byte", g3, g4);
    else
        std::snprintf(text, sizeof text, "%u Byte", g4);
    return text;
}

} // namespace zelo
