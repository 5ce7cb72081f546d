// A backup does only what its plan showed: folders planned for deletion lose only what the plan counted,
// the guard counts every entry, and the run's own folders stay out of the source.
#include "engine/backup_plan.h"
#include "engine/folder_transfer.h"
#include "model/state.h"
#include "tests/engine/transfer_fixture.h"
#include "tests/support/fake_ui.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace zelo {
namespace {

constexpr int64_t kOld = 1'600'000'000;

class BackupPlanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetMainState();
        tree.write("src/kept.txt", "kept");
        tree.setTime("src/kept.txt", kOld);
        tree.mkdir("dst");
    }

    int Backup(const std::function<bool(const BackupPlan&)>& confirm = {}, const std::string& versions = {})
    {
        FolderTransfer request;
        request.sourceFolder = tree.drive("src") + "\\";
        request.destinationDir = tree.drive("dst");
        request.mode = kModeFolderBackup;
        request.maxDelete = 1000;
        request.confirmPlan = confirm;
        if (!versions.empty()) request.versionsDir = tree.drive(versions);
        return TransferFolder(request, counts, {});
    }

    // A folder the source lacks: gone/ with files and a subfolder, as the last backup left it.
    void Gone()
    {
        for (const char* f : { "dst/src/gone/a.txt", "dst/src/gone/b.txt", "dst/src/gone/deep/c.txt" })
            tree.write(f, f);
    }

    test::TempTree tree;
    test::FakeUi fake;
    TransferCounts counts;
};

// What appears in or changes below a planned folder after the plan was shown stays, the folder with it;
// everything else the plan counted goes (or moves aside entry by entry when versions are kept).
TEST_F(BackupPlanTest, AFolderPlannedForDeletionLosesOnlyWhatThePlanCounted)
{
    for (const bool versions : { false, true }) {
        SCOPED_TRACE(versions);
        std::filesystem::remove_all(tree.linux("dst/src"));
        std::filesystem::remove_all(tree.linux("versions"));
        tree.mkdir("versions");
        Gone();
        const auto changeAfterThePlan = [&](const BackupPlan& plan) {
            EXPECT_EQ(plan.counts.deletedFiles, 3);
            tree.write("dst/src/gone/NEW.txt", "written after the plan was shown");
            tree.write("dst/src/gone/deep/c.txt", "changed after the plan was shown");
            return true;
        };
        EXPECT_EQ(Backup(changeAfterThePlan, versions ? "versions" : ""), kTransferDone);
        EXPECT_EQ(counts.deletedFiles, 2);
        EXPECT_EQ(counts.failures, 2);
        EXPECT_EQ(tree.read("dst/src/gone/NEW.txt"), "written after the plan was shown");
        EXPECT_EQ(tree.read("dst/src/gone/deep/c.txt"), "changed after the plan was shown");
        EXPECT_FALSE(tree.exists("dst/src/gone/a.txt"));
        EXPECT_FALSE(tree.exists("dst/src/gone/b.txt"));
        EXPECT_NE(fake.messages.back().text.find("確認の後に変わったので，そのままにしました"), std::string::npos);
        if (versions) {
            const std::string run = counts.versionsFolder;
            ASSERT_FALSE(run.empty());
            const auto folder = std::filesystem::directory_iterator(tree.linux("versions"))->path();
            EXPECT_TRUE(std::filesystem::exists(folder / "gone/a.txt"));
            EXPECT_FALSE(std::filesystem::exists(folder / "gone/NEW.txt"));
        }
    }
    // Unchanged since the plan, the folder goes whole, and with versions in one piece.
    std::filesystem::remove_all(tree.linux("dst/src"));
    Gone();
    EXPECT_EQ(Backup({}, "versions"), kTransferDone);
    EXPECT_EQ(counts.failures, 0);
    EXPECT_EQ(counts.deletedFiles, 3);
    EXPECT_FALSE(tree.exists("dst/src/gone"));
}

