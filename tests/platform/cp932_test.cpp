// The CP932 codec checked character by character against glibc's iconv, an independent implementation.
#include "platform/cp932.h"

#include <gtest/gtest.h>

#include <iconv.h>
#include <optional>
#include <string>

namespace zelo {
namespace {

// One conversion through iconv; nullopt where iconv has no mapping.
class Iconv {
public:
    Iconv(const char* to, const char* from)
        : m_cd(iconv_open(to, from))
    {
    }
    ~Iconv()
    {
        if (m_cd != iconv_t(-1)) iconv_close(m_cd);
    }
    bool ok() const { return m_cd != iconv_t(-1); }
    std::optional<std::string> operator()(const std::string& input)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        std::string in = input;
        char out[16];
        char* inPtr = in.data();
        size_t inLeft = in.size();
        char* outPtr = out;
        size_t outLeft = sizeof out;
        if (iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0) return std::nullopt;
        return std::string(out, size_t(outPtr - out));
    }

private:
    iconv_t m_cd;
};

std::string Utf8Of(char32_t u)
{
    std::string s;
    if (u < 0x80) {
        s += char(u);
    } else if (u < 0x800) {
        s += char(0xC0 | (u >> 6));
        s += char(0x80 | (u & 0x3F));
    } else {
        s += char(0xE0 | (u >> 12));
        s += char(0x80 | ((u >> 6) & 0x3F));
        s += char(0x80 | (u & 0x3F));
    }
    return s;
}

bool IsLead(int b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Every byte and byte pair: what iconv decodes, the codec decodes alike, and encodes back to what
// iconv encodes; what iconv does not decode is one of the code page's own single bytes or "・".
TEST(Cp932, EveryCodeAgreesWithIconv)
{
    Iconv decode("UTF-8", "CP932");
    Iconv encode("CP932", "UTF-8");
    ASSERT_TRUE(decode.ok() && encode.ok());
    const std::pair<int, const char*> windowsOnly[]
        = { { 0x80, "\u0080" }, { 0xA0, "\uF8F0" }, { 0xFD, "\uF8F1" }, { 0xFE, "\uF8F2" }, { 0xFF, "\uF8F3" } };
    int mapped = 0;
    auto check = [&](const std::string& code) {
        const std::string ours = Cp932ToUtf8(code);
        const auto theirs = decode(code);
        if (!theirs) {
            for (const auto& [byte, text] : windowsOnly) {
                if (code == std::string(1, char(byte))) {
                    EXPECT_EQ(ours, text);
                    EXPECT_EQ(Utf8ToCp932(ours), code);
                    return;
                }
            }
            EXPECT_EQ(ours, "・") << std::hex << int(uint8_t(code[0]));
            return;
        }
        ++mapped;
        ASSERT_EQ(ours, *theirs) << std::hex << int(uint8_t(code[0])) << " " << int(uint8_t(code.back()));
        EXPECT_EQ(Utf8ToCp932(ours), encode(ours)) << std::hex << int(uint8_t(code[0]));
    };
    for (int b = 0; b < 256; ++b) {
        if (!IsLead(b)) check(std::string(1, char(b)));
        for (int t = 0x40; t <= 0xFC && IsLead(b); ++t) {
            if (t != 0x7F) check(std::string { char(b), char(t) });
        }
    }
    EXPECT_GT(mapped, 9000);

    // Every character of the Basic Multilingual Plane: what iconv cannot encode becomes "?".
    for (char32_t u = 0; u < 0x10000; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        const std::string text = Utf8Of(u);
        const auto theirs = encode(text);
        const auto ours = Utf8ToCp932(text);
        ASSERT_TRUE(ours);
        if (theirs) {
            ASSERT_EQ(*ours, *theirs) << std::hex << uint32_t(u);
        } else if (u != 0x80 && !(u >= 0xF8F0 && u <= 0xF8F3)) {
            ASSERT_EQ(*ours, "?") << std::hex << uint32_t(u);
        }
    }
}

TEST(Cp932, MalformedUtf8AndCutSequences)
{
    const char* malformed[] = {
        "\xC0\xAF", // overlong "/"
        "\xE0\x80\xAF", // overlong in three bytes
        "a\x80", // lone continuation byte
        "\xF0\x9F\x98\x80", // four-byte sequence
        "\xED\xA0\x80", // surrogate
        "\xE3\x81", // cut off at the end
        "\xC3(", // continuation missing
    };
    for (const char* text : malformed)
        EXPECT_FALSE(Utf8ToCp932(text)) << text;
    // A lead byte without its trail byte, or with one out of range, stands alone.
    EXPECT_EQ(Cp932ToUtf8("\x82"), "・");
    EXPECT_EQ(Cp932ToUtf8("\x82\x0A"), "・\n");
    EXPECT_EQ(Cp932ToUtf8("\x85\x40"), "・"); // a pair the code page leaves empty
}

} // namespace
} // namespace zelo
