// Messages and number/date formats: the exact texts the user sees.
#include "engine/formats.h"
#include "engine/messages.h"
#include "model/state.h"
#include "platform/errors.h"
#include "tests/support/fake_ui.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace zelo {
namespace {

struct SizeCase {
    float value;
    const char* text;
};

TEST(FormatSizeUnit, UnitsThresholdsAndTruncation)
{
    const SizeCase cases[] = {
        { 0.0f, "0 B" },
        { 999.0f, "999 B" },
        { 1000.0f, "0.97 KB" },
        { 1500.0f, "1.46 KB" },
        { 2048.0f, "2 KB" },
        { 999999.0f, "976.56 KB" },
        { 1000000.0f, "0.95 MB" },
        { 1000000000.0f, "953.67 MB" }, // exactly 10^9 is not above the GB threshold
        { 1000000001.0f, "953.67 MB" }, // equals 10^9 in single precision
        { 2000000000.0f, "1.86 GB" },
        { 5000000000.0f, "4.65 GB" },
        { 1048576.0f, "1 MB" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatSizeUnit(c.value), c.text) << "value " << c.value;
}

TEST(FormatByteCount, GroupsOfThreeInSinglePrecision)
{
    const SizeCase cases[] = {
        { 0.0f, "0 Byte" }, { 999.0f, "999 Byte" }, { 1000.0f, "1,000 Byte" }, { 1001.0f, "1,001 Byte" },
        { 123000.0f, "123,000 Byte" }, { 1000000.0f, "1,000,000 Byte" }, { 1000999.0f, "1,000,999 Byte" },
        { 123456789.0f, "123,456,792 Byte" }, { 4294967295.0f, "4,294,967,296 Byte" },
        { 5000000000.0f, "5,000,000,000 Byte" },
        { 1099511627776.0f, "1099,511,627,776 Byte" }, // a leading group above 999 is printed as it is
        { 999.9f, "999 Byte" }, // truncated, not rounded
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatByteCount(c.value), c.text) << "value " << c.value;
}

class FormatFileDateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        m_hadTz = tz != nullptr;
        if (tz) m_oldTz = tz;
    }
    void TearDown() override
    {
        if (m_hadTz)
            setenv("TZ", m_oldTz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    bool m_hadTz = false;
    std::string m_oldTz;
};

TEST_F(FormatFileDateTest, LocalTimeWithSpacePaddedSeconds)
{
    test::TempTree tree;
    tree.write("a.txt", "x");
    // 2006-02-03 10:05:07 UTC
    tree.setTime("a.txt", 1138961107);
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(FormatFileDate(tree.drive("a.txt")), "02/03/2006    10:05: 7");
    // The local time follows the time zone (Tokyo is 9 hours ahead, no daylight saving).
    setenv("TZ", "JST-9", 1);
    tzset();
    EXPECT_EQ(FormatFileDate(tree.drive("a.txt")), "02/03/2006    19:05: 7");
    EXPECT_EQ(FormatFileDate(tree.drive("missing.txt")), "");
}

TEST(FileErrorMessage, TableOfCodes)
{
    const struct {
        uint32_t code;
        const char* text;
    } cases[] = {
        { 2, "File Not Found" },
        { 3, "Path Not Found" },
        { 16, "Curren Directory　を削除しようとした" },
        { 19, "書き込み禁止になっている" },
        { 32, "使用中のファイルは操作出来ません" },
        { 65, "アクセスが拒否されました" },
        { 80, "同じＤｉｓｋ上で上書きしようとした" },
        { 112, "ディスク容量を越えました" },
        { 145, "DIR　が空でない　！" },
        { 161, "Bad PathName !" },
        { 183, "同じ名前が既にあります" },
        { 1920, "パイプ，ソケット，デバイスは扱えません" },
        { 87, "エラー番号　87" },
        { 1392, "エラー番号　1392" },
        { 0, "エラー番号　0" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileErrorMessage(c.code, 0), c.text) << "code " << c.code;
}

TEST(FileErrorMessage, AccessDeniedByContext)
{
    const std::string head = "Accesee Denied !\n\r\n\r";
    const struct {
        int context;
        const char* detail;
    } cases[] = {
        { 0, "ＲｅａｄＯｎｌｙ　に上書きしようとした" },
        { 2, "ＲｅａｄＯｎｌｙ　を削除しようとした" },
        { 3, "空でないフォルダーか, ＲｅａｄＯｎｌｙを削除しようとした" },
        { 4, "ＲｅａｄＯｎｌｙ　を削除しようとした" },
        { 5, "ＲｅａｄＯｎｌｙ　に上書きしようとした" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileErrorMessage(5, c.context), head + c.detail) << "context " << c.context;
}

TEST(ReportFileError, NameInFrontReadsLastErrorAndContext)
{
    ResetMainState();
    test::FakeUi fake;
    SetLastError(3);
    ReportFileError("", kContextOverwrite);
    SetLastError(5);
    ReportFileError("C:\\a\\b.txt", kContextDeleteBackup);
    SetLastError(87);
    ReportFileError("C:\\x", kContextDeleteBackup);
    ASSERT_EQ(fake.messages.size(), 3u);
    for (const auto& m : fake.messages)
        EXPECT_TRUE(m.plain);
    EXPECT_EQ(fake.messages[0].text, "Path Not Found");
    EXPECT_EQ(fake.messages[1].text, "C:\\a\\b.txt  :   Accesee Denied !\n\r\n\rＲｅａｄＯｎｌｙ　を削除しようとした");
    EXPECT_EQ(fake.messages[2].text, "C:\\x  :   エラー番号　87");
}

TEST(AppMessageBox, PassesCaptionFlagsAndAnswer)
{
    test::FakeUi fake;
    fake.answers.push_back(kIdYes);
    EXPECT_EQ(AppMessageBox("q", kCaptionCaution, kMbYesNo), kIdYes);
    EXPECT_EQ(AppMessageBox("q", kCaptionCaution, kMbYesNo), kIdNo);
    ShowPlainMessage("plain");
    ASSERT_EQ(fake.messages.size(), 3u);
    EXPECT_EQ(fake.messages[0].caption, "注意");
    EXPECT_EQ(fake.messages[0].flags, kMbYesNo);
    EXPECT_TRUE(fake.messages[2].plain);
    EXPECT_EQ(std::string(kCaptionReport), "報告");
    EXPECT_EQ(std::string(kCaptionWarning), "警告");
}

} // namespace
} // namespace zelo
