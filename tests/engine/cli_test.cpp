// zelo-cli as scripts use it: exit codes, output, paths outside every drive.
#include "tests/support/ordinary_user.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <memory>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace zelo {
namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs zelo-cli with the given drive map (ZELO_DRIVES) and arguments (in directory, when given).
CliRun RunCli(const std::string& drives, const std::string& arguments, const std::string& scratch,
    const std::string& directory = {})
{
    const std::string errFile = scratch + "/cli-stderr.txt";
    const std::string command = (directory.empty() ? "" : "cd '" + directory + "' && ") + "ZELO_DRIVES='" + drives
        + "' '" + ZELO_CLI_PATH + "' " + arguments + " 2>'" + errFile + "'";
    CliRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, got);
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(errFile);
    std::stringstream ss;
    ss << in.rdbuf();
    run.err = ss.str();
    std::remove(errFile.c_str());
    return run;
}

TEST(ZeloCli, CountAndDelete)
{
    test::TempTree tree;
    tree.mkdir("scratch");
    tree.mkdir("t/a/b");
    tree.writeSized("t/one", 1000);
    tree.writeSized("t/a/two", 2000);
    tree.writeSized("t/a/b/three", 3000);
    const std::string scratch = tree.linux("scratch");
    // Mapped through C: = "/", and through a map that holds no drive for the path.
    for (const std::string drives : { "C=/", "C=/nonexistent-zelo-drive" }) {
        SCOPED_TRACE(drives);
        CliRun count = RunCli(drives, "count '" + tree.linux("t") + "'", scratch);
        EXPECT_EQ(count.status, 0) << count.err;
        EXPECT_EQ(count.out, "directories 2\nfiles 3\nbytes 6000\ntotal 6,000 Byte\nsize 5.85 KB\n");
    }

    CliRun missing = RunCli("C=/", "count '" + tree.linux("nothing") + "'", scratch);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("nothing: does not exist"), std::string::npos) << missing.err;

    CliRun unknown = RunCli("C=/", "frobnicate", scratch);
    EXPECT_NE(unknown.status, 0);
    // A mistyped option deletes nothing.
    CliRun badOption = RunCli("C=/", "delete --keep-rot '" + tree.linux("t") + "'", scratch);
    EXPECT_EQ(badOption.status, 2);
    EXPECT_TRUE(tree.exists("t/one"));

    // A read-only file kept: the deletion fails, with the messages on standard error.
    tree.setReadOnly("t/a/b/three", true);
    CliRun refused = RunCli("C=/", "delete --keep-readonly '" + tree.linux("t") + "'", scratch);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("Accesee Denied"), std::string::npos) << refused.err;
    EXPECT_TRUE(tree.exists("t/a/b/three"));

    CliRun keepRoot = RunCli("C=/", "delete --keep-root '" + tree.linux("t") + "'", scratch);
    EXPECT_EQ(keepRoot.status, 0) << keepRoot.err;
    EXPECT_EQ(keepRoot.out, "directories 2\nfiles 1\n");
    EXPECT_TRUE(tree.exists("t"));
    EXPECT_FALSE(tree.exists("t/a"));

    // A drive's root is emptied with --keep-root, never removed.
    tree.write("t/x", "x");
    CliRun driveRoot = RunCli("C=" + tree.linux("t"), "delete '" + tree.linux("t") + "'", scratch);
    EXPECT_EQ(driveRoot.status, 2);
    EXPECT_NE(driveRoot.err.find("refusing to delete the root of drive C:"), std::string::npos) << driveRoot.err;
    EXPECT_TRUE(tree.exists("t/x"));

    CliRun all = RunCli("C=/nonexistent-zelo-drive", "delete '" + tree.linux("t") + "'", scratch);
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_FALSE(tree.exists("t"));
}