// The guard and --max-delete count folders and links as well as files; the versions folder is refused
// inside the source and made only once the plan is accepted.
TEST_F(BackupPlanTest, TheGuardCountsEveryEntryAndVersionsStayOutOfTheSource)
{
    for (int i = 0; i < 12; ++i)
        tree.mkdir("dst/src/empty" + std::to_string(i));
    FolderTransfer request;
    request.sourceFolder = tree.drive("src") + "\\";
    request.destinationDir = tree.drive("dst");
    request.mode = kModeFolderBackup;
    request.maxDelete = 0;
    EXPECT_EQ(TransferFolder(request, counts, {}), kTransferRefused);
    EXPECT_TRUE(tree.exists("dst/src/empty0"));
    request.maxDelete = -1; // the window's guard: 12 of 12 entries asks again
    fake.answers = { kIdNo };
    EXPECT_EQ(TransferFolder(request, counts, {}), kTransferDeclined);
    EXPECT_NE(fake.messages.back().text.find("12　のうち　12"), std::string::npos) << fake.messages.back().text;
    EXPECT_TRUE(tree.exists("dst/src/empty11"));

    for (const char* inside : { "src/versions", "src" }) {
        SCOPED_TRACE(inside);
        EXPECT_EQ(Backup({}, inside), kTransferRefused);
        EXPECT_FALSE(tree.exists("src/versions"));
    }
    EXPECT_EQ(Backup([](const BackupPlan&) { return false; }, "versions"), kTransferDeclined);
    EXPECT_FALSE(tree.exists("versions"));
}

// A plan keeps its steps packed: every step comes back as it was added, across the name arena's blocks,
// with the destination's own spelling where it differs.
TEST(PlanSteps, GiveBackEveryStepAsItWasAdded)
{
    const auto entry = [](const std::string& name, uint64_t id, uint32_t attributes) {
        FindData e;
        e.name = name;
        e.fileId = id;
        e.sizeLow = uint32_t(id * 7);
        e.sizeHigh = uint32_t(id % 3);
        e.lastWriteTime.value = id * 10'000'000;
        e.attributes = attributes;
        e.special = id % 5 == 0;
        return e;
    };
    std::vector<PlanStep> added;
    PlanSteps steps;
    for (uint64_t i = 1; i <= 20'000; ++i) {
        PlanStep step;
        step.action = PlanAction(i % 5);
        const std::string name = "name-" + std::to_string(i) + std::string(i % 40, 'x');
        const bool deletes = step.action == PlanAction::Delete || step.action == PlanAction::CreateFolder;
        step.destinationExists = deletes || i % 2 == 0;
        if (deletes) {
            step.destination = entry(name, i, kAttrDirectory);
            step.deleted.files = int(i % 9);
        } else {
            step.source = entry(name, i, kAttrArchive);
            step.destination = entry(step.destinationExists && i % 4 == 0 ? "NAME-" + std::to_string(i) : name,
                step.destinationExists ? i + 1 : 0, step.destinationExists ? uint32_t(kAttrReadOnly) : 0u);
        }
        steps.Add(step);
        added.push_back(step);
    }
    ASSERT_EQ(steps.Size(), added.size());
    for (size_t i = 0; i < added.size(); ++i) {
        const PlanStep got = steps.At(i);
        const PlanStep& want = added[i];
        SCOPED_TRACE(i);
        ASSERT_EQ(got.action, want.action);
        EXPECT_EQ(got.destinationExists, want.destinationExists);
        for (const auto& [a, b] :
            { std::pair { &got.source, &want.source }, { &got.destination, &want.destination } }) {
            // What is not there has no facts to keep, only the name a copy takes.
            if (b->name.empty() || (b == &want.destination && !want.destinationExists)) continue;
            EXPECT_EQ(a->name, b->name);
            EXPECT_EQ(a->fileId, b->fileId);
            EXPECT_EQ(a->size(), b->size());
            EXPECT_EQ(a->lastWriteTime.value, b->lastWriteTime.value);
            EXPECT_EQ(a->attributes, b->attributes);
            EXPECT_EQ(a->special, b->special);
        }
        EXPECT_EQ(got.deleted.files, want.deleted.files);
    }
}

// Mirrors over the standard tree.
class MirrorTest : public test::TransferTest {
protected:
    static constexpr int64_t kNew = test::kNew;
};

