// Opening files and network shares through the command runner; the real runner's basics.
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/share_logins.h"
#include "platform/shell.h"
#include "tests/support/recording_runner.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <set>

using namespace zelo;
using zelo::test::TempTree;

namespace {

using Argv = std::vector<std::string>;
using test::RecordingRunner;

} // namespace

TEST(ShellOpen, OpensTheLinuxPathWithGioAndFallsBackToXdgOpen)
{
    TempTree tree;
    RecordingRunner runner;
    runner.otherwise = 1;
    ShellOpen("C:\\docs\\a b.txt");
    ASSERT_EQ(runner.detached.size(), 1u);
    EXPECT_EQ(runner.detached[0], (Argv { "gio", "open", tree.linux("docs/a b.txt") }));

    runner.detached.clear();
    runner.startable = { "xdg-open" };
    ShellOpen("C:\\x.pdf");
    EXPECT_EQ(runner.detached,
        (std::vector<Argv> { { "gio", "open", tree.linux("x.pdf") }, { "xdg-open", tree.linux("x.pdf") } }));

    runner.detached.clear();
    ShellOpen("Q:\\no-such-drive.txt");
    EXPECT_TRUE(runner.detached.empty());
    EXPECT_TRUE(runner.ran.empty());
}

TEST(NetworkDrives, ConnectMountsTheShareAndAddsARemoteLetter)
{
    TempTree tree;
    tree.mkdir("gvfs/smb-share:server=nas,share=music");
    const std::string directory = tree.linux("gvfs/smb-share:server=nas,share=music");
    RecordingRunner runner;
    runner.otherwise = 1;
    runner.answers[{ "gio", "mount", "smb://nas/music" }] = { 0, "" };
    runner.answers[{ "gio", "info", "smb://nas/music" }]
        = { 0, "display name: music on nas\nlocal path: " + directory + "\nuri: smb://nas/music/\n" };

    ASSERT_TRUE(ConnectNetworkDrive("smb://nas/music", 'x'));
    const Drive* drive = driveMap().find('X');
    ASSERT_NE(drive, nullptr);
    EXPECT_EQ(drive->type, kDriveRemote);
    EXPECT_EQ(drive->directory, directory);
    EXPECT_EQ(drive->unc, "\\\\nas\\music");
    std::string name;
    ASSERT_TRUE(GetUniversalName("X:\\", name));
    EXPECT_EQ(name, "\\\\nas\\music");
    EXPECT_EQ(driveMap().toLinux("X:\\song.mp3"), directory + "/song.mp3");

    // A share typed as a universal name is mounted by its address; a share mounted earlier
    // (the mount tool fails) is still connected when its directory is found.
    runner.ran.clear();
    ASSERT_TRUE(ConnectNetworkDrive("\\\\nas\\music", 'Y'));
    EXPECT_EQ(runner.ran.front(), (Argv { "gio", "mount", "smb://nas/music" }));
    ASSERT_NE(driveMap().find('Y'), nullptr);
    EXPECT_EQ(driveMap().find('Y')->unc, "\\\\nas\\music");
}

TEST(NetworkDrives, ConnectFindsTheGvfsDirectoryWhenInfoGivesNoPath)
{
    TempTree tree;
    tree.mkdir("runtime/gvfs/smb-share:server=host,share=docs");
    test::ScopedEnv runtime("XDG_RUNTIME_DIR", tree.linux("runtime"));
    RecordingRunner runner;
    runner.otherwise = 1;
    runner.answers[{ "gio", "mount", "smb://user@host:445/docs/sub" }] = { 0, "" };

    ASSERT_TRUE(ConnectNetworkDrive("smb://user@host:445/docs/sub", 'S'));
    const Drive* drive = driveMap().find('S');
    ASSERT_NE(drive, nullptr);
    EXPECT_EQ(drive->directory, tree.linux("runtime/gvfs/smb-share:server=host,share=docs"));
    EXPECT_EQ(drive->unc, "\\\\host\\docs\\sub");

    // Where GVfs names the folder with the port, that one is found.
    tree.mkdir("runtime/gvfs/smb-share:port=4450,server=host,share=docs");
    runner.answers[{ "gio", "mount", "smb://host:4450/docs" }] = { 0, "" };
    ASSERT_TRUE(ConnectNetworkDrive("smb://host:4450/docs", 'T'));
    EXPECT_EQ(driveMap().find('T')->directory, tree.linux("runtime/gvfs/smb-share:port=4450,server=host,share=docs"));
}

