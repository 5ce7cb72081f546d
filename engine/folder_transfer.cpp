// Folder copy, move and mirror on the one tree walk: the source is walked through open directory handles
// and each source directory is paired with its destination directory, opened from its parent's pair.
#include "engine/folder_transfer.h"

#include "engine/backup_plan.h"
#include "engine/beside_window.h"
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

class TransferVisitor final : public TreeVisitor {
public:
    TransferVisitor(const FolderTransfer& request, const std::string& destinationBase, TransferCounts& counts,
        std::stop_token stop, MovedEntries& moved, BackupPlan* plan, Receiver* receiver = nullptr)
        : m_request(request)
        , m_sourceFolder(request.sourceFolder)
        , m_destinationBase(destinationBase)
        , m_counts(counts)
        , m_stop(std::move(stop))
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
        if (!m_stop.stop_requested()) return false;
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
    const std::stop_token m_stop;
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

constexpr const char* kCannotWrite = "操作に失敗しました\n\r書き込み禁止ではないでしょうか";

// One folder operation: its two tops, opened once and checked by identity, then planned and carried out
// (a backup, a dry run) or walked and carried out as it goes (a copy, a move).
class FolderRun {
public:
    FolderRun(const FolderTransfer& request, TransferCounts& counts, std::stop_token stop)
        : m_request(request)
        , m_counts(counts)
        , m_stop(std::move(stop))
        , m_source(request.sourceFolder)
        , m_destinationBase(WithOneSeparator(request.destinationDir))
        , m_backup(request.mode == kModeFolderBackup)
        , m_planned(m_backup || request.dryRun)
        , m_progress(ui().Progress())
    {
    }

    int Run(BackupPlan* planOut)
    {
        m_counts = TransferCounts {};
        if (const int refused = OpenTops(); refused != 0) return refused;
        // The versions folder is checked now and made only once the plan is accepted.
        m_keepsVersions = m_backup && !m_request.versionsDir.empty() && !m_request.dryRun;
        if (m_keepsVersions && !OpenVersionsFolder(false)) return kTransferRefused;
        m_progress.Show();
        m_progress.SetPosition(ProgressBar::Overall, 0);
        m_progress.SetBarVisible(ProgressBar::Block, true);
        if (!m_planned) return Close(Walked());
        BackupPlan local;
        BackupPlan& plan = planOut ? *planOut : local;
        plan = BackupPlan {};
        return Planned(plan);
    }

private:
    const char* InsideMessage() const
    {
        return m_request.mode == kModeFolderCopy ? "同じＤＩＲ内には　ＤＩＲのコピ－出来ません　！"
                                                 : "同じＤＩＲ内には　ＤＩＲの移動は不可能です　！";
    }

    // Opens the source and the destination's top (made now for a copy or a move, by the run of a plan),
    // refusing a destination in the source by text and by identity. 0 to go on, or kTransferRefused.
    int OpenTops()
    {
        if (DestinationInsideSource(m_source, m_destinationBase)) {
            ShowPlainMessage(InsideMessage());
            return kTransferRefused;
        }
        if (m_request.options.checkFreeSpace && !m_request.dryRun
            && CheckFreeSpace(m_destinationBase, FolderSpaceNeeded(m_source, m_destinationBase)) == -1)
            return kTransferRefused;
        // The directories the user chose may be reached through links; below them nothing is followed.
        m_sourceRoot = fs().OpenTreeDirectory(m_source, ListDetail::Full, true);
        if (!m_sourceRoot) {
            ReportUnreadable(m_source);
            return kTransferRefused;
        }
        m_baseRoot = fs().OpenTreeDirectory(m_destinationBase, ListDetail::Full, true);
        const std::string folderName = FolderNameOf(m_source);
        m_top.name = folderName.empty() ? std::string() : folderName.substr(0, folderName.size() - 1);
        m_top.attributes = kAttrDirectory;
        if (m_baseRoot && m_request.contentsOnly == 0 && !m_top.name.empty()) {
            // The folder of the source's name at the destination, made unless it is there (not counted); a
            // plan only looks, and its run makes it.
            ChildOpen open = ChildOpen::Failed;
            m_destinationRoot = m_baseRoot->OpenChild(m_top, open);
            if (!m_destinationRoot && !m_planned && m_baseRoot->CreateSubdirectory(m_top.name))
                m_destinationRoot = m_baseRoot->OpenChild(m_top, open);
            if (!m_destinationRoot && m_planned && (open != ChildOpen::Failed || !NothingAt(*m_baseRoot, m_top.name)))
                m_baseRoot.reset();
            m_destinationBase += folderName;
        } else if (m_request.contentsOnly != 0) {
            m_destinationRoot = std::move(m_baseRoot);
        } else {
            m_baseRoot.reset();
        }
        if (!m_destinationRoot && !(m_planned && m_baseRoot)) {
            ShowPlainMessage(kCannotWrite);
            return kTransferRefused;
        }
        // The same place by identity, whatever the names say: the destination is the source itself (a move
        // into the source's own parent, a link to it), or, for a backup, holds the source, whose deletion
        // of what the source lacks would reach the source itself.
        if (m_destinationRoot
            && (IsAtOrBelow(*m_destinationRoot, m_sourceRoot->Identity())
                || (m_backup && IsAtOrBelow(*m_sourceRoot, m_destinationRoot->Identity())))) {
            ShowPlainMessage(InsideMessage());
            return kTransferRefused;
        }
        return 0;
    }