TEST_F(MirrorTest, MirrorMakesTheDestinationIdentical)
{
    Source();
    tree.symlink(tree.linux("outside"), "src/link");
    tree.mkdir("outside");
    tree.write("outside/o", "never copied");
    tree.mkdir("dst/src/extra/deeper");
    tree.write("dst/src/extra/deeper/x", "1");
    tree.write("dst/src/extra.txt", "2");
    tree.mkdir("dst/src/a.txt"); // a directory where the source has a file
    tree.write("dst/src/sub", "3"); // a file where the source has a directory
    tree.write("dst/src/ro.txt", "4");
    tree.setReadOnly("dst/src/ro.txt", true);
    tree.write("src/plain", "5");
    tree.setTime("src/plain", kOld);
    tree.fifo("dst/src/plain"); // a newer FIFO where the source has a file

    // ReadOnly kept: the ReadOnly extra file is reported and the mirror step of that directory ends.
    CommandOptions keep;
    keep.clearReadOnly = false;
    Folder(kModeFolderBackup, 0, keep);
    EXPECT_TRUE(tree.exists("dst/src/ro.txt"));
    EXPECT_GT(counts.failures, 0);

    fake.messages.clear();
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDone) << Texts();
    EXPECT_FALSE(tree.exists("dst/src/ro.txt"));
    EXPECT_FALSE(tree.exists("dst/src/extra"));
    EXPECT_FALSE(tree.exists("dst/src/extra.txt"));
    EXPECT_EQ(tree.read("dst/src/a.txt"), "of src/a.txt");
    EXPECT_EQ(tree.read("dst/src/sub/b.txt"), "of src/sub/b.txt");
    EXPECT_EQ(tree.read("dst/src/plain"), "5");
    // The link is copied as a link, its target never entered.
    struct stat st { };
    ASSERT_EQ(::lstat(tree.linux("dst/src/link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(std::filesystem::read_symlink(tree.linux("dst/src/link")).string(), tree.linux("outside"));

    // An extra directory is counted in full: itself and what it held.
    tree.mkdir("dst/src/gone/inner");
    tree.write("dst/src/gone/inner/f", "x");
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDone);
    EXPECT_EQ(counts.deletedDirs, 2);
    EXPECT_EQ(counts.deletedFiles, 1);
    // Nothing changed: nothing copied, nothing deleted.
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDone);
    EXPECT_EQ(counts.newFiles + counts.updatedFiles + counts.deletedFiles + counts.deletedDirs, 0);
}

TEST_F(MirrorTest, MirrorNeverDeletesBecauseTheSourceCouldNotBeRead)
{
    Source();
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDone);
    tree.write("dst/src/sub/only-at-destination", "keep");
    ::chmod(tree.linux("src/sub").c_str(), 0);
    const auto ran = test::RunAsOrdinaryUser(tree.root(), [&] {
        const int result = Folder(kModeFolderBackup);
        return result == kTransferDone && counts.failures > 0 && tree.exists("dst/src/sub/only-at-destination")
            && tree.exists("dst/src/sub/b.txt");
    });
    ::chmod(tree.linux("src/sub").c_str(), 0755);
    if (!ran) GTEST_SKIP() << "cannot run as an ordinary user here";
    EXPECT_TRUE(*ran);
}

// A backup that met a problem it could pass over still ends with its counts, the problem listed with them.
TEST_F(MirrorTest, ABackupWithAProblemStillGivesItsCounts)
{
    Source();
    tree.mkdir("dst/src");
    tree.write("dst/src/extra", "cannot go");
    tree.setReadOnly("dst/src/extra", true);
    CommandOptions keepReadOnly;
    keepReadOnly.clearReadOnly = false;
    EXPECT_EQ(Folder(kModeFolderBackup, 0, keepReadOnly), kTransferDone);
    EXPECT_EQ(counts.newFiles, 3);
    EXPECT_EQ(counts.failures, 1);
    ASSERT_EQ(counts.problems.size(), 1u);
    EXPECT_EQ(counts.problems[0].rfind(tree.drive("dst/src/extra") + "  :   ", 0), 0u);
}

