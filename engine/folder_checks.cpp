// What a folder operation checks before it writes: where the source and destination lie (by identity,
// links and bind mounts too), the room the copy needs, the versions folder of a backup, and how finely the
// destination keeps times.
#include "engine/backup_plan.h"
#include "engine/folder_transfer.h"
#include "engine/messages.h"
#include "engine/tree.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/time.h"
#include "platform/ui_services.h"

#include <cstdio>

namespace zelo {

namespace {

// The identities of a directory and of every directory above it, up to the system's root.
std::vector<DirIdentity> AncestorsOf(std::unique_ptr<DirHandle> dir)
{
    std::vector<DirIdentity> out;
    while (dir && out.size() < 4096) {
        const DirIdentity identity = dir->Identity();
        if (!out.empty() && out.back() == identity) break; // ".." of "/" is "/"
        out.push_back(identity);
        dir = dir->OpenParent(DirIdentity {});
    }
    return out;
}

} // namespace

void LinkNotCopied(TransferCounts& counts, const std::string& destinationPath)
{
    ++counts.failures;
    if (counts.linksNotCopied++ > 0) return;
    const std::string text = destinationPath + "  :   リンクを作れないドライブです（リンクはコピ－しません）";
    counts.problems.push_back(text);
    ShowPlainMessage(text);
}

std::string FolderNameOf(const std::string& sourceFolder)
{
    // From the next-to-last character back to the third: a root ("C:\") has no name.
    if (sourceFolder.size() < 4) return {};
    const size_t sep = sourceFolder.rfind('\\', sourceFolder.size() - 2);
    if (sep == std::string::npos || sep < 2) return {};
    return sourceFolder.substr(sep + 1);
}

int CompareWriteTimes(const FileTime& source, const FileTime& destination, WriteTimeStep step)
{
    if (step != WriteTimeStep::FatTwoSeconds) return CompareWriteSeconds(source, destination);
    // FAT keeps an even second: a copy carries its source's time rounded down to one.
    const int64_t s = static_cast<int64_t>(source.value / 10'000'000) / 2 * 2;
    const int64_t d = static_cast<int64_t>(destination.value / 10'000'000) / 2 * 2;
    if (s == d || s - d == 3600 || d - s == 3600) return 0;
    return s > d ? 1 : -1;
}

int CompareWriteSeconds(const FileTime& a, const FileTime& b)
{
    // Both sides are shifted by the same whole-second bias to local time, so whole seconds compare alike.
    const uint64_t sa = a.value / 10'000'000;
    const uint64_t sb = b.value / 10'000'000;
    return sa > sb ? 1 : (sa < sb ? -1 : 0);
}

bool DestinationInsideSource(const std::string& sourceFolder, const std::string& destinationDir)
{
    const std::string destination = WithOneSeparator(destinationDir);
    if (destination.find(sourceFolder) != std::string::npos) return true;
    // A bind mount of a source folder shows the source's own directories: by what it is mounted from.
    if (LiesWithinByMount(destination, sourceFolder)) return true;
    // The same directories reached by other names: a link or a bind mount into the source.
    auto source = fs().OpenTreeDirectory(sourceFolder, ListDetail::KindOnly, true);
    auto target = fs().OpenTreeDirectory(destination, ListDetail::KindOnly, true);
    if (!source || !target) return false;
    const DirIdentity sourceIdentity = source->Identity();
    if (sourceIdentity.inode == 0) return false; // a file system double without identities
    for (const DirIdentity& above : AncestorsOf(std::move(target))) {
        if (above == sourceIdentity) return true;
    }
    return false;
}

int64_t FolderSpaceNeeded(const std::string& sourceFolder, const std::string& destinationDir)
{
    const TreeTotals sourceTotals = CountTree(sourceFolder);
    int64_t need = static_cast<int64_t>(sourceTotals.exactBytes);
    const std::string existing = WithOneSeparator(destinationDir) + FolderNameOf(sourceFolder);
    const uint32_t attributes = fs().GetAttributes(WithoutSeparator(existing));
    if (attributes != kInvalidAttributes && (attributes & kAttrDirectory) && !(attributes & kAttrReparsePoint)) {
        need -= static_cast<int64_t>(CountTree(existing).exactBytes);
        // A file that replaces another is written whole beside it before the old one goes: the largest
        // such file needs its room on top of the difference.
        need += static_cast<int64_t>(sourceTotals.largestFile);
    }
    return need;
}

int CheckFreeSpace(const std::string& destinationDir, int64_t need)
{
    uint64_t freeToCaller = 0, total = 0, totalFree = 0;
    GetDiskFreeSpaceEx(WithOneSeparator(destinationDir), freeToCaller, total, totalFree);
    if (need <= 0 || static_cast<uint64_t>(need) <= freeToCaller) return 1;
    const int answer = AppMessageBox(
        "コピ－するにはディスク容量が足りません，中止しますか　？\n\rいいえで作業を続行", kCaptionReport, kMbYesNo);
    return answer == kIdYes ? -1 : 1;
}

bool NothingAt(DirHandle& dir, const std::string& name)
{
    FindData found;
    if (dir.Lookup(name, found)) return false;
    return GetLastError() == err::FileNotFound || GetLastError() == err::PathNotFound;
}

bool IsAtOrBelow(DirHandle& dir, const DirIdentity& identity)
{
    if (identity.inode == 0) return false; // a file system double without identities
    if (dir.Identity() == identity) return true;
    for (const DirIdentity& above : AncestorsOf(dir.OpenParent(DirIdentity {}))) {
        if (above == identity) return true;
    }
    return false;
}

// The versions folder of a backup, checked before the run: it must be on the destination's file system
// (a rename keeps a version, never a copy) and outside the tree the backup makes identical to its source.
std::unique_ptr<Versions> OpenVersions(const std::string& versionsDir, DirHandle& destinationRoot, bool inside,
    DirHandle& sourceRoot, const std::string& sourceFolder, bool make, bool& ok)
{
    ok = false;
    const std::string path = WithOneSeparator(versionsDir);
    // Checked where it is, or where it would be made (its parent), before anything is made.
    const auto refused = [&](DirHandle& at, const std::string& atPath) {
        if (at.Identity().device != destinationRoot.Identity().device) {
            ShowPlainMessage(path + "  :   以前の版の保存先はバックアップ先と同じドライブにして下さい");
            return true;
        }
        if (inside && IsAtOrBelow(at, destinationRoot.Identity())) {
            ShowPlainMessage(path + "  :   以前の版の保存先がバックアップ先の中にあります");
            return true;
        }
        // Old versions kept in the source would become part of the next backup, and fill the source.
        if (IsAtOrBelow(at, sourceRoot.Identity()) || LiesWithinByMount(atPath, sourceFolder)) {
            ShowPlainMessage(path + "  :   以前の版の保存先がバックアップ元の中にあります");
            return true;
        }
        return false;
    };
    auto root = fs().OpenTreeDirectory(path, ListDetail::KindOnly, true);
    if (!root && path.size() > 3) {
        const std::string parentPath = path.substr(0, path.rfind('\\', path.size() - 2) + 1);
        auto parent = fs().OpenTreeDirectory(parentPath, ListDetail::KindOnly, true);
        if (parent && refused(*parent, parentPath)) return nullptr;
        if (parent && !make) {
            ok = true;
            return nullptr;
        }
        if (parent && fs().CreateDirectory(WithoutSeparator(path)))
            root = fs().OpenTreeDirectory(path, ListDetail::KindOnly, true);
    }
    if (!root) {
        ReportFileError(path, kContextWriteDenied);
        return nullptr;
    }
    if (refused(*root, path)) return nullptr;
    ok = true;
    if (!make) return nullptr;
    // One folder a run, named for when it began: "2026-12-08_044500" (a second run in the same second
    // takes "_2" and on).
    const SystemTime now = GetLocalTime();
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u_%02u%02u%02u", unsigned(now.year), unsigned(now.month),
        unsigned(now.day), unsigned(now.hour), unsigned(now.minute), unsigned(now.second));
    std::string runName = stamp;
    FindData taken;
    for (int n = 2; root->Lookup(runName, taken) && n < 1000; ++n)
        runName = std::string(stamp) + "_" + std::to_string(n);
    return std::make_unique<Versions>(std::move(root), path, runName);
}

} // namespace zelo