    bool OpenVersionsFolder(bool make)
    {
        bool ok = false;
        m_versions = OpenVersions(m_request.versionsDir, m_destinationRoot ? *m_destinationRoot : *m_baseRoot,
            m_destinationRoot != nullptr, *m_sourceRoot, m_source, make, ok);
        return ok;
    }

    int Close(int status)
    {
        m_progress.SetBarVisible(ProgressBar::Block, false);
        m_progress.Close();
        if (status == kTransferCancelled) ShowPlainMessage("中断いたします");
        return status;
    }

    // A backup or a dry run: the whole plan first, shown and guarded, then carried out as planned.
    int Planned(BackupPlan& plan)
    {
        plan.sourceFolder = m_source;
        plan.destinationBase = m_destinationBase;
        TransferVisitor visitor(m_request, m_destinationBase, plan.counts, m_stop, m_moved, &plan);
        visitor.Roots(m_sourceRoot->Identity(), m_destinationRoot ? m_destinationRoot->Identity() : DirIdentity {});
        if (!WalkTree(*m_sourceRoot, m_source, visitor, m_destinationRoot.get())) {
            m_counts = plan.counts;
            return Close(visitor.status == kTransferCancelled ? kTransferCancelled : kTransferStoppedByError);
        }
        if (m_request.dryRun) {
            m_counts = plan.counts;
            return Close(kTransferDone);
        }
        m_progress.Close();
        if (const int refused = Accepted(plan); refused != 0) return refused;
        m_counts = plan.counts;
        m_progress.Show();
        m_progress.SetMax(
            ProgressBar::Overall, plan.counts.newFiles + plan.counts.updatedFiles + plan.counts.upToDateFiles);
        // The run starts from what the plan found as it is (up to date, newer at the destination, problems)
        // and counts what it does.
        m_counts.createdDirs = m_counts.newFiles = m_counts.updatedFiles = 0;
        m_counts.deletedDirs = m_counts.deletedFiles = 0;
        if (m_versions) m_counts.versionsFolder = m_versions->RunPath();
        int status
            = CarryOutPlan(plan, *m_sourceRoot, *m_destinationRoot, m_request, m_versions.get(), m_counts, m_stop);
        m_destinationRoot.reset();
        m_sourceRoot.reset();
        SyncDestination(m_destinationBase, m_counts, status);
        if (m_versions) m_counts.versionsKept = m_versions->kept;
        return Close(status);
    }

    // Shows the plan before anything is written; a backup that would delete most of the destination asks
    // again (or, for a script, is refused unless it allowed that many). Then makes what the run needs: the
    // versions folder and the top folder. 0 to go on.
    int Accepted(const BackupPlan& plan)
    {
        if (m_request.confirmPlan && !m_request.confirmPlan(plan)) return kTransferDeclined;
        const int maxDelete = m_request.maxDelete;
        const bool tooMany = maxDelete >= 0 ? EntriesDeleted(plan) > maxDelete : DeletesMostOfTheDestination(plan);
        if (tooMany && (maxDelete >= 0 || m_request.refuseMassDeletion)) {
            const std::string question = MassDeletionQuestion(plan);
            ShowPlainMessage(question.substr(0, question.find('\n')) + "：中止しました");
            return kTransferRefused;
        }
        if (tooMany && AppMessageBox(MassDeletionQuestion(plan), kCaptionCaution, kMbYesNo | kMbDefButton2) != kIdYes)
            return kTransferDeclined;
        if (m_keepsVersions && !OpenVersionsFolder(true)) return kTransferRefused;
        if (!m_destinationRoot) {
            ChildOpen open = ChildOpen::Failed;
            if (m_baseRoot->CreateSubdirectory(m_top.name)) m_destinationRoot = m_baseRoot->OpenChild(m_top, open);
            if (!m_destinationRoot) {
                ShowPlainMessage(kCannotWrite);
                return kTransferRefused;
            }
        }
        return 0;
    }

