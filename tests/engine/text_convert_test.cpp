// Text conversions: the six byte conversions, the rewrite that leaves the original intact on any
// failure, the write-back in place with its kept copy and held signals, the reports, warnings and errors.
#include "engine/text_convert.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/ordinary_user.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace zelo {
namespace {

using namespace std::string_literals;

const std::string kEncodingFailed = "改行コ－ドが0Ａのみでないと，Utf8ToAnsi()が動作しないようです";

TEST(ConvertText, BytesOfEveryMode)
{
    const struct {
        int mode;
        std::string in;
        std::optional<std::string> out;
    } cases[] = {
        { 0, "a\r\nb\r\n", "a\nb\n" },
        { 0, "old\rmac", "oldmac" }, // a lone CR goes too, joining the lines
        { 0, "", "" },
        { 1, "a\x1b[31mred\x1b[0mb", "aredb" },
        { 1, "m\x1b[1;4mx", "mx" },
        { 1, "keep\x1b[31 no end", "keep" }, // an ESC without a later "m" removes the rest
        { 2, "AB\b", "A" },
        { 2, "\bA", "A" }, // a BS at the very beginning is ignored
        { 2, "x\x82\xa0\b", "x" }, // a double-byte character goes with one BS
        { 2, "x\x95\x5c\b\b", "" }, // its trail byte may be "\"; a second BS takes the "x"
        { 2,
            "\x82\xa0"
            "A\b",
            "\x82\xa0" },
        { 2, "\0\x82\xa0\b"s, "\0\x82"s }, // after a zero byte no byte is a lead byte
        { 2, "A\x82", "A\x82" }, // a lead byte as the last byte is kept alone
        { 2, "\x82\b", "\x82\b" }, // the byte after a lead byte is its second byte, whatever it is
        { 3, "a\nb", "a\r\nb" },
        { 3, "a\r\n", "a\r\r\n" }, // existing CR LF becomes CR CR LF
        { 4, "あ\r\nｱ〜\n", "\x82\xa0\r\n\xb1\x81\x60\n" },
        { 4, "a\0é"s, "a\0?"s }, // a zero byte is a character; é is not in CP932
        { 4, "¥〜", "\\\x81\x60" }, // the code page's own forms of the JIS characters
        { 4, "\xF0\x9F\x98\x80", std::nullopt },
        { 4, "ok\xC0\xAF", std::nullopt },
        { 5, "\x82\xa0\r\n\0\xb1"s, "あ\r\n\0ｱ"s }, // no byte-order mark, line ends kept
        { 5, "", "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " in " << testing::PrintToString(c.in));
        EXPECT_EQ(ConvertText(c.mode, c.in), c.out);
    }
    const std::string lfOnly = "one\ntwo\n\nthree";
    EXPECT_EQ(ConvertText(0, *ConvertText(3, lfOnly)), lfOnly);
}

// Inputs of several MiB whose characters and sequences straddle the conversion's block boundaries.
TEST(ConvertText, AcrossBlocks)
{
    const struct {
        int mode;
        std::string unit;
        std::string converted;
    } cases[] = {
        { 0, "ab\r\n\r", "ab\n" },
        { 1, "a\x1b[1mc", "ac" },
        { 2,
            "\x82\xa0\b"
            "ab\b",
            "a" },
        { 3, "abcd\n", "abcd\r\n" },
        { 4, "xあ", "x\x82\xa0" },
        { 5, "x\x82\xa0", "xあ" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        std::string in;
        std::string expected;
        for (int i = 0; i < 700'000; ++i) {
            in += c.unit;
            expected += c.converted;
        }
        EXPECT_TRUE(ConvertText(c.mode, in) == expected);
    }
}

// Backspaces that take back more text than one buffer holds reach bytes already written: what
// follows goes over them and the text ends where the backspaces left it, in memory and in a file.
TEST(ConvertText, BackspacesReachWrittenText)
{
    const std::string in = std::string(5u << 20, 'a') + std::string((5u << 20) - 3, '\b') + "xy";
    EXPECT_TRUE(ConvertText(2, in) == "aaaxy");
    test::TempTree tree;
    test::FakeUi fake;
    tree.write("bs.txt", in);
    EXPECT_EQ(ConvertFiles({ tree.drive("bs.txt") }, 2).converted, 1);
    EXPECT_EQ(tree.read("bs.txt"), "aaaxy");
}

// Notes whether the progress window was up when each message box appeared.
class RecordingUi : public test::FakeUi {
public:
    int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags) override
    {
        progressUp.push_back(progress.visible);
        return FakeUi::AppMessageBox(text, caption, flags);
    }
    std::vector<bool> progressUp;
};

// A text of size bytes with CR LF line ends, and its mode 0 conversion.
std::string CrLfText(size_t size)
{
    std::string text;
    while (text.size() < size)
        text += "ab\r\n";
    return text;
}

// The copies of originals kept in a directory.
std::vector<std::string> KeptCopies(const std::string& linuxDir)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(linuxDir, error)) {
        const std::string name = e.path().filename().string();
        if (name.find(".zelo-original") != std::string::npos) names.push_back(name);
    }
    return names;
}