// Without a password to give, a share the mount tool cannot open otherwise is opened as a guest.
TEST(NetworkDrives, ConnectTriesAGuestConnectionAfterAFailure)
{
    TempTree tree;
    tree.mkdir("share");
    RecordingRunner runner;
    runner.otherwise = 1;
    runner.answers[{ "gio", "mount", "-a", "smb://nas/open" }] = { 0, "" };
    runner.answers[{ "gio", "info", "smb://nas/open" }] = { 0, "local path: " + tree.linux("share") + "\n" };
    ASSERT_TRUE(ConnectNetworkDrive("smb://nas/open", 'X'));
    EXPECT_EQ(runner.ran[0], (Argv { "gio", "mount", "smb://nas/open" }));
    EXPECT_EQ(runner.ran[1], (Argv { "gio", "mount", "-a", "smb://nas/open" }));
    ASSERT_NE(driveMap().find('X'), nullptr);
    EXPECT_EQ(driveMap().find('X')->directory, tree.linux("share"));
}

TEST(NetworkDrives, ConnectFailuresAddNothing)
{
    TempTree tree;
    test::ScopedEnv runtime("XDG_RUNTIME_DIR", tree.linux("none"));
    RecordingRunner runner;
    runner.otherwise = 1;
    EXPECT_FALSE(ConnectNetworkDrive("smb://nas/missing", 'X'));
    EXPECT_EQ(driveMap().find('X'), nullptr);

    // A letter in use, or not a letter, is refused before anything runs.
    runner.ran.clear();
    EXPECT_FALSE(ConnectNetworkDrive("smb://nas/music", 'C'));
    EXPECT_FALSE(ConnectNetworkDrive("smb://nas/music", '1'));
    EXPECT_FALSE(ConnectNetworkDrive("", 'X'));
    EXPECT_TRUE(runner.ran.empty());
    EXPECT_EQ(driveMap().drives().size(), 1u);
}

TEST(NetworkDrives, DisconnectUnmountsWithoutForceAndRemovesTheLetter)
{
    TempTree tree;
    tree.mkdir("share");
    driveMap().add(Drive { 'Z', tree.linux("share"), kDriveRemote, std::nullopt, "\\\\nas\\share" });
    driveMap().add(Drive { 'Y', tree.linux("busy"), kDriveRemote, std::nullopt, "\\\\nas\\busy" });
    RecordingRunner runner;
    runner.otherwise = 1;
    runner.answers[{ "gio", "mount", "-u", tree.linux("share") }] = { 0, "" };

    ASSERT_TRUE(DisconnectNetworkDrive("Z:"));
    EXPECT_EQ(runner.ran, (std::vector<Argv> { { "gio", "mount", "-u", tree.linux("share") } }));
    EXPECT_EQ(driveMap().find('Z'), nullptr);
    EXPECT_NE(driveMap().find('C'), nullptr);

    // The unmount refused (files open): the drive stays.
    EXPECT_FALSE(DisconnectNetworkDrive("Y:"));
    EXPECT_NE(driveMap().find('Y'), nullptr);

    // Only network drives are disconnected.
    runner.ran.clear();
    EXPECT_FALSE(DisconnectNetworkDrive("C:"));
    EXPECT_FALSE(DisconnectNetworkDrive("Q:"));
    EXPECT_FALSE(DisconnectNetworkDrive(""));
    EXPECT_TRUE(runner.ran.empty());
    EXPECT_NE(driveMap().find('C'), nullptr);
}

TEST(NetworkDrives, ALoginAnswersTheMountToolOnceAndIsHeldOnlyWhileItWorks)
{
    TempTree tree;
    const std::string directory = tree.linux("smb-share:port=4450,server=nas,share=private");
    RecordingRunner runner;
    runner.answers[{ "gio", "info", "smb://nas:4450/private" }] = { 0, "local path: " + directory + "\n" };
    const Argv mount { "gio", "mount", "smb://nas:4450/private" };
    // A password asked again was refused: the connection ends instead of asking forever.
    runner.prompts[mount] = { "User [me]: ", "Domain [WORKGROUP]: ", "Password: ", "Password: " };
    int asked = 0;
    const ShareLogin login { "alice",
        [&asked] {
            ++asked;
            return std::optional<std::string>("s3cret");
        },
        "OFFICE" };
    ASSERT_TRUE(ConnectNetworkDrive("smb://nas:4450/private", 'P', &login));
    EXPECT_EQ(runner.replies, (std::vector<std::optional<std::string>> { "alice", "OFFICE", "s3cret", std::nullopt }));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(runner.ran, (std::vector<Argv> { mount, { "gio", "info", "smb://nas:4450/private" } }));
    const auto held = ShareCredentialsFor("NAS:4450", "Private");
    ASSERT_TRUE(held);
    EXPECT_EQ(held->user + "/" + held->domain + "/" + held->password, "alice/OFFICE/s3cret");

    // The mount tool asking again from the user on refused the login: nothing is held, and the
    // refusal is told apart from a share that is not there.
    const Argv refused { "gio", "mount", "smb://nas/locked" };
    runner.prompts[refused] = { "User [me]: ", "Domain [WORKGROUP]: ", "Password: ", "User [me]: " };
    runner.replies.clear();
    EXPECT_FALSE(ConnectNetworkDrive("smb://nas/locked", 'L', &login));
    EXPECT_EQ(GetLastError(), err::LogonFailure);
    EXPECT_EQ(runner.replies.back(), std::nullopt);
    EXPECT_FALSE(ShareCredentialsFor("nas", "locked"));

    // Disconnecting forgets the login.
    runner.answers[{ "gio", "mount", "-u", directory }] = { 0, "" };
    ASSERT_TRUE(DisconnectNetworkDrive("P:"));
    EXPECT_FALSE(ShareCredentialsFor("nas:4450", "private"));
}

