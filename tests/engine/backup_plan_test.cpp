// A backup does only what its plan showed: folders planned for deletion lose only what the plan counted,
// the guard counts every entry, and the run's own folders stay out of the source.
#include "engine/backup_plan.h"
#include "engine/folder_transfer.h"
#include "model/state.h"
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
        Main.AbortFlag = 0;
        return TransferFolder(request, counts, Main.AbortFlag);
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
    EXPECT_EQ(TransferFolder(request, counts, Main.AbortFlag), kTransferRefused);
    EXPECT_TRUE(tree.exists("dst/src/empty0"));
    request.maxDelete = -1; // the window's guard: 12 of 12 entries asks again
    fake.answers = { kIdNo };
    EXPECT_EQ(TransferFolder(request, counts, Main.AbortFlag), kTransferDeclined);
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

} // namespace
} // namespace zelo
