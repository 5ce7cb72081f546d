// CP932 to and from UTF-8, table-driven: the generated decoding tables, and an encoding table
// inverted from them once on first use.
// Kept rather than handing the text to iconv: it gives glibc's CP932 result on every code both
// convert, also converts five bytes glibc's CP932 refuses, and is about 1.4 times as fast as iconv
// (the sjis and utf8 cases of bench/bench.sh).
#include "platform/cp932.h"

#include "platform/cp932_table.h"

#include <array>
#include <memory>
#include <utility>

namespace zelo {

namespace {

using cp932::kUnmapped;

// The double-byte code of a table position.
uint16_t CodeAt(int lead, int trail)
{
    const int leadByte = lead < 31 ? 0x81 + lead : 0xE0 + lead - 31;
    return uint16_t((leadByte << 8) | (0x40 + trail));
}

// UTF-16 code unit to CP932 code (a single byte when below 0x100), kUnmapped where CP932 has none.
// Where several codes decode to one character, the lowest code wins, except that the NEC-selected
// IBM extensions (rows 0xED and 0xEE) yield to the IBM extensions (0xFA-0xFC): the choice of the
// code page's own encoder, so a round trip gives back what that encoder would write.
const std::array<uint16_t, 0x10000>& EncodeTable()
{
    static const auto table = [] {
        auto t = std::make_unique<std::array<uint16_t, 0x10000>>();
        t->fill(kUnmapped);
        for (int b = 0; b < 256; ++b) {
            const uint16_t u = cp932::kSingleByte[b];
            if (u != kUnmapped && (*t)[u] == kUnmapped) (*t)[u] = uint16_t(b);
        }
        auto fillRows = [&](bool necSelected) {
            for (int lead = 0; lead < cp932::kLeadCount; ++lead) {
                const uint16_t first = CodeAt(lead, 0);
                if (((first >> 8) == 0xED || (first >> 8) == 0xEE) != necSelected) continue;
                for (int trail = 0; trail < cp932::kTrailCount; ++trail) {
                    const uint16_t u = cp932::kDoubleByte[lead * cp932::kTrailCount + trail];
                    if (u != kUnmapped && (*t)[u] == kUnmapped) (*t)[u] = CodeAt(lead, trail);
                }
            }
        };
        fillRows(false);
        fillRows(true);
        // One-way mappings of the JIS forms whose code the code page decodes to another character
        // (WAVE DASH, MINUS SIGN, YEN SIGN, ...), as the code page's own encoder writes them: Japanese
        // text from other systems keeps these characters instead of turning them into "?".
        const std::pair<char16_t, uint16_t> jisForms[] = {
            { 0x00A2, 0x8191 },
            { 0x00A3, 0x8192 },
            { 0x00A5, 0x5C },
            { 0x00AC, 0x81CA },
            { 0x2014, 0x815C },
            { 0x2016, 0x8161 },
            { 0x203E, 0x7E },
            { 0x2212, 0x817C },
            { 0x301C, 0x8160 },
        };
        for (const auto& [u, code] : jisForms)
            (*t)[u] = code;
        return t;
    }();
    return *table;
}

inline bool IsContinuation(uint8_t b)
{
    return (b & 0xC0) == 0x80;
}

inline uint8_t* PutUtf8(uint8_t* out, uint32_t u)
{
    if (u < 0x80) {
        *out++ = uint8_t(u);
    } else if (u < 0x800) {
        *out++ = uint8_t(0xC0 | (u >> 6));
        *out++ = uint8_t(0x80 | (u & 0x3F));
    } else {
        *out++ = uint8_t(0xE0 | (u >> 12));
        *out++ = uint8_t(0x80 | ((u >> 6) & 0x3F));
        *out++ = uint8_t(0x80 | (u & 0x3F));
    }
    return out;
}

} // namespace

CodecStep Utf8ToCp932Block(const uint8_t* in, size_t inSize, size_t atLeast, uint8_t* out)
{
    const auto& table = EncodeTable();
    uint8_t* const start = out;
    size_t i = 0;
    CodecStep step;
    while (i < inSize && i < atLeast) {
        const uint8_t b = in[i];
        if (b < 0x80) {
            *out++ = b;
            ++i;
            continue;
        }
        uint32_t u = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            if (i + 1 >= inSize || !IsContinuation(in[i + 1])) {
                step.malformed = true;
                break;
            }
            u = (uint32_t(b & 0x1F) << 6) | (in[i + 1] & 0x3F);
            i += 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            // The second byte's range rules out overlong forms (E0) and surrogates (ED).
            const uint8_t low = b == 0xE0 ? 0xA0 : 0x80;
            const uint8_t high = b == 0xED ? 0x9F : 0xBF;
            if (i + 2 >= inSize || in[i + 1] < low || in[i + 1] > high || !IsContinuation(in[i + 2])) {
                step.malformed = true;
                break;
            }
            u = (uint32_t(b & 0x0F) << 12) | (uint32_t(in[i + 1] & 0x3F) << 6) | (in[i + 2] & 0x3F);
            i += 3;
        } else {
            step.malformed = true;
            break;
        }
        const uint16_t code = table[u];
        if (code == kUnmapped) {
            *out++ = kCp932EncodeDefault;
        } else if (code < 0x100) {
            *out++ = uint8_t(code);
        } else {
            *out++ = uint8_t(code >> 8);
            *out++ = uint8_t(code);
        }
    }
    step.consumed = i;
    step.produced = size_t(out - start);
    return step;
}

CodecStep Cp932ToUtf8Block(const uint8_t* in, size_t inSize, size_t atLeast, uint8_t* out)
{
    uint8_t* const start = out;
    size_t i = 0;
    while (i < inSize && i < atLeast) {
        const uint8_t b = in[i];
        if (b < 0x80) {
            *out++ = b;
            ++i;
            continue;
        }
        const int lead = cp932::LeadIndex(b);
        if (lead < 0) {
            out = PutUtf8(out, cp932::kSingleByte[b]);
            ++i;
            continue;
        }
        // A lead byte without a trail byte in range stands alone; a pair the code page does not
        // map is one unknown character.
        const uint8_t trail = i + 1 < inSize ? in[i + 1] : 0;
        if (trail < 0x40 || trail > 0xFC || trail == 0x7F) {
            out = PutUtf8(out, kCp932DecodeDefault);
            ++i;
            continue;
        }
        const uint16_t u = cp932::kDoubleByte[lead * cp932::kTrailCount + (trail - 0x40)];
        out = PutUtf8(out, u == kUnmapped ? kCp932DecodeDefault : u);
        i += 2;
    }
    return { i, size_t(out - start), false };
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8)
{
    std::string out(utf8.size() * kUtf8ToCp932Growth + 3, '\0');
    const CodecStep step = Utf8ToCp932Block(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), utf8.size(),
        reinterpret_cast<uint8_t*>(out.data()));
    if (step.malformed) return std::nullopt;
    out.resize(step.produced);
    return out;
}

std::string Cp932ToUtf8(std::string_view cp932)
{
    std::string out(cp932.size() * kCp932ToUtf8Growth + 6, '\0');
    const CodecStep step = Cp932ToUtf8Block(reinterpret_cast<const uint8_t*>(cp932.data()), cp932.size(), cp932.size(),
        reinterpret_cast<uint8_t*>(out.data()));
    out.resize(step.produced);
    return out;
}

} // namespace zelo