// A backup that keeps versions moves everything it deletes or replaces into one folder a run, at the same
// relative path, so that moving them back gives the earlier destination byte for byte.
TEST_F(MirrorTest, ABackupKeepsWhatItDeletesOrReplacesAsVersions)
{
    Source();
    tree.setTime("src/sub/b.txt", kNew);
    tree.symlink("new-target", "src/link");
    tree.mkdir("dst/src/gone/deeper");
    const std::map<std::string, std::string> earlier = {
        { "a.txt", "of src/a.txt" },
        { "sub/b.txt", "earlier b" },
        { "extra.txt", "extra" },
        { "gone/deeper/g.txt", "g" },
        { "sub/deep/c.txt", "of src/sub/deep/c.txt" },
    };
    for (const auto& [name, text] : earlier) {
        tree.write("dst/src/" + name, text);
        tree.setTime("dst/src/" + name, kOld);
    }
    tree.symlink("old-target", "dst/src/link");
    const timespec older[2] = { { kOld, 0 }, { kOld, 0 } };
    ::utimensat(AT_FDCWD, tree.linux("dst/src/link").c_str(), older, AT_SYMLINK_NOFOLLOW);
    const auto run = [&](const std::string& versions) {
        FolderTransfer request = Request(kModeFolderBackup);
        request.versionsDir = tree.drive(versions);
        return TransferFolder(request, counts, {});
    };
    // Refused before anything is written: inside the backup, or on another file system.
    EXPECT_EQ(run("dst/src/versions"), kTransferRefused);
    tree.mkdir("tmpfs");
    test::ScopedTmpfsMount other(tree.linux("tmpfs"));
    if (other.mounted()) {
        EXPECT_EQ(run("tmpfs"), kTransferRefused);
    }
    EXPECT_EQ(tree.read("dst/src/extra.txt"), "extra");

    EXPECT_EQ(run("versions"), kTransferDone);
    EXPECT_EQ(counts.failures, 0);
    EXPECT_EQ(counts.versionsKept, 4); // extra.txt, gone, the old b.txt and the old link
    EXPECT_EQ(counts.deletedFiles, 2);
    EXPECT_EQ(counts.deletedDirs, 2);
    EXPECT_FALSE(tree.exists("dst/src/gone"));
    EXPECT_EQ(tree.read("dst/src/sub/b.txt"), "of src/sub/b.txt");
    std::vector<std::string> folders;
    for (const auto& entry : std::filesystem::directory_iterator(tree.linux("versions")))
        folders.push_back(entry.path().filename().string());
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(tree.drive("versions/" + folders[0]) + "\\", counts.versionsFolder);
    const std::string kept = "versions/" + folders[0] + "/";
    EXPECT_EQ(std::filesystem::read_symlink(tree.linux(kept + "link")).string(), "old-target");

    // Moving the versions back gives the earlier destination.
    std::filesystem::remove(tree.linux("dst/src/link"));
    std::filesystem::rename(tree.linux(kept + "link"), tree.linux("dst/src/link"));
    for (const char* name : { "sub/b.txt", "extra.txt" }) {
        std::filesystem::rename(tree.linux(kept + name), tree.linux(std::string("dst/src/") + name));
    }
    std::filesystem::rename(tree.linux(kept + "gone"), tree.linux("dst/src/gone"));
    for (const auto& [name, text] : earlier)
        EXPECT_EQ(tree.read("dst/src/" + name), text) << name;
    EXPECT_EQ(std::filesystem::read_symlink(tree.linux("dst/src/link")).string(), "old-target");
}

// Every entry below a directory: kind, size, write time and contents (links: their target), by relative path.
std::map<std::string, std::string> Listing(const std::string& root)
{
    std::map<std::string, std::string> out;
    if (!std::filesystem::exists(root)) return out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        struct stat st { };
        ::lstat(entry.path().c_str(), &st);
        // A folder's own time is not the backup's business.
        std::string value = std::to_string(st.st_mode & S_IFMT);
        if (!S_ISDIR(st.st_mode)) value += " " + std::to_string(st.st_mtime);
        if (S_ISLNK(st.st_mode)) {
            value += " -> " + std::filesystem::read_symlink(entry.path()).string();
        } else if (S_ISREG(st.st_mode)) {
            std::ifstream in(entry.path(), std::ios::binary);
            value += " " + std::string(std::istreambuf_iterator<char>(in), {});
        }
        out[std::filesystem::relative(entry.path(), root).string()] = value;
    }
    return out;
}