    // A copy or a move: the walk decides and hands each step to the receiver as it goes; the copies'
    // bytes move on the copy threads meanwhile.
    int Walked()
    {
        // The overall bar counts files: counted beside the walk, without a stat per entry.
        CountBeside sourceFiles(m_source);
        TransferVisitor* walking = nullptr;
        ReceiverSetup setup;
        setup.sourceFolder = m_source;
        setup.destinationBase = m_destinationBase;
        setup.options = m_request.options;
        setup.clearReadOnlyDestinations = m_request.options.clearReadOnly;
        setup.network = OnNetworkFileSystem(m_source) || OnNetworkFileSystem(m_destinationBase);
        if (m_request.mode == kModeFolderMove) setup.moved = &m_moved;
        setup.showProgress = [&](uint64_t) {
            sourceFiles.Show(m_progress);
            walking->ShowProgress();
        };
        int status = kTransferDone;
        {
            Receiver receiver(std::move(setup), m_counts, m_stop);
            TransferVisitor visitor(m_request, m_destinationBase, m_counts, m_stop, m_moved, nullptr, &receiver);
            walking = &visitor;
            visitor.Roots(m_sourceRoot->Identity(), m_destinationRoot->Identity());
            const bool walked = WalkTree(*m_sourceRoot, m_source, visitor, m_destinationRoot.get());
            // A walk that ran to its end is done, with any problem it met told and counted (failures): the
            // result shows what was done and what was not.
            status = receiver.Finish(walked ? kTransferDone : visitor.status);
        }
        m_destinationRoot.reset();
        // A move deletes its source only once the copy is on the disk.
        SyncDestination(m_destinationBase, m_counts, status);
        if (status == kTransferDone && m_counts.failures == 0 && m_request.mode == kModeFolderMove) DeleteSource();
        return status;
    }

    // A move deletes its source only when everything in it was copied, and then only what it copied and is
    // still unchanged, through the directories it walked.
    void DeleteSource()
    {
        DeleteResult deleted;
        const uint32_t rootAttributes = fs().GetAttributes(WithoutSeparator(m_source));
        if (m_source.size() > 3 && rootAttributes != kInvalidAttributes && (rootAttributes & kAttrReparsePoint)) {
            // A source chosen through a link: the link goes, what it points to stays.
            m_sourceRoot.reset();
            deleted = DeleteTree(m_source, m_request.contentsOnly, m_request.options);
        } else {
            deleted = DeleteMovedSource(
                std::move(m_sourceRoot), m_source, m_request.contentsOnly, m_request.options, m_moved);
        }
        if (deleted.failures > 0 || deleted.result != 1) {
            m_counts.failures += std::max(deleted.failures, 1);
            m_counts.problems.push_back(m_source + "  :   移動元を全部は削除出来ませんでした");
        }
    }

    const FolderTransfer& m_request;
    TransferCounts& m_counts;
    const std::stop_token m_stop;
    const std::string& m_source;
    std::string m_destinationBase;
    const bool m_backup;
    const bool m_planned; // a backup is planned first and carried out as planned; a dry run only plans
    bool m_keepsVersions = false;
    ProgressWindow& m_progress;
    FindData m_top; // the folder of the source's name at the destination
    std::unique_ptr<DirHandle> m_sourceRoot;
    std::unique_ptr<DirHandle> m_baseRoot;
    std::unique_ptr<DirHandle> m_destinationRoot;
    std::unique_ptr<Versions> m_versions;
    MovedEntries m_moved;
};

} // namespace

int TransferFolder(const FolderTransfer& request, TransferCounts& counts, std::stop_token stop, BackupPlan* planOut)
{
    FolderRun run(request, counts, std::move(stop));
    return run.Run(planOut);
}

} // namespace zelo