TEST(ZeloCli, NothingLeftUndoneIsReportedAsSuccess)
{
    test::TempTree tree;
    tree.mkdir("scratch");
    tree.mkdir("t/sub");
    tree.write("t/ro", "r");
    tree.setReadOnly("t/ro", true);
    tree.mkdir("target/x");
    tree.symlink(tree.linux("target"), "link");
    tree.mkdir("pipes");
    tree.fifo("pipes/fifo");
    tree.write("out/t/extra", "stays");
    tree.setReadOnly("out/t/extra", true);
    tree.write("out/t/ro", "r"); // not every destination file goes: no mass deletion
    const std::string scratch = tree.linux("scratch");
    const auto quoted = [&](const std::string& relative) { return "'" + tree.linux(relative) + "'"; };
    const struct {
        std::string arguments;
        int status;
        const char* out; // null: not checked
    } cases[] = {
        // An entry that stays makes a kept root's emptying a failure.
        { "delete --keep-root --keep-readonly " + quoted("t"), 1, "directories 1\nfiles 0\n" },
        // Emptying a link would empty what it points to.
        { "delete --keep-root " + quoted("link"), 1, "directories 0\nfiles 0\n" },
        // A link is one file of its own, never the tree it points to.
        { "count " + quoted("link"), 0, nullptr },
        // Output that cannot be written.
        { "count " + quoted("t") + " >/dev/full", 1, "" },
        // A FIFO left out of a tree copy, an extra ReadOnly file a backup could not delete.
        { "copy-tree " + quoted("pipes") + " " + quoted("out"), 1, nullptr },
        { "mirror --keep-readonly " + quoted("t") + " " + quoted("out"), 1, nullptr },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CliRun run = RunCli("C=/", c.arguments, scratch);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.out) {
            EXPECT_EQ(run.out, c.out);
        }
        if (c.status != 0) {
            EXPECT_NE(run.err.find("zelo-cli: "), std::string::npos) << run.err;
        }
    }
    EXPECT_TRUE(tree.exists("t/ro"));
    EXPECT_TRUE(tree.exists("target/x"));
    EXPECT_EQ(RunCli("C=/", "count " + quoted("link"), scratch).out.rfind("directories 0\nfiles 1\n", 0), 0u);

    // A name with terminal controls is written escaped.
    const CliRun hostile = RunCli("C=/", "count " + quoted("no\x1b]0;pwned\x07"), scratch);
    EXPECT_EQ(hostile.status, 1);
    EXPECT_EQ(hostile.err.find('\x1b'), std::string::npos);
    EXPECT_NE(hostile.err.find("no\\033]0;pwned\\a"), std::string::npos) << hostile.err;

    // A directory an ordinary user cannot read leaves the totals short: never exit 0.
    tree.mkdir("t/sub");
    ::chmod(tree.linux("t/sub").c_str(), 0);
    const auto result = test::RunAsOrdinaryUser(tree.root(),
        [&] {
            const CliRun run = RunCli("C=/", "count " + quoted("t"), scratch);
            return run.status == 1 && run.err.find("could not be read") != std::string::npos;
        },
        { ZELO_CLI_PATH });
    if (result) {
        EXPECT_TRUE(*result);
    }
}

TEST(ZeloCli, CopyFile)
{
    test::TempTree tree;
    tree.mkdir("scratch");
    tree.mkdir("d");
    tree.writeSized("s.bin", 100000);
    const std::string scratch = tree.linux("scratch");
    CliRun copy = RunCli("C=/", "copy-file '" + tree.linux("s.bin") + "' '" + tree.linux("d/c.bin") + "'", scratch);
    EXPECT_EQ(copy.status, 0) << copy.err;
    EXPECT_EQ(tree.read("d/c.bin"), tree.read("s.bin"));
    // Into a directory, under the source's name.
    CliRun into = RunCli("C=/", "copy-file '" + tree.linux("s.bin") + "' '" + tree.linux("d") + "'", scratch);
    EXPECT_EQ(into.status, 0) << into.err;
    EXPECT_EQ(tree.read("d/s.bin"), tree.read("s.bin"));

    CliRun missing = RunCli("C=/", "copy-file '" + tree.linux("none") + "' '" + tree.linux("d/x") + "'", scratch);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("File Not Found"), std::string::npos) << missing.err;

    // ".." is taken after the real parent, as the kernel takes it: x/a/link/../victim is y/victim.
    tree.write("x/victim", "x");
    tree.write("y/victim", "y");
    tree.mkdir("x/a");
    tree.mkdir("y/q");
    tree.symlink("../../y/q", "x/a/link");
    CliRun dotdot
        = RunCli("C=/", "copy-file '" + tree.linux("s.bin") + "' '" + tree.linux("x/a/link/../victim") + "'", scratch);
    EXPECT_EQ(dotdot.status, 0) << dotdot.err;
    EXPECT_EQ(tree.read("y/victim"), tree.read("s.bin"));
    EXPECT_EQ(tree.read("x/victim"), "x");

    // A trailing "/" names an existing directory or nothing.
    tree.write("notadir", "kept");
    for (const char* name : { "notadir/", "absent/" }) {
        SCOPED_TRACE(name);
        CliRun slash = RunCli("C=/", "copy-file '" + tree.linux("s.bin") + "' '" + tree.linux(name) + "'", scratch);
        EXPECT_NE(slash.status, 0);
        const char* why = name[1] == 'o' ? "/notadir/: not a directory\n" : "/absent/: does not exist\n";
        EXPECT_NE(slash.err.find(why), std::string::npos) << slash.err;
    }
    EXPECT_EQ(tree.read("notadir"), "kept");
    EXPECT_FALSE(tree.exists("absent"));
}

// Starts zelo-cli with arguments (C: is "/"), its standard error into errFile, with the stop signals
// at their default as a shell would leave them.
pid_t SpawnCli(const std::vector<std::string>& arguments, const std::string& errFile)
{
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int s : { SIGINT, SIGTERM, SIGHUP })
        sigaddset(&defaults, s);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> argv { const_cast<char*>(ZELO_CLI_PATH) };
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    char drives[] = "ZELO_DRIVES=C=/";
    char* envp[] = { drives, nullptr };
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    if (posix_spawn(&child, ZELO_CLI_PATH, &actions, &attributes, argv.data(), envp) != 0) child = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return child;
}