// A backup is planned before anything is written and carried out as planned: on random trees with random
// changes (kind changes included) a dry run writes nothing, the run does what the plan said, and the
// destination ends as the source is.
TEST_F(MirrorTest, ABackupDoesWhatItsPlanSaid)
{
    std::srand(7);
    const auto random = [](int n) { return std::rand() % n; };
    // The destination's changes are older than anything of the source's, and each round's source links
    // are a second apart from the last: the newer-only rule then leaves nothing different.
    const auto mutate = [&](const std::string& root, int64_t base, bool links) {
        for (int i = 0; i < 40; ++i) {
            const std::string dir = root + "/d" + std::to_string(random(4)) + "/e" + std::to_string(random(3));
            const std::string name = dir + "/f" + std::to_string(random(6));
            std::filesystem::remove_all(tree.linux(name));
            switch (random(links ? 4 : 3)) {
            case 0:
                break; // gone
            case 1:
                tree.mkdir(name + "/inner");
                tree.write(name + "/inner/x", "x");
                tree.setTime(name + "/inner/x", base);
                break;
            case 3: {
                tree.mkdir(dir);
                tree.symlink("target" + std::to_string(random(3)), name);
                const timespec times[2] = { { base, 0 }, { base, 0 } };
                ::utimensat(AT_FDCWD, tree.linux(name).c_str(), times, AT_SYMLINK_NOFOLLOW);
                break;
            }
            default:
                tree.write(name, std::string(random(50), 'a' + random(26)));
                tree.setTime(name, base + random(3) * 100);
            }
        }
    };
    tree.mkdir("src");
    tree.mkdir("dst");
    mutate("src", kOld, true);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        mutate("src", kOld + 1000 * (round + 1), true);
        if (round > 0) mutate("dst/src", kOld - 1000, false);
        const auto before = Listing(tree.linux("dst"));
        FolderTransfer request = Request(kModeFolderBackup);
        request.dryRun = true;
        BackupPlan plan;
        EXPECT_EQ(TransferFolder(request, counts, {}, &plan), kTransferDone);
        EXPECT_EQ(Listing(tree.linux("dst")), before);
        const TransferCounts planned = counts;

        request.dryRun = false;
        request.maxDelete = std::numeric_limits<int>::max();
        int shown = -1;
        request.confirmPlan = [&](const BackupPlan& p) {
            shown = p.counts.newFiles + p.counts.updatedFiles + p.counts.deletedFiles;
            return true;
        };
        EXPECT_EQ(TransferFolder(request, counts, {}), kTransferDone);
        EXPECT_EQ(shown, planned.newFiles + planned.updatedFiles + planned.deletedFiles);
        for (const auto& [what, a, b] : { std::tuple { "created", planned.createdDirs, counts.createdDirs },
                 { "new", planned.newFiles, counts.newFiles }, { "updated", planned.updatedFiles, counts.updatedFiles },
                 { "deleted files", planned.deletedFiles, counts.deletedFiles },
                 { "deleted dirs", planned.deletedDirs, counts.deletedDirs } })
            EXPECT_EQ(a, b) << what;
        EXPECT_EQ(counts.failures, 0) << Texts();
        EXPECT_EQ(Listing(tree.linux("dst/src")), Listing(tree.linux("src")));
    }
}

// A backup that would delete most of the destination asks a second time (a script's is refused unless it
// allowed that many); No leaves everything. What changed after the plan was shown is left as it is.
TEST_F(MirrorTest, AMassDeletionIsAskedAgainAndNothingUnshownIsDeleted)
{
    Source();
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDone);
    std::filesystem::remove(tree.linux("src/a.txt"));
    std::filesystem::remove_all(tree.linux("src/sub"));
    maxDelete = -1; // the source came up empty: all 5 entries would go
    fake.answers = { kIdNo };
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDeclined);
    EXPECT_TRUE(tree.exists("dst/src/sub/deep/c.txt"));
    ASSERT_FALSE(fake.messages.empty());
    EXPECT_NE(fake.messages.back().text.find("5　のうち　5"), std::string::npos);
    EXPECT_EQ(fake.messages.back().caption, "注意");
    maxDelete = 2;
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferRefused);
    EXPECT_TRUE(tree.exists("dst/src/a.txt"));

    // Replaced after the plan: the new file is not the one shown for deletion and stays.
    FolderTransfer request = Request(kModeFolderBackup);
    request.confirmPlan = [&](const BackupPlan&) {
        std::filesystem::remove(tree.linux("dst/src/a.txt"));
        tree.write("dst/src/a.txt", "saved after the plan was shown");
        return true;
    };
    fake.answers = { kIdYes };
    EXPECT_EQ(TransferFolder(request, counts, {}), kTransferDone);
    EXPECT_EQ(counts.failures, 1);
    EXPECT_EQ(tree.read("dst/src/a.txt"), "saved after the plan was shown");
    EXPECT_FALSE(tree.exists("dst/src/sub/deep/c.txt"));
}

} // namespace
} // namespace zelo