volatile sig_atomic_t g_terms = 0;

// SIGTERM only counted, for the scope's lifetime.
class CountedTerm {
public:
    CountedTerm()
    {
        g_terms = 0;
        struct sigaction counting { };
        counting.sa_handler = [](int) { g_terms = g_terms + 1; };
        ::sigaction(SIGTERM, &counting, &m_previous);
    }
    ~CountedTerm() { ::sigaction(SIGTERM, &m_previous, nullptr); }

private:
    struct sigaction m_previous { };
};

ino_t InodeOf(const std::string& linuxPath)
{
    struct stat st { };
    return ::lstat(linuxPath.c_str(), &st) == 0 ? st.st_ino : 0;
}

class ConvertFilesTest : public ::testing::Test {
protected:
    void SetUp() override { ResetMainState(); }

    std::vector<test::ShownMessage> Reports() const
    {
        std::vector<test::ShownMessage> out;
        for (const auto& m : fake.messages) {
            if (m.caption == "報告") out.push_back(m);
        }
        return out;
    }
    // No temporary file and no kept copy is left beside the converted files.
    void ExpectNoTemporaryFiles() const
    {
        for (const auto& e : std::filesystem::directory_iterator(tree.root()))
            EXPECT_EQ(e.path().filename().string().rfind(".zelo-", 0), std::string::npos) << e.path();
        EXPECT_EQ(KeptCopies(tree.root()), std::vector<std::string> {});
    }
    // h1.txt with content and a second name h2.txt.
    void WriteLinked(const std::string& content) const
    {
        std::filesystem::remove(tree.linux("h2.txt"));
        tree.write("h1.txt", content);
        ASSERT_EQ(::link(tree.linux("h1.txt").c_str(), tree.linux("h2.txt").c_str()), 0);
    }

    test::TempTree tree;
    RecordingUi fake;
};