// Waits until the child has a file open whose name satisfies wanted; false when it ended first.
bool WaitForOpenFile(pid_t child, const std::function<bool(const std::string&)>& wanted)
{
    const std::string fds = "/proc/" + std::to_string(child) + "/fd";
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        bool found = false;
        DIR* dir = ::opendir(fds.c_str());
        while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
            char target[4096];
            const ssize_t n = ::readlinkat(::dirfd(dir), entry->d_name, target, sizeof target - 1);
            found = found || (n > 0 && wanted(std::string(target, size_t(n))));
        }
        if (dir) ::closedir(dir);
        if (found) return true;
    }
    return false;
}

std::set<std::string> NamesIn(const std::string& linuxDir)
{
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(linuxDir))
        out.insert(e.path().filename().string());
    return out;
}

// zelo-cli started as SpawnCli starts it, whose copy steps (copy_file_range) each wait, under a seccomp
// filter, until the test lets them go through listener. listener is -1 where no filter could be had.
struct HeldCli {
    pid_t pid = -1;
    int listener = -1;
};

// One byte carrying one descriptor over a local socket.
struct DescriptorMessage {
    char byte = 0;
    iovec data { &byte, 1 };
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message { nullptr, 0, &data, 1, control, sizeof control, 0 };
};

HeldCli SpawnCliWithHeldCopies(const std::vector<std::string>& arguments, const std::string& errFile)
{
#if defined(__x86_64__)
    constexpr unsigned arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr unsigned arch = AUDIT_ARCH_AARCH64;
#else
    constexpr unsigned arch = 0;
#endif
    if (arch == 0) return {};
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(SYS_copy_file_range), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog filter { static_cast<unsigned short>(std::size(program)), program };
    std::vector<char*> argv { const_cast<char*>(ZELO_CLI_PATH) };
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    char drives[] = "ZELO_DRIVES=C=/";
    char* envp[] = { drives, nullptr };
    int channel[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) return {};
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    HeldCli cli;
    cli.pid = ::fork();
    if (cli.pid == 0) {
        // Only async-signal-safe calls here: the stop signals at their default, as a shell leaves them, then
        // the filter, whose listener goes to the test.
        struct sigaction defaults { };
        defaults.sa_handler = SIG_DFL;
        for (int s : { SIGINT, SIGTERM, SIGHUP })
            ::sigaction(s, &defaults, nullptr);
        ::dup2(err, STDERR_FILENO);
        const int listener = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
            ? int(::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &filter))
            : -1;
        DescriptorMessage sent;
        cmsghdr* header = CMSG_FIRSTHDR(&sent.message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &listener, sizeof(int));
        if (listener < 0 || ::sendmsg(channel[1], &sent.message, 0) != 1) ::_exit(127);
        ::close(listener);
        ::execve(ZELO_CLI_PATH, argv.data(), envp);
        ::_exit(127);
    }
    ::close(channel[1]);
    ::close(err);
    DescriptorMessage received;
    if (cli.pid > 0 && ::recvmsg(channel[0], &received.message, MSG_CMSG_CLOEXEC) == 1
        && CMSG_FIRSTHDR(&received.message))
        std::memcpy(&cli.listener, CMSG_DATA(CMSG_FIRSTHDR(&received.message)), sizeof(int));
    ::close(channel[0]);
    return cli;
}

// Waits until the child's next copy step is held; false when the child ended first.
bool NextHeldStep(const HeldCli& cli, seccomp_notif& step)
{
    const int ended = int(::syscall(SYS_pidfd_open, cli.pid, 0));
    bool held = false;
    for (;;) {
        pollfd watched[] = { { cli.listener, POLLIN, 0 }, { ended, POLLIN, 0 } };
        if (::poll(watched, std::size(watched), -1) < 0 && errno != EINTR) break;
        if (watched[0].revents & POLLIN) {
            // A step given up meanwhile (a signal came) is gone: the wait goes on for the next.
            step = {};
            held = ::ioctl(cli.listener, SECCOMP_IOCTL_NOTIF_RECV, &step) == 0;
            if (held) break;
        } else if (watched[1].revents != 0 || watched[0].revents != 0) {
            break;
        }
    }
    ::close(ended);
    return held;
}

void LetGo(const HeldCli& cli, const seccomp_notif& step)
{
    seccomp_notif_resp answer {};
    answer.id = step.id;
    answer.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    ::ioctl(cli.listener, SECCOMP_IOCTL_NOTIF_SEND, &answer); // fails for a step given up: nothing to do
}