// Without a login, a share that refuses a guest says so (the window then asks for a login); a share
// that is not there stays "not found".
TEST(NetworkDrives, AGuestRefusedIsToldApartFromAShareNotFound)
{
    TempTree tree;
    test::ScopedEnv runtime("XDG_RUNTIME_DIR", tree.linux("none"));
    RecordingRunner runner;
    runner.otherwise = 2;
    runner.errors[{ "gio", "mount", "-a", "smb://nas/locked" }] = "gio: smb://nas/locked/: Anonymous access denied\n";
    runner.errors[{ "gio", "mount", "-a", "smb://nas/gone" }]
        = "gio: smb://nas/gone/: Failed to mount Windows share: No such file or directory\n";
    EXPECT_FALSE(ConnectNetworkDrive("smb://nas/locked", 'X'));
    EXPECT_EQ(GetLastError(), err::LogonFailure);
    EXPECT_FALSE(ConnectNetworkDrive("smb://nas/gone", 'X'));
    EXPECT_EQ(GetLastError(), err::BadNetName);
}

TEST(ProcessRunner, AnswersTheQuestionsACommandAsks)
{
    // The answer reaches the command; its input ends at a nullopt.
    const std::string script
        = "printf 'Note\\nPassword: '; read -r a; printf 'Again: '; read -r b && exit 9; [ \"$a\" = pw ] && exit 5";
    std::vector<std::string> asked;
    EXPECT_EQ(commandRunner().RunAnswering({ "sh", "-c", script },
                  [&asked](const std::string& prompt) -> std::optional<std::string> {
                      asked.push_back(prompt);
                      if (prompt == "Password: ") return std::string("pw");
                      return std::nullopt;
                  }),
        5);
    EXPECT_EQ(asked, (std::vector<std::string> { "Password: ", "Again: " }));
    // A command that ends before it reads its answer costs no signal.
    EXPECT_EQ(
        commandRunner().RunAnswering({ "sh", "-c", "printf 'Q: '; exit 0" }, [](const std::string&) { return "x"; }),
        0);
}

TEST(ProcessRunner, RunsCommandsAndCapturesTheirOutput)
{
    CommandRunner& runner = commandRunner();
    std::string output = "stale";
    EXPECT_EQ(runner.Run({ "sh", "-c", "printf 'hello\\nworld'; exit 3" }, &output), 3);
    EXPECT_EQ(output, "hello\nworld");
    // Arguments reach the program as they are, spaces and quotes included.
    EXPECT_EQ(runner.Run({ "sh", "-c", "printf %s \"$1\"", "sh", "a 'b' \"c\"" }, &output), 0);
    EXPECT_EQ(output, "a 'b' \"c\"");
    EXPECT_EQ(runner.Run({ "sh", "-c", "exit 0" }), 0);
    EXPECT_EQ(runner.Run({ "zelo-no-such-command-xyz" }, &output), -1);
    // Standard error apart, a large output on both not blocking either; messages in English whatever the
    // desktop's language.
    test::ScopedEnv language("LANGUAGE", "ja");
    test::ScopedEnv all("LC_ALL", "ja_JP.UTF-8");
    std::string errors;
    EXPECT_EQ(runner.RunCapturing({ "sh", "-c", "head -c 200000 /dev/zero >&2; printf '%s' \"$LC_ALL:${LANGUAGE-}\"" },
                  &output, &errors),
        0);
    EXPECT_EQ(output, "C.UTF-8:");
    EXPECT_EQ(errors.size(), 200000u);
    EXPECT_EQ(runner.Run({}), -1);

    EXPECT_TRUE(runner.StartDetached({ "true" }));
    EXPECT_FALSE(runner.StartDetached({ "zelo-no-such-command-xyz" }));
    EXPECT_FALSE(runner.StartDetached({}));
}