TEST_F(ConvertFilesTest, ReportsPerModeAndProgress)
{
    const struct {
        int mode;
        std::string in, out, report;
    } cases[] = {
        { 0, "a\r\n", "a\n", "2　ファイルの0DH を削除しました" },
        { 1, "\x1b[1mb", "b", "2　Ｆｉｌｅを変換しました" },
        { 2, "ab\b", "a", "2　Ｆｉｌｅを変換しました" },
        { 3, "a\n", "a\r\n", "2　ファイルの0DH0AH 変換しました" },
        { 4, "あ", "\x82\xa0", "2　ファイルをutf8→ShiftJisに変換しました" },
        { 5, "\x82\xa0", "あ", "2　ファイルをShiftJis→utf8に変換しました" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        fake.messages.clear();
        fake.progress = {};
        tree.write("a.txt", c.in);
        tree.write("b.txt", c.in);
        tree.write("c.txt", c.in);
        const auto result = ConvertSelectedFiles(
            Selection::Of(tree.drive(""), { "a.txt", "b.txt", "c.txt" }, { true, false, true }), c.mode);
        EXPECT_EQ(result.converted, 2);
        EXPECT_EQ(tree.read("a.txt"), c.out);
        EXPECT_EQ(tree.read("b.txt"), c.in);
        EXPECT_EQ(tree.read("c.txt"), c.out);
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(Reports().at(0).text, c.report);
        // Only the byte conversions show the progress window, with its stop button hidden meanwhile.
        EXPECT_EQ(fake.progress.showCount, c.mode <= 3 ? 2 : 0);
        EXPECT_EQ(fake.progress.label, c.mode <= 3 ? "変換中" : "");
        EXPECT_TRUE(fake.progress.stopVisible);
        EXPECT_FALSE(fake.progress.visible);
    }
    ExpectNoTemporaryFiles();
}

// What is written where: a link's target (the link stays a link), every name of a file with hard
// links (its inode kept), nothing in a ReadOnly file (warned while the progress window is up).
TEST_F(ConvertFilesTest, TargetsLinksAndReadOnly)
{
    tree.write("t.txt", "a\n");
    tree.symlink("sub/../t.txt", "ln.txt");
    tree.mkdir("sub");
    tree.write("h1.txt", "b\n");
    ASSERT_EQ(::link(tree.linux("h1.txt").c_str(), tree.linux("h2.txt").c_str()), 0);
    tree.write("ro.txt", "c\n");
    tree.setReadOnly("ro.txt", true);
    const ino_t hardInode = InodeOf(tree.linux("h1.txt"));

    const auto result = ConvertFiles({ tree.drive("ln.txt"), tree.drive("h1.txt"), tree.drive("ro.txt") }, 3);
    EXPECT_EQ(result.converted, 2);
    EXPECT_EQ(result.skipped, 1);
    EXPECT_TRUE(std::filesystem::is_symlink(tree.linux("ln.txt")));
    EXPECT_EQ(tree.read("t.txt"), "a\r\n");
    EXPECT_EQ(tree.read("h1.txt"), "b\r\n");
    EXPECT_EQ(tree.read("h2.txt"), "b\r\n");
    EXPECT_EQ(InodeOf(tree.linux("h2.txt")), hardInode);
    EXPECT_EQ(InodeOf(tree.linux("h1.txt")), hardInode);
    EXPECT_EQ(tree.read("ro.txt"), "c\n");
    EXPECT_EQ(fake.texts(),
        (std::vector<std::string> { "ＲｅａｄＯｎｌｙ　のようです", "2　ファイルの0DH0AH 変換しました" }));
    EXPECT_EQ(fake.progressUp, (std::vector<bool> { true, false }));
    ExpectNoTemporaryFiles();
}

// As an ordinary user: a writable file in a folder the user may not write is converted in place, its
// original kept meanwhile in the user's state folder under its path; where no state folder can be made,
// the file is refused. A file the user may read but not write (not ReadOnly) says so. The command goes on.
TEST_F(ConvertFilesTest, FolderOrFileTheUserMayNotWrite)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
    tree.mkdir("mine");
    tree.write("mine/x.txt", "x\n");
    tree.write("mine/y.txt", "y\n");
    tree.write("theirs.txt", "y\n");
    tree.mkdir("mine/state");
    tree.write("no-state", "");
    ::chmod(tree.root().c_str(), 0755);
    const std::string mine = tree.linux("mine");
    std::string keptName = tree.linux("mine/x.txt").substr(1);
    for (size_t at = 0; (at = keptName.find('/', at)) != std::string::npos;)
        keptName.replace(at, 1, "%2F");
    const std::string kept = tree.linux("mine/state/zelo/") + keptName + ".zelo-original";
    const auto ran = test::RunAsOrdinaryUser(mine, [&] {
        test::FaultyFileSystem faulty(fs());
        ScopedFileSystem scope(faulty);
        bool keptWhileWriting = false;
        faulty.beforeWrite = [&] {
            keptWhileWriting = keptWhileWriting || tree.read(kept.substr(tree.root().size() + 1)) == "x\n";
            return true;
        };
        ::chmod(mine.c_str(), 0555);
        const test::ScopedEnv state("XDG_STATE_HOME", tree.linux("mine/state"));
        const auto result = ConvertFiles({ tree.drive("theirs.txt"), tree.drive("mine/x.txt") }, 3);
        const test::ScopedEnv noState("XDG_STATE_HOME", tree.linux("no-state"));
        const auto refused = ConvertFiles({ tree.drive("mine/y.txt") }, 3);
        ::chmod(mine.c_str(), 0755);
        return result.converted == 1 && result.skipped == 1 && refused.skipped == 1 && keptWhileWriting
            && fake.texts()
            == std::vector<std::string> { tree.drive("theirs.txt") + "  :   Accesee Denied !",
                   "1　ファイルの0DH0AH 変換しました",
                   tree.drive("mine/y.txt")
                       + "  :   元のファイルを控えられないので変換しませんでした（Path Not Found）",
                   "0　ファイルの0DH0AH 変換しました" };
    });
    if (!ran) GTEST_SKIP() << "needs root to act as the user nobody, or an ordinary user";
    EXPECT_TRUE(*ran);
    EXPECT_EQ(tree.read("mine/x.txt"), "x\r\n");
    EXPECT_EQ(tree.read("mine/y.txt"), "y\n");
    EXPECT_EQ(tree.read("theirs.txt"), "y\n");
    EXPECT_EQ(KeptCopies(tree.linux("mine/state/zelo")), std::vector<std::string> {});
}