// SIGINT, SIGTERM and SIGHUP stop a copy: the earlier destination stays, no temporary file is left,
// and the program ends by the signal. The signal comes while the copy's first step is held, so it always
// finds the copy under way.
TEST(ZeloCli, SignalStopsCopyAndLeavesEarlierDestination)
{
    test::TempTree tree;
    tree.writeSized("s.bin", 4u << 20);
    const std::string destination = tree.linux("d/c.bin");
    const std::string inside = tree.linux("d") + "/";
    for (int signal : { SIGINT, SIGTERM, SIGHUP }) {
        SCOPED_TRACE(signal);
        tree.write("d/c.bin", "earlier");
        const HeldCli cli
            = SpawnCliWithHeldCopies({ "copy-file", tree.linux("s.bin"), destination }, tree.linux("stderr.txt"));
        ASSERT_GT(cli.pid, 0);
        if (cli.listener < 0) {
            ::waitpid(cli.pid, nullptr, 0);
            GTEST_SKIP() << "no seccomp filter";
        }
        seccomp_notif step;
        const bool moving = NextHeldStep(cli, step);
        EXPECT_TRUE(moving) << "the copy ended without moving its bytes";
        // The copy has its new file open in d/ (an unnamed file shows as "d/#inode (deleted)").
        EXPECT_TRUE(
            moving && WaitForOpenFile(cli.pid, [&](const std::string& name) { return name.rfind(inside, 0) == 0; }));
        ::kill(cli.pid, signal);
        for (bool held = moving; held; held = NextHeldStep(cli, step))
            LetGo(cli, step);
        ::close(cli.listener);
        int status = 0;
        ASSERT_EQ(::waitpid(cli.pid, &status, 0), cli.pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        // Stopped through the stop button, not killed half-way.
        EXPECT_NE(tree.read("stderr.txt").find("stopped by signal"), std::string::npos);
        EXPECT_EQ(tree.read("d/c.bin"), "earlier");
        EXPECT_EQ(NamesIn(tree.linux("d")), std::set<std::string> { "c.bin" });
    }
}

// A conversion ended by a signal while it writes leaves the original byte for byte and nothing else.
TEST(ZeloCli, SignalDuringConvertLeavesTheOriginal)
{
    test::TempTree tree;
    std::string text;
    for (int i = 0; i < 1 << 20; ++i)
        text += "line of text " + std::to_string(i % 97) + "\n";
    tree.write("d/log.txt", text);
    const std::string inside = tree.linux("d") + "/";
    const std::string original = tree.linux("d/log.txt");
    for (int signal : { SIGTERM, SIGINT, SIGKILL }) {
        SCOPED_TRACE(signal);
        const pid_t child = SpawnCli({ "convert", "3", original }, tree.linux("stderr.txt"));
        ASSERT_GT(child, 0);
        // The file it writes, beside the original (an unnamed one shows as "d/#inode (deleted)").
        const bool writing = WaitForOpenFile(
            child, [&](const std::string& name) { return name.rfind(inside, 0) == 0 && name != original; });
        if (!writing) GTEST_SKIP() << "the conversion ended before it could be stopped";
        ::kill(child, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_TRUE(tree.read("d/log.txt") == text);
        EXPECT_EQ(NamesIn(tree.linux("d")), std::set<std::string> { "log.txt" });
    }
}

TEST(ZeloCli, ConvertAndRenameBatch)
{
    test::TempTree tree;
    tree.mkdir("scratch");
    tree.write("d/a.txt", "a\r\n");
    tree.write("d/b.txt", "b\r\n");
    tree.write("d/bad.txt", "\xF0\x9F\x98\x80");
    const std::string scratch = tree.linux("scratch");
    const std::string a = " '" + tree.linux("d/a.txt") + "'";
    const std::string b = " '" + tree.linux("d/b.txt") + "'";
    CliRun convert = RunCli("C=/", "convert 0" + a + b, scratch);
    EXPECT_EQ(convert.status, 0) << convert.err;
    EXPECT_EQ(convert.out, "2　ファイルの0DH を削除しました\n");
    EXPECT_EQ(tree.read("d/a.txt"), "a\n");

    CliRun failed = RunCli("C=/", "convert 4 '" + tree.linux("d/bad.txt") + "'", scratch);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_NE(failed.err.find("のＳｈｉｆｔＪｉｓの変換に失敗しました"), std::string::npos) << failed.err;
    EXPECT_EQ(RunCli("C=/", "convert 6" + a, scratch).status, 2);

    // A base that leaves the folder is refused before any file moves, and the run fails.
    CliRun outside = RunCli("C=/", "rename-batch name ../t 01" + a + b, scratch);
    EXPECT_EQ(outside.status, 1);
    EXPECT_NE(outside.err.find("'../t01.txt' はファイル名に使えません"), std::string::npos) << outside.err;
    EXPECT_TRUE(tree.exists("d/a.txt") && tree.exists("d/b.txt"));

    CliRun renamed = RunCli("C=/", "rename-batch name t 01" + a + b, scratch);
    EXPECT_EQ(renamed.status, 0) << renamed.err;
    EXPECT_EQ(renamed.out, "全て名前を変更しました\n");
    EXPECT_TRUE(tree.exists("d/t01.txt") && tree.exists("d/t02.txt"));
    tree.write("d/bad.md", "taken");
    CliRun collision = RunCli(
        "C=/", "rename-batch ext md '" + tree.linux("d/t01.txt") + "' '" + tree.linux("d/bad.txt") + "'", scratch);
    EXPECT_EQ(collision.status, 1);
    EXPECT_NE(collision.err.find("同じ名前が既にあります"), std::string::npos) << collision.err;
    EXPECT_TRUE(tree.exists("d/t01.md") && tree.exists("d/bad.txt"));
    EXPECT_EQ(RunCli("C=/", "rename-batch ext txt" + a + " '" + scratch + "/x'", scratch).status, 2);
}

} // namespace
} // namespace zelo

