#include "platform/filesystem.h"
#include "platform/text.h"
#include "platform/time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace zelo {
namespace {

TEST(Wildcard, MatchesAsTheDirectorySearchDoes)
{
    struct Case {
        const char* pattern;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        { "*.*", "README", true },
        { "*.*", ".bashrc", true },
        { "*.*", "a.b.c", true },
        { "*", "anything.at.all", true },
        { "*.c?p", "a.cpp", true },
        { "*.c?p", "a.cp", false },
        { "*.c?p", "a.cppx", false },
        { "*.CPP", "main.cpp", true },
        { "Main.*", "MAIN.H", true },
        { "readme.*", "readme", true }, // a trailing ".*" also takes a name without extension
        { "readme.*", "readmex", false },
        { "?", "a", true },
        { "?", "ab", false },
        { "??", "a", false },
        { "a?c", "abc", true },
        { "*.bak", "x.bak.txt", false },
        { "*.bak", ".bak", true },
        { "*a*b*", "xxaxxbxx", true },
        { "*a*b*", "xxbxxaxx", false },
        { "*.txt", "", false },
        { "?.txt", "é.txt", true }, // one whole UTF-8 character
        { "??.txt", "é.txt", false },
        { "*é", "CAFé", true },
        { "*É", "café", false }, // only ASCII letters compare without case
        { "?", "\xff", true }, // bytes of a name that is not UTF-8 are characters of their own
        { "a\xff*", "A\xff\xfe", true },
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
}

TEST(CaseMapping, MapsWholeCharactersAndKeepsInvalidBytes)
{
    struct Case {
        const char* in;
        const char* upper;
        const char* lower;
    };
    const Case cases[] = {
        { "abc.TXT", "ABC.TXT", "abc.txt" },
        { "straße", "STRAßE", "straße" }, // simple case mapping: one character stays one character
        { "ÄÖÜ äöü", "ÄÖÜ ÄÖÜ", "äöü äöü" },
        { "Ωμέγα", "ΩΜΈΓΑ", "ωμέγα" },
        { "ｆｕｌｌ", "ＦＵＬＬ", "ｆｕｌｌ" },
        { "日本語.txt", "日本語.TXT", "日本語.txt" },
        { "a\xff"
          "b\xc3",
            "A\xff"
            "B\xc3",
            "a\xff"
            "b\xc3" }, // stray and truncated bytes stay
        { "\xe3\x81"
          "x",
            "\xe3\x81"
            "X",
            "\xe3\x81"
            "x" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToUpperText(c.in), c.upper) << c.in;
        EXPECT_EQ(ToLowerText(c.in), c.lower) << c.in;
        // Folding gives the names a case-blind file system takes for one the same key.
        EXPECT_EQ(FoldCaseText(c.upper), FoldCaseText(c.lower)) << c.in;
    }
    EXPECT_EQ(FoldCaseText("ΣΑΣ.Txt"), FoldCaseText("σας.tXT")); // final sigma folds with the others
    EXPECT_NE(FoldCaseText("a.txt"), FoldCaseText("a.txt "));
}

TEST(CaseMapping, RecognisesValidUtf8)
{
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8("日本語 😀"));
    EXPECT_FALSE(IsValidUtf8("\xff"));
    EXPECT_FALSE(IsValidUtf8("\xc3")); // cut short
    EXPECT_FALSE(IsValidUtf8("\xc0\xaf")); // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80")); // a surrogate
    EXPECT_FALSE(IsValidUtf8(std::string("a\0\x80", 3)));
}

// Runs the body with TZ set, restoring the previous zone afterwards.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone)
    {
        const char* old = std::getenv("TZ");
        m_hadOld = old != nullptr;
        if (old) m_old = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneScope()
    {
        if (m_hadOld)
            ::setenv("TZ", m_old.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool m_hadOld = false;
    std::string m_old;
};

TEST(FileTimes, ConvertBetweenUnixFileTimeAndCalendarFields)
{
    EXPECT_EQ(FileTimeFromUnix(0).value, 116444736000000000ull);
    struct Case {
        int64_t unixSeconds;
        SystemTime fields; // year, month, dayOfWeek, day, hour, minute, second, ms
    };
    const Case cases[] = {
        { 0, { 1970, 1, 4, 1, 0, 0, 0, 0 } },
        { 951782400, { 2000, 2, 2, 29, 0, 0, 0, 0 } }, // leap day of a century year
        { 1141549625, { 2006, 3, 0, 5, 9, 7, 5, 0 } }, { 4102444799, { 2099, 12, 4, 31, 23, 59, 59, 0 } },
        { -11644473600, { 1601, 1, 1, 1, 0, 0, 0, 0 } }, // the first day of file time
        { 315532800, { 1980, 1, 2, 1, 0, 0, 0, 0 } }, // the first and last times a FAT entry holds
        { 4354819198, { 2107, 12, 6, 31, 23, 59, 58, 0 } },
        { 1709208000, { 2024, 2, 4, 29, 12, 0, 0, 0 } }, // a leap day; 2100 and 1700 have none
        { 4107542400, { 2100, 3, 1, 1, 0, 0, 0, 0 } }, { -8515238401, { 1700, 2, 0, 28, 23, 59, 59, 0 } },
        { 1682836200, { 2023, 4, 0, 30, 6, 30, 0, 0 } }, // a 30-day month's end
    };
    for (const Case& c : cases) {
        SystemTime out;
        ASSERT_TRUE(FileTimeToSystemTime(FileTimeFromUnix(c.unixSeconds), out));
        EXPECT_EQ(out.year, c.fields.year) << c.unixSeconds;
        EXPECT_EQ(out.month, c.fields.month) << c.unixSeconds;
        EXPECT_EQ(out.day, c.fields.day) << c.unixSeconds;
        EXPECT_EQ(out.dayOfWeek, c.fields.dayOfWeek) << c.unixSeconds;
        EXPECT_EQ(out.hour, c.fields.hour) << c.unixSeconds;
        EXPECT_EQ(out.minute, c.fields.minute) << c.unixSeconds;
        EXPECT_EQ(out.second, c.fields.second) << c.unixSeconds;
        FileTime back;
        ASSERT_TRUE(SystemTimeToFileTime(out, back));
        EXPECT_EQ(back, FileTimeFromUnix(c.unixSeconds));
    }

    FileTime withMs = FileTimeFromUnix(10, 123'456'789);
    SystemTime fields;
    ASSERT_TRUE(FileTimeToSystemTime(withMs, fields));
    EXPECT_EQ(fields.milliseconds, 123);
    int64_t s = 0, ns = 0;
    FileTimeToUnix(withMs, s, ns);
    EXPECT_EQ(s, 10);
    EXPECT_EQ(ns, 123'456'700); // 100 ns resolution
}

TEST(FileTimes, RefusesImpossibleCalendarFields)
{
    const SystemTime bad[] = {
        { 2001, 2, 0, 29, 0, 0, 0, 0 },
        { 2000, 13, 0, 1, 0, 0, 0, 0 },
        { 1600, 12, 0, 31, 0, 0, 0, 0 },
        { 2000, 1, 0, 0, 0, 0, 0, 0 },
        { 2000, 1, 0, 1, 24, 0, 0, 0 },
        { 2000, 1, 0, 1, 0, 60, 0, 0 },
        { 2100, 2, 0, 29, 0, 0, 0, 0 }, // century years leap only every 400 years
        { 1900, 2, 0, 29, 0, 0, 0, 0 },
        { 2023, 4, 0, 31, 0, 0, 0, 0 },
        { 2000, 1, 0, 257, 0, 0, 0, 0 }, // past what a calendar day holds, never taken as day 1
        { 2000, 257, 0, 1, 0, 0, 0, 0 },
    };
    for (const SystemTime& fields : bad) {
        FileTime out;
        EXPECT_FALSE(SystemTimeToFileTime(fields, out)) << fields.year << "-" << fields.month << "-" << fields.day;
    }
}

TEST(FileTimes, LocalTimeUsesTheCurrentBiasBothWays)
{
    ZoneScope zone("JST-9");
    const FileTime utc = FileTimeFromUnix(1141549625);
    FileTime local, back;
    ASSERT_TRUE(FileTimeToLocalFileTime(utc, local));
    EXPECT_EQ(local.value - utc.value, 9ull * 3600 * 10'000'000);
    ASSERT_TRUE(LocalFileTimeToFileTime(local, back));
    EXPECT_EQ(back, utc);

    // Winter and summer times shift by the same (current) bias, so they compare as they were written.
    ZoneScope berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    const FileTime winter = FileTimeFromUnix(1136073600), summer = FileTimeFromUnix(1151712000);
    FileTime winterLocal, summerLocal;
    ASSERT_TRUE(FileTimeToLocalFileTime(winter, winterLocal));
    ASSERT_TRUE(FileTimeToLocalFileTime(summer, summerLocal));
    EXPECT_EQ(winterLocal.value - winter.value, summerLocal.value - summer.value);
}

TEST(FileTimes, GetLocalTimeAgreesWithTheClock)
{
    ZoneScope zone("UTC0");
    const time_t before = ::time(nullptr);
    const SystemTime now = GetLocalTime();
    FileTime asFileTime;
    ASSERT_TRUE(SystemTimeToFileTime(now, asFileTime));
    int64_t seconds = 0, ns = 0;
    FileTimeToUnix(asFileTime, seconds, ns);
    EXPECT_GE(seconds, int64_t(before));
    EXPECT_LE(seconds, int64_t(::time(nullptr)));
}

TEST(FileTimes, TimesOutsideTheRangeClampWithoutOverflow)
{
    constexpr uint64_t kLast = 0x7FFF'FFFF'FFFF'FFFFull;
    const struct {
        int64_t seconds;
        uint64_t expected; // 0: inside the range, checked by a round trip
    } cases[] = {
        { 910'692'730'084, 0 }, // the last whole second a file time holds (year 30828)
        { 910'692'730'085, kLast },
        { INT64_MAX, kLast }, // a tmpfs keeps such times
        { -11'644'473'600, 0 }, // 1601-01-01 itself
        { -11'644'473'601, 0 }, // before it: the first time there is
        { INT64_MIN, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        const FileTime time = FileTimeFromUnix(c.seconds, 999'999'999);
        if (c.seconds < 0 || c.expected != 0) {
            EXPECT_EQ(time.value, c.seconds == -11'644'473'600 ? 9'999'999u : c.expected);
            continue;
        }
        int64_t seconds = 0, nanoseconds = 0;
        FileTimeToUnix(time, seconds, nanoseconds);
        EXPECT_EQ(seconds, c.seconds);
        EXPECT_EQ(nanoseconds, 999'999'900);
    }
    int64_t seconds = 0, nanoseconds = 0;
    FileTimeToUnix(FileTime { UINT64_MAX }, seconds, nanoseconds);
    EXPECT_EQ(seconds, 910'692'730'085);
}

TEST(TerminalText, ControlCharactersAreEscapedAsLsDoes)
{
    EXPECT_EQ(EscapeForTerminal("a\x1b[31mb\rc\x7f\xc2\x9b"
                                "d\xe3\x81\x82"),
        "a\\033[31mb\\rc\\177\\302\\233d\xe3\x81\x82");
    EXPECT_EQ(EscapeForTerminal("x\ny\tz"), "x\\ny\\tz");
    // Messages keep their line breaks; the carriage return of a "\n\r" pair goes.
    EXPECT_EQ(EscapeForTerminal("C:\\a\x1b  :   Denied\n\r\n\rmore", true), "C:\\a\\033  :   Denied\n\nmore");
}

} // namespace
} // namespace zelo
