// Folder copy, move and mirror on the one tree walk: the source is walked through open directory handles
// and each source directory is paired with its destination directory, opened from its parent's pair.
#include "engine/folder_transfer.h"

#include "engine/backup_plan.h"
#include "engine/file_copy.h"
#include "engine/formats.h"
#include "engine/messages.h"
#include "engine/name_case.h"
#include "engine/receiver.h"
#include "engine/transfer_decision.h"
#include "engine/tree.h"
#include "engine/tree_walk.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/time.h"
#include "platform/ui_services.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

namespace zelo {

namespace {

// A source directory that cannot be read: access denied in the words the mirror uses for a directory
// it cannot open (the overwrite wording of the error report would mislead), anything else by its code.
std::string UnreadableText(const std::string& path)
{
    if (GetLastError() == err::AccessDenied) return path + "開けません　！";
    return FileErrorText(path, kContextReadSource);
}

void ReportUnreadable(const std::string& path)
{
    ShowPlainMessage(UnreadableText(path));
}

// Directories by identity, to tell a destination directory that is also a source directory (a bind mount,
// a link chosen as the destination) from any other.
struct IdentityHash {
    size_t operator()(const DirIdentity& id) const { return std::hash<uint64_t>()(id.inode * 31 + id.device); }
};
using IdentitySet = std::unordered_set<DirIdentity, IdentityHash>;

bool IsRealDirectory(const FindData& entry)
{
    return (entry.attributes & kAttrDirectory) && !(entry.attributes & kAttrReparsePoint);
}

// Flushing a large copy can take seconds on a busy disk: it runs beside the window, which keeps
// repainting meanwhile. The last error travels back with the result (it is kept per thread).
bool SyncKeepingWindowAlive(const std::string& path)
{
    std::future<std::pair<bool, uint32_t>> done;
    try {
        done = std::async(std::launch::async, [&path] {
            const bool synced = fs().SyncFileSystem(path);
            return std::make_pair(synced, GetLastError());
        });
    } catch (const std::system_error&) {
        return fs().SyncFileSystem(path); // no thread to be had: the window waits
    }
    while (done.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        ui().ProcessEvents();
    const auto [synced, error] = done.get();
    if (!synced) SetLastError(error);
    return synced;
}

// The files of a tree, counted on a thread of their own beside the walk for the overall bar's end, so the
// first copies need not wait for a count of the whole tree. Without a thread to be had it counts at once;
// where nobody sees the bars, not at all.
class CountBeside {
public:
    explicit CountBeside(const std::string& root)
    {
        if (!ui().Progress().ShowsBars()) return;
        try {
            m_counting = std::async(std::launch::async, [this, root] {
                // It yields to the walk and the copies: the bar's end can wait, they cannot.
                TakeLeastProcessorShare();
                m_files = CountTree(root, ListDetail::KindOnly, m_stop).files;
            });
        } catch (const std::system_error&) {
            m_files = CountTree(root, ListDetail::KindOnly).files;
        }
    }
    // A count still under way is given up (the future waits for its thread).
    ~CountBeside() { m_stop = true; }
    CountBeside(const CountBeside&) = delete;
    CountBeside& operator=(const CountBeside&) = delete;

    // Puts the bar's end up once the count is in.
    void Show(ProgressWindow& progress)
    {
        if (m_shown) return;
        const int files = m_files.load();
        if (files < 0) return;
        progress.SetMax(ProgressBar::Overall, files);
        m_shown = true;
    }

private:
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_files { -1 };
    bool m_shown = false;
    std::future<void> m_counting; // last: its thread is done before the rest goes
};

class TransferVisitor final : public TreeVisitor {
public:
    TransferVisitor(const FolderTransfer& request, const std::string& destinationBase, TransferCounts& counts,
        const int& abortFlag, MovedEntries& moved, BackupPlan* plan, Receiver* receiver = nullptr)
        : m_request(request)
        , m_sourceFolder(request.sourceFolder)
        , m_destinationBase(destinationBase)
        , m_counts(counts)
        , m_abortFlag(abortFlag)
        , m_newerOnly(request.options.newerOnly || request.mode == kModeFolderBackup)
        , m_progress(ui().Progress())
        , m_moved(moved)
        , m_plan(plan)
        , m_receiver(receiver)
        , m_timeStep(request.destinationTimes ? *request.destinationTimes : GetWriteTimeStep(destinationBase))
    {
    }

    int status = kTransferStoppedByError;

    // The walk's two roots: neither side may ever walk into the other.
    void Roots(const DirIdentity& source, const DirIdentity& destination)
    {
        m_sourceDirs.insert(source);
        m_destinationDirs.insert(destination);
    }

    bool WantsWholeListing() const override { return true; }

    WalkStep OpenCompanion(
        DirHandle* parent, const std::string& path, const FindData& entry, std::unique_ptr<DirHandle>& out) override
    {
        // The destination directory was made (or found) when its parent was listed; a plan only notes that
        // the run makes it, and walks the source below it against nothing.
        if (m_plan && (!parent || m_toMake.count(path))) return WalkStep::Continue;
        ChildOpen open = ChildOpen::Failed;
        FindData destination;
        destination.name = entry.name;
        destination.attributes = kAttrDirectory;
        if (parent) out = parent->OpenChild(destination, open);
        if (out) {
            // A destination directory that is one of the source's (a bind mount of a source directory at the
            // destination) would have the walk copy into what it walks, without end.
            const DirIdentity identity = out->Identity();
            if (identity.inode != 0 && m_sourceDirs.count(identity)) {
                out.reset();
                Problem(DestinationOf(path) + "  :   " + kInsideSource);
                return WalkStep::Stop;
            }
            m_destinationDirs.insert(identity);
            return WalkStep::Continue;
        }
        if (!parent) SetLastError(err::PathNotFound);
        Problem(open == ChildOpen::MountPoint ? AnotherDriveMessage(WithoutSeparator(DestinationOf(path)))
                                              : FileErrorText(DestinationOf(path), kContextRemoveTree));
        return WalkStep::Stop;
    }

    WalkStep Listed(const WalkPlace& at, const std::vector<FindData>& entries, bool complete) override
    {
        const uint32_t sourceError = GetLastError();
        m_sourceDirs.insert(at.dir.Identity());
        if (at.companion) {
            ReadDestination(*at.companion);
        } else {
            m_destination.clear();
            m_destinationComplete = true;
            m_folds = FoldsByType();
        }
        // Source names that would land on one destination name: only the first in byte order goes there.
        m_takenFirst = NamesTakenFirst(entries, m_folds);
        if (m_plan) {
            m_plan->identities[RelativeOf(at.path)]
                = { at.dir.Identity().inode, at.companion ? at.companion->Identity().inode : 0 };
            m_plan->destinationEntries += int(m_destination.size());
        }
        if (!complete) {
            // Whatever the listing left out is not copied; nothing is deleted on its account.
            SetLastError(sourceError);
            Problem(UnreadableText(at.path));
        }
        if (m_request.mode == kModeFolderBackup && complete) Mirror(at, entries);
        return Going(WalkStep::Continue);
    }

    WalkStep Entry(const WalkPlace& at, const FindData& entry) override
    {
        if (!m_takenFirst.empty() && m_takenFirst.count(entry.name)) return Going(NameTaken(at, entry));
        return Going(IsRealDirectory(entry) ? EnterDirectory(at, entry) : TransferFile(at, entry));
    }

    WalkStep CannotEnter(const WalkPlace&, const std::string& path, const FindData&, ChildOpen status) override
    {
        // A source directory that cannot be read is reported; its destination is left as it is.
        Problem(status == ChildOpen::MountPoint ? AnotherDriveMessage(WithoutSeparator(path)) : UnreadableText(path));
        return Going(WalkStep::Continue);
    }

    // Lets the window run, with the copies' progress where there are copies.
    void Pump()
    {
        if (m_receiver) {
            m_receiver->Pump();
            return;
        }
        ShowProgress();
        ui().ProcessEvents();
    }

    // What the walk shows while it goes: the overall bar at the files decided, the label at the last of them.
    void ShowProgress()
    {
        m_progress.SetLabel(m_current);
        m_progress.SetPosition(
            ProgressBar::Overall, m_counts.newFiles + m_counts.updatedFiles + m_counts.upToDateFiles);
    }

    WalkStep CannotList(const std::string& dirPath) override
    {
        Problem(UnreadableText(dirPath));
        return WalkStep::Stop;
    }

private:
    static constexpr const char* kInsideSource = "コピ－元のフォルダ－の中です（入りません）";

    // A problem the counts do not show: told at once (a plan's as it is found), and kept for the result.
    void Problem(const std::string& text)
    {
        // Told after everything decided before it: a copy that fails first ends the run, and this is
        // never told.
        if (m_receiver) {
            m_receiver->Problem(text);
            return;
        }
        ++m_counts.failures;
        m_counts.problems.push_back(text);
        ShowPlainMessage(text);
    }

    // A step of the folder being listed (a folder's steps are taken together, in walk order).
    void AddStep(const std::string& sourceDir, const PlanStep& step) { m_plan->Add(RelativeOf(sourceDir), step); }

    std::string DestinationOf(const std::string& sourcePath) const
    {
        return m_destinationBase + RelativeOf(sourcePath);
    }

    std::string RelativeOf(const std::string& sourcePath) const { return sourcePath.substr(m_sourceFolder.size()); }

    // The destination directory's entries by name, read once per directory; where it cannot be read,
    // each entry is looked up by its path instead, so nothing is ever taken for missing.
    // Where the destination folds case, by the name's folding, so "A.TXT" is found for "a.txt".
    void ReadDestination(DirHandle& destination)
    {
        m_destination.clear();
        FindData entry;
        SetLastError(err::Success);
        while (destination.Next(entry))
            m_destination.emplace(entry.name, entry);
        m_destinationComplete = GetLastError() == err::Success;
        const uint32_t listError = GetLastError();
        m_folds = FoldsCase(destination, m_destination, FoldsByType());
        SetLastError(listError);
        if (!m_folds) return;
        std::unordered_map<std::string, FindData> folded;
        folded.reserve(m_destination.size());
        for (auto& [name, listed] : m_destination)
            folded.emplace(FoldCaseText(name), std::move(listed));
        m_destination.swap(folded);
    }

    bool FoldsByType()
    {
        if (!m_foldsByType) m_foldsByType = FoldsNameCaseByType(m_destinationBase);
        return *m_foldsByType;
    }

    // A source entry whose name the destination takes for one that comes before it: never copied over the
    // file this run made there, reported, and a move keeps it.
    WalkStep NameTaken(const WalkPlace& at, const FindData& entry)
    {
        SetLastError(err::AlreadyExists);
        Problem(FileErrorText(DestinationOf(at.path) + entry.name, kContextOverwrite));
        if (m_request.mode == kModeFolderMove) m_moved.kept.insert(entry.fileId);
        return Stopped() ? WalkStep::Stop : WalkStep::Continue;
    }

    const FindData* LookUp(const std::string& name, const std::string& destinationPath)
    {
        if (m_destinationComplete) {
            const auto it = m_folds ? m_destination.find(FoldCaseText(name)) : m_destination.find(name);
            return it == m_destination.end() ? nullptr : &it->second;
        }
        m_lookedUp = FindData {};
        return FindFileEntry(destinationPath, m_lookedUp) ? &m_lookedUp : nullptr;
    }

    // The mirror step, planned: destination entries the source directory lacks (or holds as another kind)
    // are to go, before the folder's copies.
    void Mirror(const WalkPlace& at, const std::vector<FindData>& entries)
    {
        const std::string destinationDir = DestinationOf(at.path);
        if (!m_destinationComplete) {
            Problem(at.path + "開けません　！");
            return;
        }
        std::unordered_map<std::string, EntryKind> source;
        source.reserve(entries.size());
        // Where case folds, an entry the source holds under another case is the same entry.
        for (const FindData& entry : entries) {
            if (m_takenFirst.empty() || !m_takenFirst.count(entry.name))
                source.emplace(NameKey(entry.name, m_folds), KindOf(entry));
        }
        std::vector<std::string> gone;
        for (const auto& [key, entry] : m_destination) {
            // Kept only as the same kind: a FIFO or a link where the source has a file would otherwise
            // count as up to date and the file would never reach the backup.
            const auto it = source.find(key);
            if (it != source.end() && it->second == KindOf(entry)) continue;
            if (entry.mountPoint) {
                // Another drive mounted in the backup: never deleted into.
                Problem(AnotherDriveMessage(destinationDir + entry.name));
                continue;
            }
            PlanStep step;
            step.action = PlanAction::Delete;
            step.destination = entry;
            step.destinationExists = true;
            auto counted = std::make_shared<CountedEntries>();
            step.deleted = CountEntry(*at.companion, entry, *counted);
            if (IsRealDirectory(entry)) step.counted = std::move(counted);
            m_counts.deletedDirs += step.deleted.dirs;
            m_counts.deletedFiles += step.deleted.files;
            // The files inside a folder to delete are the destination's too.
            if (IsRealDirectory(entry)) m_plan->destinationEntries += step.deleted.files + step.deleted.dirs - 1;
            AddStep(at.path, step);
            gone.push_back(key);
        }
        for (const std::string& name : gone)
            m_destination.erase(name);
    }

    WalkStep EnterDirectory(const WalkPlace& at, const FindData& entry)
    {
        const std::string destinationPath = DestinationOf(at.path) + entry.name;
        if (entry.mountPoint) {
            // Another file system mounted inside the source is another drive's: not copied from.
            Problem(AnotherDriveMessage(at.path + entry.name));
            return WalkStep::Continue;
        }
        if (entry.fileId != 0 && m_destinationDirs.count(DirIdentity { at.dir.Identity().device, entry.fileId })) {
            // The destination seen again inside the source (through a bind mount): never copied into itself.
            Problem(at.path + entry.name + "  :   " + kInsideSource);
            return WalkStep::Continue;
        }
        const FindData* existing = LookUp(entry.name, destinationPath);
        if (existing && existing->mountPoint) {
            Problem(AnotherDriveMessage(destinationPath));
            return WalkStep::Continue;
        }
        if (existing && IsRealDirectory(*existing)) {
            ++m_counts.existingDirs;
        } else if (m_plan && !existing) {
            ++m_counts.createdDirs;
            PlanStep step;
            step.action = PlanAction::CreateFolder;
            step.destination.name = entry.name;
            AddStep(at.path, step);
            m_toMake.insert(at.path + entry.name + "\\");
        } else if (m_plan) {
            // A file or link of that name, which a backup deletes first; a copy cannot make the folder.
            SetLastError(err::AlreadyExists);
            Problem(FileErrorText(destinationPath + "\\", kContextRemoveTree));
            return WalkStep::Continue;
        } else {
            PlanStep step;
            step.action = PlanAction::CreateFolder;
            step.destination.name = entry.name;
            // A name the destination refuses leaves that folder out, told; anything else ends the walk.
            const Carried made
                = m_receiver->Carry(ReceiverFolder { at.shared, at.companionShared, RelativeOf(at.path) }, step);
            if (made != Carried::Done) return made == Carried::Left ? WalkStep::Continue : WalkStep::Stop;
        }
        return WalkStep::Descend;
    }

    WalkStep TransferFile(const WalkPlace& at, const FindData& entry)
    {
        m_current = entry.name;
        std::string sourcePath = at.path + entry.name;
        // The files of a directory come one after another: its destination is worked out once.
        if (at.path != m_destinationOfDir.first) m_destinationOfDir = { at.path, DestinationOf(at.path) };
        std::string destinationPath;
        destinationPath.reserve(m_destinationOfDir.second.size() + entry.name.size());
        destinationPath.append(m_destinationOfDir.second).append(entry.name);
        const FindData* existing = LookUp(entry.name, destinationPath);
        const bool move = m_request.mode == kModeFolderMove;
        const TransferAction action = DecideTransfer(entry, existing, m_newerOnly, m_timeStep);
        const bool copy = Copies(action);
        switch (action) {
        case TransferAction::KindMismatch:
            // Not copied, and a move keeps it.
            SetLastError(err::AlreadyExists);
            Problem(FileErrorText(destinationPath, kContextOverwrite));
            if (move) m_moved.kept.insert(entry.fileId);
            return Stopped() ? WalkStep::Stop : WalkStep::Continue;
        case TransferAction::CopyNew:
        case TransferAction::Update:
            break;
        case TransferAction::UpToDate:
        case TransferAction::NewerAtDestination: {
            ++m_counts.upToDateFiles;
            const bool newer = action == TransferAction::NewerAtDestination;
            // A move deletes a source it did not copy only when the destination is the same; anything else
            // stays, listed with the newer files.
            const bool drop = move && MoveMayDropUncopied(entry, *existing, m_timeStep);
            if (newer) ++m_counts.newerAtDest;
            if (newer || (move && !drop))
                m_counts.detail.push_back(
                    sourcePath + "  " + FormatFileDate(sourcePath) + "  :  " + FormatFileDate(destinationPath));
            if (drop)
                m_moved.copied[entry.fileId] = MovedEntry { entry.size(), entry.lastWriteTime };
            else if (move)
                m_moved.kept.insert(entry.fileId);
            break;
        }
        }
        const FindData destinationEntry = existing ? *existing : FindData {};
        const bool destinationExists = existing != nullptr;
        existing = nullptr; // the map may change below
        Pump();
        if (Stopped()) return WalkStep::Stop;
        if (!copy) return WalkStep::Continue;
        if (entry.special) {
            // FIFOs, sockets and devices are never opened: reported with their path and left out.
            SetLastError(err::CannotAccessFile);
            Problem(FileErrorText(sourcePath, kContextReadSource));
            return Stopped() ? WalkStep::Stop : WalkStep::Continue;
        }
        const PlanStep step = StepOf(entry, action, destinationEntry, destinationExists);
        if (m_plan) {
            // A plan counts what its run will do.
            ++(step.action == PlanAction::Update ? m_counts.updatedFiles : m_counts.newFiles);
            m_plan->bytes += step.action == PlanAction::CopyLink ? 0 : entry.size();
            AddStep(at.path, step);
            return WalkStep::Continue;
        }
        // Where the run ends at this copy, what the walk decided after it stands as it stood then.
        const Tally tally = TallyNow();
        // (A copy whose name the destination refused alone is counted as a failure when the run ends.)
        const auto ended = [this, tally] {
            if (m_receiver->Ended()) Restore(tally);
        };
        const ReceiverFolder folder { at.shared, at.companionShared, RelativeOf(at.path) };
        if (m_receiver->Carry(folder, step, ended) == Carried::RunEnded) return WalkStep::Stop;
        return Stopped() ? WalkStep::Stop : WalkStep::Continue;
    }

    // The step of a copy: the source and what the destination holds there, as they are now.
    static PlanStep StepOf(
        const FindData& entry, TransferAction action, const FindData& destination, bool destinationExists)
    {
        PlanStep step;
        const bool link = entry.attributes & kAttrReparsePoint;
        // "new" off copies over an earlier file without a date comparison: a new copy, as the counts say.
        step.action = link                     ? PlanAction::CopyLink
            : action == TransferAction::Update ? PlanAction::Update
                                               : PlanAction::CopyNew;
        step.source = entry;
        step.destination = destination;
        // What the destination holds keeps its own name (its case may differ): the run finds it by that.
        if (!destinationExists) step.destination.name = entry.name;
        step.destinationExists = destinationExists;
        return step;
    }

    bool Stopped()
    {
        if (m_abortFlag != kAbortRequested) return false;
        status = kTransferCancelled;
        return true;
    }

    WalkStep Going(WalkStep step) const { return m_receiver && m_receiver->Ended() ? WalkStep::Stop : step; }

    // What the walk has decided without copying, to go back to when the run ends at a copy decided then
    // (copies are counted once in their place).
    struct Tally {
        int upToDateFiles, newerAtDest;
        size_t detail;
    };
    Tally TallyNow() const { return { m_counts.upToDateFiles, m_counts.newerAtDest, m_counts.detail.size() }; }
    void Restore(const Tally& tally)
    {
        m_counts.upToDateFiles = tally.upToDateFiles;
        m_counts.newerAtDest = tally.newerAtDest;
        m_counts.detail.resize(tally.detail);
    }

    const FolderTransfer& m_request;
    const std::string& m_sourceFolder;
    std::pair<std::string, std::string> m_destinationOfDir; // the last source directory, and its destination
    const std::string m_destinationBase;
    TransferCounts& m_counts;
    const int& m_abortFlag;
    const bool m_newerOnly;
    ProgressWindow& m_progress;
    MovedEntries& m_moved;
    BackupPlan* m_plan;
    Receiver* m_receiver; // null for a plan: nothing is carried out
    std::string m_current; // the file last decided, for the progress label
    std::unordered_set<std::string> m_toMake; // source folders whose destination a plan makes // a plan: the decisions
                                              // are recorded, nothing is written
    const WriteTimeStep m_timeStep;
    std::unordered_map<std::string, FindData> m_destination; // by NameKey
    bool m_folds = false; // the destination directory folds case
    std::optional<bool> m_foldsByType; // the destination's file system folds case, by its type
    std::unordered_set<std::string> m_takenFirst; // names of the source directory another name comes before
    bool m_destinationComplete = false;
    FindData m_lookedUp;
    IdentitySet m_sourceDirs;
    IdentitySet m_destinationDirs;
};

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

namespace {

// Whether dir is identity itself or lies below it.
// Whether a lookup of name in dir finds nothing at all (anything else, an error included, is something).
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

} // namespace

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

namespace {

// Flushes the destination once before the result is told, rather than once per file.
void SyncDestination(const std::string& destinationBase, TransferCounts& counts, int& status)
{
    if (counts.createdDirs + counts.newFiles + counts.updatedFiles + counts.deletedFiles + counts.deletedDirs == 0
        || SyncKeepingWindowAlive(destinationBase))
        return;
    const std::string text = FileErrorText(destinationBase, kContextWriteDenied);
    ShowPlainMessage(text);
    counts.problems.push_back(text);
    ++counts.failures;
    if (status == kTransferDone) status = kTransferStoppedByError;
}

} // namespace

int TransferFolder(const FolderTransfer& request, TransferCounts& counts, const int& abortFlag, BackupPlan* planOut)
{
    counts = TransferCounts {};
    const std::string& source = request.sourceFolder;
    const std::string folderName = FolderNameOf(source);
    std::string destinationBase = WithOneSeparator(request.destinationDir);
    const char* insideMessage = request.mode == kModeFolderCopy ? "同じＤＩＲ内には　ＤＩＲのコピ－出来ません　！"
                                                                : "同じＤＩＲ内には　ＤＩＲの移動は不可能です　！";
    const bool backup = request.mode == kModeFolderBackup;
    // A backup is planned first and carried out as planned; a dry run only plans, whatever the mode.
    const bool planned = backup || request.dryRun;

    if (DestinationInsideSource(source, destinationBase)) {
        ShowPlainMessage(insideMessage);
        return kTransferRefused;
    }
    if (request.options.checkFreeSpace && !request.dryRun
        && CheckFreeSpace(destinationBase, FolderSpaceNeeded(source, destinationBase)) == -1)
        return kTransferRefused;

    // The directories the user chose may be reached through links; below them nothing is followed.
    auto sourceRoot = fs().OpenTreeDirectory(source, ListDetail::Full, true);
    if (!sourceRoot) {
        ReportUnreadable(source);
        return kTransferRefused;
    }
    const DirIdentity sourceIdentity = sourceRoot->Identity();
    auto baseRoot = fs().OpenTreeDirectory(destinationBase, ListDetail::Full, true);
    std::unique_ptr<DirHandle> destinationRoot;
    FindData top;
    top.name = folderName.empty() ? std::string() : folderName.substr(0, folderName.size() - 1);
    top.attributes = kAttrDirectory;
    if (baseRoot && request.contentsOnly == 0 && !top.name.empty()) {
        // The folder of the source's name at the destination, made unless it is there (not counted); a
        // plan only looks, and its run makes it.
        ChildOpen open = ChildOpen::Failed;
        destinationRoot = baseRoot->OpenChild(top, open);
        if (!destinationRoot && !planned && baseRoot->CreateSubdirectory(top.name))
            destinationRoot = baseRoot->OpenChild(top, open);
        if (!destinationRoot && planned && (open != ChildOpen::Failed || !NothingAt(*baseRoot, top.name)))
            baseRoot.reset();
        destinationBase += folderName;
    } else if (request.contentsOnly != 0) {
        destinationRoot = std::move(baseRoot);
    } else {
        baseRoot.reset();
    }
    if (!destinationRoot && !(planned && baseRoot)) {
        ShowPlainMessage("操作に失敗しました\n\r書き込み禁止ではないでしょうか");
        return kTransferRefused;
    }
    // The same place by identity, whatever the names say: the destination is the source itself (a move
    // into the source's own parent, a link to it), or, for a backup, holds the source, whose deletion
    // of what the source lacks would reach the source itself.
    if (destinationRoot
        && (IsAtOrBelow(*destinationRoot, sourceIdentity)
            || (backup && IsAtOrBelow(*sourceRoot, destinationRoot->Identity())))) {
        ShowPlainMessage(insideMessage);
        return kTransferRefused;
    }

    // The versions folder is checked now and made only once the plan is accepted.
    const bool keepsVersions = backup && !request.versionsDir.empty() && !request.dryRun;
    std::unique_ptr<Versions> versions;
    const auto openVersions = [&](bool make) {
        bool ok = false;
        versions = OpenVersions(request.versionsDir, destinationRoot ? *destinationRoot : *baseRoot,
            destinationRoot != nullptr, *sourceRoot, source, make, ok);
        return ok;
    };
    if (keepsVersions && !openVersions(false)) return kTransferRefused;

    ProgressWindow& progress = ui().Progress();
    progress.Show();
    progress.SetPosition(ProgressBar::Overall, 0);
    progress.SetBarVisible(ProgressBar::Block, true);
    const auto close = [&progress](int status) {
        progress.SetBarVisible(ProgressBar::Block, false);
        progress.Close();
        if (status == kTransferCancelled) ShowPlainMessage("中断いたします");
        return status;
    };

    MovedEntries moved;
    if (planned) {
        BackupPlan local;
        BackupPlan& plan = planOut ? *planOut : local;
        plan = BackupPlan {};
        plan.sourceFolder = source;
        plan.destinationBase = destinationBase;
        TransferVisitor visitor(request, destinationBase, plan.counts, abortFlag, moved, &plan);
        visitor.Roots(sourceIdentity, destinationRoot ? destinationRoot->Identity() : DirIdentity {});
        if (!WalkTree(*sourceRoot, source, visitor, destinationRoot.get())) {
            counts = plan.counts;
            return close(visitor.status == kTransferCancelled ? kTransferCancelled : kTransferStoppedByError);
        }
        if (request.dryRun) {
            counts = plan.counts;
            return close(kTransferDone);
        }
        // Shown before anything is written; a backup that would delete most of the destination asks again
        // (or, for a script, is refused unless it allowed that many).
        progress.Close();
        if (request.confirmPlan && !request.confirmPlan(plan)) return kTransferDeclined;
        const bool tooMany
            = request.maxDelete >= 0 ? EntriesDeleted(plan) > request.maxDelete : DeletesMostOfTheDestination(plan);
        if (tooMany && (request.maxDelete >= 0 || request.refuseMassDeletion)) {
            const std::string question = MassDeletionQuestion(plan);
            ShowPlainMessage(question.substr(0, question.find('\n')) + "：中止しました");
            return kTransferRefused;
        }
        if (tooMany && AppMessageBox(MassDeletionQuestion(plan), kCaptionCaution, kMbYesNo | kMbDefButton2) != kIdYes)
            return kTransferDeclined;
        if (keepsVersions && !openVersions(true)) return kTransferRefused;
        if (!destinationRoot) {
            ChildOpen open = ChildOpen::Failed;
            if (baseRoot->CreateSubdirectory(top.name)) destinationRoot = baseRoot->OpenChild(top, open);
            if (!destinationRoot) {
                ShowPlainMessage("操作に失敗しました\n\r書き込み禁止ではないでしょうか");
                return kTransferRefused;
            }
        }
        progress.Show();
        progress.SetMax(
            ProgressBar::Overall, plan.counts.newFiles + plan.counts.updatedFiles + plan.counts.upToDateFiles);
        // The run starts from what the plan found as it is (up to date, newer at the destination, problems)
        // and counts what it does.
        counts = plan.counts;
        counts.createdDirs = counts.newFiles = counts.updatedFiles = counts.deletedDirs = counts.deletedFiles = 0;
        if (versions) counts.versionsFolder = versions->RunPath();
        int status = CarryOutPlan(plan, *sourceRoot, *destinationRoot, request, versions.get(), counts, abortFlag);
        destinationRoot.reset();
        sourceRoot.reset();
        SyncDestination(destinationBase, counts, status);
        if (versions) counts.versionsKept = versions->kept;
        return close(status);
    }

    // The overall bar counts files: counted beside the walk, without a stat per entry.
    CountBeside sourceFiles(source);
    // The walk decides and makes the folders; the copies' bytes move on the workers meanwhile.
    TransferVisitor* walking = nullptr;
    ReceiverSetup setup;
    setup.sourceFolder = source;
    setup.destinationBase = destinationBase;
    setup.options = request.options;
    setup.network = OnNetworkFileSystem(source) || OnNetworkFileSystem(destinationBase);
    if (request.mode == kModeFolderMove) setup.moved = &moved;
    setup.showProgress = [&](uint64_t) {
        sourceFiles.Show(progress);
        walking->ShowProgress();
    };
    int status = kTransferDone;
    {
        Receiver receiver(std::move(setup), counts, abortFlag);
        TransferVisitor visitor(request, destinationBase, counts, abortFlag, moved, nullptr, &receiver);
        walking = &visitor;
        visitor.Roots(sourceIdentity, destinationRoot->Identity());
        const bool walked = WalkTree(*sourceRoot, source, visitor, destinationRoot.get());
        // A walk that ran to its end is done, with any problem it met told and counted (counts.failures):
        // the result shows what was done and what was not.
        status = receiver.Finish(walked ? kTransferDone : visitor.status);
    }
    destinationRoot.reset();

    // A move deletes its source only once the copy is on the disk.
    SyncDestination(destinationBase, counts, status);
    // A move deletes its source only when everything in it was copied, and then only what it copied and
    // is still unchanged, through the directories it walked.
    if (status == kTransferDone && counts.failures == 0 && request.mode == kModeFolderMove) {
        DeleteResult deleted;
        const uint32_t rootAttributes = fs().GetAttributes(WithoutSeparator(source));
        if (source.size() > 3 && rootAttributes != kInvalidAttributes && (rootAttributes & kAttrReparsePoint)) {
            // A source chosen through a link: the link goes, what it points to stays.
            sourceRoot.reset();
            deleted = DeleteTree(source, request.contentsOnly, request.options);
        } else {
            deleted = DeleteMovedSource(std::move(sourceRoot), source, request.contentsOnly, request.options, moved);
        }
        if (deleted.failures > 0 || deleted.result != 1) {
            counts.failures += std::max(deleted.failures, 1);
            counts.problems.push_back(source + "  :   移動元を全部は削除出来ませんでした");
        }
    }
    return close(status);
}

} // namespace zelo