namespace zelo {
namespace {

// The command line as Unix users expect it: options, exit statuses, one line per error naming the
// path as typed, escaped names, and the commands of every menu.
TEST(ZeloCli, BackupDryRunGuardAndVersions)
{
    test::TempTree tree;
    tree.mkdir("scratch");
    const std::string scratch = tree.linux("scratch");
    const auto q = [&](const std::string& relative) { return "'" + tree.linux(relative) + "'"; };
    tree.mkdir("src");
    tree.write("src/kept", "k");
    for (int i = 0; i < 12; ++i)
        tree.write("out/src/old" + std::to_string(i), "o");
    tree.write("out/src/kept", "k");

    // A dry run says what it would do, one entry a line, and writes nothing.
    const CliRun dry = RunCli("C=/", "mirror --dry-run " + q("src") + " " + q("out"), scratch);
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.out.find("deleted " + tree.linux("out/src/old3")), std::string::npos) << dry.out;
    EXPECT_TRUE(tree.exists("out/src/old3"));
    // Most of the backup would go: refused unless allowed, and nothing is deleted.
    const CliRun guarded = RunCli("C=/", "mirror " + q("src") + " " + q("out"), scratch);
    EXPECT_EQ(guarded.status, 1);
    EXPECT_TRUE(tree.exists("out/src/old3"));
    EXPECT_EQ(RunCli("C=/", "mirror --max-delete=5 " + q("src") + " " + q("out"), scratch).status, 1);
    // The count is plain digits: a sign or a blank is a wrong command line, whichever side it stands.
    for (const std::string limit : { "x", "' 5'", "'5 '", "+30", "-0", "''" })
        EXPECT_EQ(RunCli("C=/", "mirror --max-delete=" + limit + " " + q("src") + " " + q("out"), scratch).status, 2)
            << limit;
    EXPECT_TRUE(tree.exists("out/src/old3"));
    // Allowed, with the deleted files kept as versions, also while every step is told.
    const CliRun run = RunCli("C=/",
        "mirror --verbose --max-delete=12 --backup-dir=" + q("versions") + " " + q("src") + " " + q("out"), scratch);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(tree.exists("out/src/old3"));
    EXPECT_NE(run.out.find("versions kept 12 in"), std::string::npos) << run.out;
}

TEST(ZeloCli, Conventions)
{
    test::TempTree tree;
    tree.mkdir("scratch");
    tree.write("w/crlf.txt", "a\r\n");
    tree.write("w/--x", "dash\r\n");
    tree.write("w/a\\tb", "backslash");
    tree.write("w/a\tb", "tab");
    tree.write("w/\xff.bin", "not UTF-8");
    tree.write("w/t/old.BAK", "b");
    tree.write("w/t/keep.txt", "k");
    tree.write("w/rn.txt", "r");
    tree.mkdir("w/Dir");
    tree.write("w/b1.txt", "1");
    tree.write("w/b2.txt", "2");
    tree.mkdir("w/share");
    tree.write("w/pw.txt", "s3cret\n");
    const std::string scratch = tree.linux("scratch");
    const std::string w = tree.linux("w");
    // The mount tool as a script: it asks what gio asks and logs what it was given, so no share is mounted.
    tree.write("scratch/bin/gio",
        "#!/bin/sh\nlog=\"$(dirname \"$0\")/../gio.log\"; echo \"gio $*\" >>\"$log\"\n"
        "case \"$1 $2\" in\n"
        "'mount -u') rm \"$log.mounted\" ;;\n"
        "'mount '*) printf 'Need\\nUser [me]: '; read -r u; printf 'Domain [W]: '; read -r d; printf 'Password: ';\n"
        "  read -r p || exit 2; echo \"user=$u domain=$d password=$p\" >>\"$log\"; : >\"$log.mounted\" ;;\n"
        "'info '*) test -f \"$log.mounted\" && echo \"local path: $(dirname \"$0\")/share\" ;;\n"
        "esac\n");
    ::chmod(tree.linux("scratch/bin/gio").c_str(), 0755);
    const test::ScopedEnv path("PATH", tree.linux("scratch/bin") + ":" + std::getenv("PATH"));
    const struct {
        std::string arguments;
        int status;
        const char* err; // a part of standard error ("" when it must be empty)
        const char* out = nullptr; // a part of standard output, when checked
        const char* drives = "C=/";
    } cases[] = {
        // A mistyped drive map is refused, naming the entry, and nothing acts on "/".
        { "count .", 2, "ZELO_DRIVES: not a drive entry: 'C:=/dir'", nullptr, "C:=/dir" },
        { "count .", 2, "'E=relative'", nullptr, "D=/tmp;E=relative" },
        { "count .", 2, "'F=/f,floppy'", nullptr, "F=/f,floppy" },
        // Options anywhere, "--" ends them, help and version on standard output.
        { "--bogus count .", 2, "unrecognized option '--bogus'\nusage: zelo-cli [OPTION]... COMMAND [ARG]...\n" },
        { "count . --keep-root", 2, "count: unrecognized option '--keep-root'" },
        { "-x count .", 2, "invalid option -- 'x'" },
        { "-h", 0, "", "usage: zelo-cli [OPTION]... COMMAND" },
        { "convert --help", 0, "", "usage: zelo-cli [OPTION]... convert MODE FILE..." },
        { "--version", 0, "", "zelo-cli " },
        { "-V", 0, "", "zelo-cli " },
        { "", 2, "usage: zelo-cli" },
        { "count", 2, "zelo-cli: count: wrong number of arguments\nusage: zelo-cli [OPTION]... count DIR\n" },
        { "convert 0 -- --x", 0, "", "1　ファイルの0DH を削除しました" },
        { "delete-backups t --verbose", 0, "", "を　1 　File を削除しました" },
        // Bad numbers are usage errors: nothing is done.
        { "duplicate rn.txt . abc", 2, "COUNT must be a number from 1 to 99: 'abc'" },
        { "duplicate rn.txt . 100", 2, "COUNT must be" },
        { "convert 9 crlf.txt", 2, "MODE must be a number from 0 to 5" },
        { "rename-batch name x 1a rn.txt", 2, "START must be a number" },
        // One line per error: the path as typed, the program's own message.
        { "copy-file missing.txt out.txt", 1, "zelo-cli: missing.txt: File Not Found\n" },
        { "count nowhere/", 1, "zelo-cli: nowhere/: does not exist\n" },
        { "count rn.txt", 1, "zelo-cli: rn.txt: not a directory\n" },
        { "mkdir Dir", 1, "zelo-cli: Dir: 同じ名前が既にあります\n" },
        // A missing file is named and the rest still converted, as dos2unix does.
        { "convert 0 none.txt crlf.txt", 1, "zelo-cli: none.txt: does not exist\n", "1　ファイルの0DH を削除しました" },
        // Names are escaped wherever they are printed: controls, bytes that are no UTF-8, "\".
        { "\"$(printf '\\033]0;title\\a')\"", 2, "unknown command '\\033]0;title\\a'" },
        { "\"$(printf -- '--\\033x')\"", 2, "unrecognized option '--\\033x'" },
        { "attrib \"$(printf '\\377.bin')\" \"$(printf 'a\\tb')\"", 0, "", "----A  \\377.bin\n----A  a\\tb\n" },
        // A "\" in a name is no drive path's separator: the name is reached, and told apart from "\t".
        { "attrib 'a\\tb' \"$(printf 'a\\tb')\"", 0, "", "----A  a\\\\tb\n----A  a\\tb\n" },
        // The menu commands' counterparts.
        { "-v mkdir new", 0, "", "created new\n" },
        // A dry run (-n, as rsync's) marks every line it prints, entries and counts, and writes nothing.
        { "copy-tree -n t Dir", 0, "", "copied Dir/t/keep.txt (DRY RUN)\ndirectories new 0 existing 0 (DRY RUN)\n" },
        { "--dry-run move-files rn.txt Dir", 0, "",
            "copied Dir/rn.txt (DRY RUN)\ndeleted rn.txt (DRY RUN)\nup-to-date 0 (DRY RUN)\ncopied 1 (DRY RUN)\n"
            "deleted 1 (DRY RUN)\n" },
        { "count -n .", 2, "count: unrecognized option '--dry-run'" },
        // Information with the windows' numbers; the file list as the window saves it.
        { "file-info rn.txt", 0, "", "path rn.txt\nsize 1 B ( 1 Byte )\nbytes 1\n" },
        { "file-info rn.txt b1.txt", 0, "", "files 2\nsize 2 B ( 2 Byte )\nbytes 2\n" },
        { "file-info rn.txt t/keep.txt", 2, "the files must be in one directory" },
        { "file-info Dir", 1, "zelo-cli: Dir: is a directory" },
        { "folder-info t", 0, "", "\ndirectories 0\nfiles 1\nsize 1 B ( 1 Byte )\nbytes 1\n" },
        { "save-list '--mask=*.BAK;*.txt' t", 0, "", "keep.txt\r\n" },
        { "save-list --user=x t", 2, "save-list: unrecognized option '--user'" },
        // A share's password comes from standard input (or the terminal), never from the command line.
        { "net-connect smb://nas/docs < /dev/null", 1, "zelo-cli: smb://nas/docs: 共有が見つからないか" },
        { "net-connect --user=bob smb://nas/docs < pw.txt", 0, "", "/share\n" },
        { "net-connect --password=s3cret smb://nas/docs", 2, "unrecognized option '--password=s3cret'" },
        { "-v net-disconnect share", 0, "", "disconnected share\n", "C=/;R=$W/share,remote" },
        { "net-disconnect t", 1, "zelo-cli: t: not on a network drive\n" },
        // A batch rename lists each entry, the new name as the old was typed.
        { "-v rename-batch name b 7 b1.txt ./b2.txt", 0, "",
            "renamed b1.txt -> b7.txt\nrenamed ./b2.txt -> ./b8.txt\n全て名前を変更しました\n" },
        // --verbose says what was done to each entry; --progress draws only on a terminal.
        { "copy-tree --verbose t new", 0, "", "created new/t\ncopied new/t/keep.txt\n" },
        // Files of one directory are named as typed, the first as much as the others.
        { "-v copy-files t/keep.txt t/none.txt new", 1, "zelo-cli: t/none.txt: File Not Found\n",
            "copied new/keep.txt\n" },
        { "delete -v new/t", 0, "", "deleted new/t/keep.txt\ndeleted new/t\n" },
        { "--progress copy-file crlf.txt new", 0, "", "" },
        { "rename rn.txt rn2.txt --verbose", 0, "", "renamed rn.txt -> rn2.txt\n" },
        { "rename rn2.txt crlf.txt", 1, "zelo-cli: rn2.txt: 同じ名前が既にあります\n" },
        { "upper rn2.txt Dir", 0, "" },
        { "attrib --set=rh RN2.TXT", 0, "" },
        { "attrib RN2.TXT DIR", 0, "", "-RH--  RN2.TXT\nD----  DIR\n" },
        { "attrib --set=q DIR", 2, "--set takes the letters R, H, S and A" },
        { "delete-files --keep-readonly RN2.TXT", 1, "zelo-cli: RN2.TXT: Accesee Denied !" },
        { "-v delete-files RN2.TXT new", 1, "zelo-cli: new: is a directory", "deleted RN2.TXT\n" },
        { "-v mkdir new", 1, "zelo-cli: new: 同じ名前が既にあります\n", "refused new\n" },
        { "lower DIR", 0, "" },
        { "label .", 0, "", "OLD\n", "C=/;W=/tmp" },
        { "label --set=ZL .", 0, "", nullptr, "C=/;W=/tmp" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        std::string drives = std::string(c.drives) == "C=/;W=/tmp" ? "C=/;W=" + w + ",label=OLD" : c.drives;
        if (const size_t at = drives.find("$W"); at != std::string::npos) drives.replace(at, 2, w);
        const CliRun run = RunCli(drives, c.arguments, scratch, w);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (*c.err == '\0') {
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
            // Each message one line, never the drive path the engine works with.
            EXPECT_EQ(run.err.find(":\\"), std::string::npos) << run.err;
        }
        if (c.out) {
            EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
        }
    }
    EXPECT_EQ(tree.read("w/--x"), "dash\n");
    EXPECT_EQ(tree.read("w/crlf.txt"), "a\n");
    EXPECT_FALSE(tree.exists("w/t/old.BAK"));
    EXPECT_TRUE(tree.exists("w/t/keep.txt"));
    EXPECT_FALSE(tree.exists("w/RN2.TXT"));
    EXPECT_TRUE(tree.exists("w/dir") && tree.exists("w/new"));
    EXPECT_FALSE(tree.exists("w/rn.txt00"));
    EXPECT_FALSE(tree.exists("w/dir/t") || tree.exists("w/dir/rn.txt"));
    // The mount tool got the user and the password on its input, and its command lines never held it.
    const std::string gio = tree.read("scratch/gio.log");
    EXPECT_NE(gio.find("user=bob domain= password=s3cret\n"), std::string::npos) << gio;
    EXPECT_NE(gio.find("gio mount -u " + w + "/share\n"), std::string::npos) << gio;
    EXPECT_EQ(gio.find("gio mount smb://nas/docs\ngio mount -a"), std::string::npos) << gio;
    for (size_t at = 0; (at = gio.find("gio ", at)) != std::string::npos; ++at)
        EXPECT_EQ(gio.substr(at, gio.find('\n', at) - at).find("s3cret"), std::string::npos) << gio;

    // --progress draws its line when standard error is a terminal (script gives it one).
    const std::string onTerminal = "cd '" + w + "' && script -qec \"ZELO_DRIVES=C=/ '" + ZELO_CLI_PATH
        + "' --progress copy-file crlf.txt shown.txt\" /dev/null";
    std::string drawn;
    if (FILE* pipe = ::popen(onTerminal.c_str(), "r")) {
        char buffer[4096];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            drawn.append(buffer, got);
        EXPECT_EQ(::pclose(pipe), 0) << drawn;
    }
    EXPECT_NE(drawn.find("\r              2 bytes         1 files"), std::string::npos) << drawn;

    // A refusal names its real cause: a directory the user may not write is no ReadOnly file.
    tree.mkdir("w/closed");
    ::chmod(tree.linux("w/closed").c_str(), 0555);
    const auto denied = test::RunAsOrdinaryUser(tree.root(),
        [&] {
            const CliRun run = RunCli("C=/", "copy-file crlf.txt closed/x", scratch, w);
            return run.status == 1
                && run.err.find("zelo-cli: closed/x: アクセスが拒否されました\n") != std::string::npos;
        },
        { ZELO_CLI_PATH });
    if (denied) {
        EXPECT_TRUE(*denied);
    }
}

// Names no drive path holds as they are ("\" inside a name, a name holding the stand-in itself, bytes
// that are no UTF-8) are counted, copied, mirrored and moved like any other: a backup that left them out
// would lose them on the day it is restored.
TEST(ZeloCli, EveryNameIsCountedCopiedMirroredAndMoved)
{
    test::TempTree tree;
    tree.mkdir("scratch");
    const std::vector<std::pair<std::string, std::string>> files = {
        { "src/a\\b.txt", "one" },
        { "src/x\\\\y/in", "two" },
        { "src/\xef\x81\x9cname", "three" },
        { "src/\xff.bin", "four" },
        { "src/x\\\\y/\xff\\\xef\x81\x9c", "five" },
        { "src/c:d/e", "six" },
    };
    for (const auto& [path, content] : files)
        tree.write(path, content);
    const std::string scratch = tree.linux("scratch");
    const auto q = [&](const std::string& relative) { return "'" + tree.linux(relative) + "'"; };

    const CliRun count = RunCli("C=/", "count " + q("src"), scratch);
    EXPECT_EQ(count.status, 0) << count.err;
    EXPECT_EQ(count.out.rfind("directories 2\nfiles 6\nbytes 22\n", 0), 0u) << count.out;

    const struct {
        const char* command;
        const char* from;
        const char* to;
    } runs[] = {
        { "copy-tree", "src", "copied" },
        { "mirror", "src", "mirrored" },
        { "move-tree", "copied/src", "moved" },
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.command);
        tree.mkdir(r.to);
        const CliRun run = RunCli("C=/", std::string(r.command) + " " + q(r.from) + " " + q(r.to), scratch);
        EXPECT_EQ(run.status, 0) << run.err;
        for (const auto& [path, content] : files)
            EXPECT_EQ(tree.read(std::string(r.to) + "/" + path), content) << path;
    }
    EXPECT_FALSE(tree.exists("copied/src"));
    // Deleted as well, a folder whose name holds ":" as the root of the deletion too.
    for (const char* root : { "mirrored/src/c:d", "moved/src" }) {
        EXPECT_EQ(RunCli("C=/", "delete " + q(root), scratch).status, 0) << root;
        EXPECT_FALSE(tree.exists(root)) << root;
    }
}

// A name the destination refuses (exFAT takes no ":", "?" or "\"") is one failure, named with its path
// and the program's words for it; the run goes on with the rest, ends in failure, and a move keeps its
// source.
class RefusedNameTest : public ::testing::TestWithParam<bool> { };

// exFAT through FUSE answers such a name with EINVAL or ENOENT, FAT through fusefat with EPERM.
TEST_P(RefusedNameTest, ANameTheDestinationRefusesIsReportedAndItsSourceKept)
{
    test::TempTree tree;
    tree.mkdir("scratch");
    tree.mkdir("stick");
    std::unique_ptr<test::ScopedImageMount> stick;
    if (GetParam())
        stick = std::make_unique<test::ScopedFatMount>(tree.linux("stick"));
    else
        stick = std::make_unique<test::ScopedExfatMount>(tree.linux("stick"));
    ZELO_REQUIRE_MOUNTED(*stick, GetParam() ? "FAT" : "exFAT");
    const std::string scratch = tree.linux("scratch");
    const struct {
        const char* command;
        const char* source; // made below the tree: a file, or a folder when it ends in "/"
        const char* operand;
        const char* refused; // as the message names it, below the stick
    } cases[] = {
        { "copy-tree", "f1/a:b", "f1", "f1/a:b" },
        { "move-tree", "f2/q?", "f2", "f2/q?" },
        { "move-tree", "f3/d\"ir/", "f3", "f3/d\"ir" },
        { "move-files", "f4/r<s", "f4/r<s", "r<s" },
        { "mirror", "f5/b|c/", "f5", "f5/b|c" },
        { "mirror", "f6/e*f", "f6", "f6/e*f" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const std::string source = c.source;
        if (source.back() == '/')
            tree.write(source + "inside", "x");
        else
            tree.write(source, "x");
        // Names after the refused one in every order still arrive.
        const std::string folder = source.substr(0, source.find('/'));
        const bool files = std::string(c.command) == "move-files";
        for (const char* after : { "/0-first", "/zz-last" })
            tree.write(folder + after, "after");
        const std::string operands = files ? "'" + tree.linux(c.operand) + "' '" + tree.linux(folder + "/0-first")
                + "' '" + tree.linux(folder + "/zz-last") + "'"
                                           : "'" + tree.linux(c.operand) + "'";
        const CliRun run
            = RunCli("C=/", std::string(c.command) + " " + operands + " '" + tree.linux("stick") + "'", scratch);
        for (const char* after : { "/0-first", "/zz-last" })
            EXPECT_EQ(tree.read("stick/" + (files ? std::string() : folder) + after), "after") << run.err;
        EXPECT_EQ(run.status, 1);
        const std::string message = tree.linux("stick") + "/" + c.refused + ": このドライブでは使えない名前です\n";
        const size_t at = run.err.find(message);
        EXPECT_NE(at, std::string::npos) << run.err;
        EXPECT_EQ(run.err.find(message, at + 1), std::string::npos) << run.err;
        EXPECT_TRUE(tree.exists(source));
        EXPECT_FALSE(tree.exists(std::string("stick/") + c.refused));
    }
    // A folder made by its path, too.
    const CliRun made = RunCli("C=/", "mkdir '" + tree.linux("stick/m:k") + "'", scratch);
    EXPECT_EQ(made.status, 1);
    EXPECT_NE(made.err.find("/stick/m:k: このドライブでは使えない名前です\n"), std::string::npos) << made.err;
}
INSTANTIATE_TEST_SUITE_P(Media, RefusedNameTest, ::testing::Bool(),
    [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Fat" : "Exfat"; });

} // namespace
} // namespace zelo