// A file of several names is written back in place: while it is written its original sits in a durable
// copy beside it (what a kill or a power loss then leaves), a SIGTERM waits for the end of the
// write-back, and the copy goes once the file is whole.
TEST_F(ConvertFilesTest, WriteBackInPlaceKeepsTheOriginalAndHoldsSignals)
{
    const std::string content = CrLfText(3'000'000);
    const std::string converted = *ConvertText(0, content);
    WriteLinked(content);
    const ino_t inode = InodeOf(tree.linux("h1.txt"));
    test::FaultyFileSystem faulty(fs());
    ScopedFileSystem scope(faulty);
    const CountedTerm counted;
    int termsWhileWriting = -1;
    std::string keptWhileWriting;
    faulty.beforeWrite = [&] {
        // The converted text goes into a replacement first; the next write is the write-back's.
        if (termsWhileWriting < 0 && faulty.bytesWritten >= int64_t(converted.size())) {
            ::raise(SIGTERM);
            termsWhileWriting = g_terms;
            if (tree.exists(".h1.txt.zelo-original")) keptWhileWriting = tree.read(".h1.txt.zelo-original");
        }
        return true;
    };
    const auto result = ConvertFiles({ tree.drive("h1.txt") }, 0);
    EXPECT_EQ(termsWhileWriting, 0);
    EXPECT_EQ(g_terms, 1);
    EXPECT_TRUE(keptWhileWriting == content);
    EXPECT_EQ(result.converted, 1);
    EXPECT_TRUE(tree.read("h1.txt") == converted);
    EXPECT_TRUE(tree.read("h2.txt") == converted);
    EXPECT_EQ(InodeOf(tree.linux("h2.txt")), inode);
    ExpectNoTemporaryFiles();
}

// No room for the copy of the original: the file is refused with the cause and left as it was, and the
// command goes on with the next file.
TEST_F(ConvertFilesTest, NoRoomForTheKeptCopyRefusesTheFile)
{
    const std::string content = CrLfText(300'000);
    test::FaultyFileSystem faulty(fs());
    ScopedFileSystem scope(faulty);
    for (int mode : { 0, 5 }) {
        SCOPED_TRACE(mode);
        fake.messages.clear();
        WriteLinked(content);
        tree.write("next.txt", content);
        // Room for the converted text, none for the copy; room again once the refusal is shown.
        faulty.bytesWritten = 0;
        faulty.failWriteAfter = int64_t(ConvertText(mode, content)->size());
        faulty.beforeWrite = [&] {
            if (!fake.messages.empty()) faulty.failWriteAfter = -1;
            return true;
        };
        const auto result = ConvertFiles({ tree.drive("h1.txt"), tree.drive("next.txt") }, mode);
        EXPECT_EQ(result.skipped, 1);
        EXPECT_EQ(result.converted, 1);
        EXPECT_TRUE(tree.read("h1.txt") == content);
        EXPECT_TRUE(tree.read("next.txt") == *ConvertText(mode, content));
        EXPECT_EQ(fake.texts(),
            (std::vector<std::string> { tree.drive("h1.txt")
                    + "  :   元のファイルを控えられないので変換しませんでした（ディスク容量を越えました）",
                "1" + ConversionReportText(mode) }));
        ExpectNoTemporaryFiles();
    }
}

// A write-back that fails half way (an I/O error) is undone from the kept copy; where the file cannot be
// written any more, the copy stays and the message says where the original is.
TEST_F(ConvertFilesTest, FailedWriteBackIsUndoneOrLeavesTheCopy)
{
    const std::string content = CrLfText(3'000'000);
    const int64_t beforeWriteBack = int64_t(ConvertText(0, content)->size() + content.size());
    test::FaultyFileSystem faulty(fs());
    faulty.writeError = 1117;
    ScopedFileSystem scope(faulty);
    for (bool lasting : { false, true }) {
        SCOPED_TRACE(lasting);
        fake.messages.clear();
        WriteLinked(content);
        faulty.bytesWritten = 0;
        // The converted text and the kept copy are written, then the write-back's second write fails.
        int writeBacks = 0;
        faulty.beforeWrite = [&] {
            if (faulty.bytesWritten < beforeWriteBack) return true;
            ++writeBacks;
            return writeBacks == 1 || (writeBacks > 2 && !lasting);
        };
        const auto result = ConvertFiles({ tree.drive("h1.txt") }, 0);
        EXPECT_TRUE(result.failed);
        const std::string error = tree.drive("h1.txt") + "  :   入出力エラーです（ディスクかネットワークの障害）";
        if (lasting) {
            EXPECT_TRUE(tree.read(".h1.txt.zelo-original") == content);
            EXPECT_EQ(fake.texts(),
                std::vector<std::string> {
                    error + "（元の内容は " + tree.drive(".h1.txt.zelo-original") + " にあります）" });
            std::filesystem::remove(tree.linux(".h1.txt.zelo-original"));
        } else {
            EXPECT_TRUE(tree.read("h1.txt") == content);
            EXPECT_EQ(fake.texts(), std::vector<std::string> { error });
        }
        ExpectNoTemporaryFiles();
    }
}

// Malformed UTF-8 and an empty file: both messages, the file untouched, nothing converted after it.
TEST_F(ConvertFilesTest, EncodingFailuresLeaveFilesUntouched)
{
    const struct {
        int mode;
        std::string content;
    } cases[] = {
        { 4, "ok\xC0\xAF" }, // overlong
        { 4, "ok\x80" }, // lone continuation
        { 4, "\xF0\x9F\x98\x80" }, // four bytes
        { 5, "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.content));
        fake.messages.clear();
        tree.write("bad.txt", c.content);
        tree.write("next.txt", "あ");
        const auto result = ConvertFiles({ tree.drive("bad.txt"), tree.drive("next.txt") }, c.mode);
        EXPECT_TRUE(result.failed);
        EXPECT_EQ(tree.read("bad.txt"), c.content);
        EXPECT_EQ(tree.read("next.txt"), "あ");
        EXPECT_EQ(fake.texts(),
            (std::vector<std::string> {
                kEncodingFailed, tree.drive("bad.txt") + "のＳｈｉｆｔＪｉｓの変換に失敗しました" }));
    }
    ExpectNoTemporaryFiles();
}

// A full disk half way, into the replacement or (hard links) beyond the old end of the file itself.
TEST_F(ConvertFilesTest, WriteFailureKeepsTheOriginal)
{
    const std::string content(3'000'000, '\n');
    tree.write("big.txt", content);
    tree.write("linked.txt", content);
    ASSERT_EQ(::link(tree.linux("linked.txt").c_str(), tree.linux("other.txt").c_str()), 0);
    test::FaultyFileSystem faulty(fs());
    faulty.failWriteAfter = 1'000'000;
    ScopedFileSystem scope(faulty);
    const struct {
        std::string name;
        int mode;
    } cases[] = { { "big.txt", 3 }, { "big.txt", 0 }, { "big.txt", 5 }, { "linked.txt", 3 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + " " + std::to_string(c.mode));
        fake.messages.clear();
        faulty.bytesWritten = 0;
        const auto result = ConvertFiles({ tree.drive(c.name) }, c.mode);
        EXPECT_TRUE(result.failed);
        EXPECT_TRUE(tree.read(c.name) == content);
        const std::string expected = c.mode <= 3 ? tree.drive(c.name) + "  :   ディスク容量を越えました"
                                                 : tree.drive(c.name) + "のＳｈｉｆｔＪｉｓの変換に失敗しました";
        EXPECT_EQ(fake.texts(), std::vector<std::string> { expected });
    }
    ExpectNoTemporaryFiles();
}

TEST_F(ConvertFilesTest, KeepsPermissionBitsAndDosAttributes)
{
    tree.write("f.txt", "a\r\n");
    ::chmod(tree.linux("f.txt").c_str(), 0640);
    tree.setDosAttrib("f.txt", kAttrHidden | kAttrArchive);
    ConvertFiles({ tree.drive("f.txt") }, 0);
    EXPECT_EQ(tree.read("f.txt"), "a\n");
    struct stat st { };
    ASSERT_EQ(::stat(tree.linux("f.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(fs().GetAttributes(tree.drive("f.txt")) & (kAttrHidden | kAttrArchive), kAttrHidden | kAttrArchive);
}

TEST_F(ConvertFilesTest, TooBigFileEndsTheCommandAndMissingFileIsReported)
{
    tree.write("a.txt", "a\r\n");
    tree.write("huge.txt", "");
    std::filesystem::resize_file(tree.linux("huge.txt"), uint64_t(1) << 32); // sparse 4 GiB
    tree.write("c.txt", "c\r\n");
    auto result = ConvertFiles({ tree.drive("a.txt"), tree.drive("huge.txt"), tree.drive("c.txt") }, 0);
    EXPECT_TRUE(result.tooBig);
    EXPECT_EQ(tree.read("a.txt"), "a\n");
    EXPECT_EQ(tree.read("c.txt"), "c\r\n");
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "フアイルが大き過ぎます");
    EXPECT_EQ(fake.messages[0].caption, "警告");

    fake.messages.clear();
    result = ConvertFiles({ tree.drive("gone.txt"), tree.drive("c.txt") }, 0);
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(tree.read("c.txt"), "c\r\n");
    EXPECT_EQ(fake.texts(), std::vector<std::string> { "File Not Found" });
}

} // namespace
} // namespace zelo
