// A backup carried out from its plan: the folders with steps are reached from the two open tops by name,
// each checked against what the plan recorded, and each step acts only on the very entries the plan saw.
#include "engine/backup_plan.h"

#include "engine/file_copy.h"
#include "engine/messages.h"
#include "engine/receiver.h"
#include "engine/tree_walk.h"
#include "platform/drive_path.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/time.h"
#include "platform/ui_services.h"

#include <algorithm>
#include <cstdio>

namespace zelo {

namespace {

bool IsRealDirectory(const FindData& entry)
{
    return (entry.attributes & kAttrDirectory) && !(entry.attributes & kAttrReparsePoint);
}

std::unique_ptr<DirHandle> OpenFolder(DirHandle& parent, const std::string& name, uint64_t inode, ChildOpen& status)
{
    FindData entry;
    entry.name = name;
    entry.attributes = kAttrDirectory;
    entry.fileId = inode;
    status = ChildOpen::Failed;
    return parent.OpenChild(entry, status);
}

class PlanRun {
public:
    PlanRun(const BackupPlan& plan, DirHandle& sourceRoot, DirHandle& destinationRoot, const FolderTransfer& request,
        Versions* versions, TransferCounts& counts, std::stop_token stop)
        : m_plan(plan)
        , m_sourceRoot(sourceRoot)
        , m_destinationRoot(destinationRoot)
        , m_stop(stop)
        , m_progress(ui().Progress())
        , m_receiver(Setup(plan, request, versions), counts, std::move(stop))
    {
    }

    // The steps in the plan's order; the copies' bytes move on the copy threads, and anything else waits
    // until every copy before it is in its place.
    int Run()
    {
        m_progress.SetPosition(ProgressBar::Overall, m_plan.counts.upToDateFiles);
        return m_receiver.Finish(Steps());
    }

private:
    ReceiverSetup Setup(const BackupPlan& plan, const FolderTransfer& request, Versions* versions)
    {
        ReceiverSetup setup;
        setup.sourceFolder = plan.sourceFolder;
        setup.destinationBase = plan.destinationBase;
        setup.options = request.options;
        setup.clearReadOnlyDestinations = request.options.clearReadOnly;
        setup.network = OnNetworkFileSystem(plan.sourceFolder) || OnNetworkFileSystem(plan.destinationBase);
        setup.verify = true;
        setup.versions = versions;
        setup.showProgress = [this](uint64_t) {
            m_progress.SetPosition(ProgressBar::Overall, m_plan.counts.upToDateFiles + m_receiver.Finished());
        };
        return setup;
    }

    int Steps()
    {
        for (const PlanFolder& folder : m_plan.folders) {
            if (m_receiver.Ended()) return kTransferStoppedByError;
            if (Refused(folder.relative) || !Reach(folder.relative)) continue;
            const ReceiverFolder at { SharedSource(), SharedDestination(), folder.relative };
            for (size_t i = folder.first; i < folder.first + folder.count; ++i) {
                if (Stopped()) return kTransferCancelled;
                const PlanStep step = m_plan.steps.At(i);
                if (step.action != PlanAction::Delete && step.action != PlanAction::CreateFolder)
                    m_progress.SetLabel(step.source.name);
                const Carried carried = m_receiver.Carry(at, step);
                if (carried == Carried::RunEnded) return kTransferStoppedByError;
                // A folder whose name the destination refused: what the plan holds below it is left.
                if (carried == Carried::Left && step.action == PlanAction::CreateFolder)
                    m_refusedFolders.push_back(folder.relative + step.destination.name + "\\");
            }
        }
        return Stopped() ? kTransferCancelled : kTransferDone;
    }

    // Whether a folder lies in one whose name the destination refused (its steps are left, told once).
    bool Refused(const std::string& relative) const
    {
        for (const std::string& refused : m_refusedFolders) {
            if (relative.compare(0, refused.size(), refused) == 0) return true;
        }
        return false;
    }

    // Folders are shared with the copies that use them; the tops outlive every copy.
    struct Level {
        std::string name;
        std::shared_ptr<DirHandle> source;
        std::shared_ptr<DirHandle> destination;
    };

    DirHandle& Source() { return m_chain.empty() ? m_sourceRoot : *m_chain.back().source; }
    DirHandle& Destination() { return m_chain.empty() ? m_destinationRoot : *m_chain.back().destination; }
    std::shared_ptr<DirHandle> SharedSource()
    {
        return m_chain.empty() ? Unowned(&m_sourceRoot) : m_chain.back().source;
    }
    std::shared_ptr<DirHandle> SharedDestination()
    {
        return m_chain.empty() ? Unowned(&m_destinationRoot) : m_chain.back().destination;
    }

    // Opens the folders of relative (components joined by "\") from the tops, keeping what the previous
    // folder shares with it open. False (reported) when one is no longer the folder the plan saw.
    bool Reach(const std::string& relative)
    {
        std::vector<std::string> names;
        for (size_t start = 0; start < relative.size();) {
            const size_t sep = relative.find('\\', start);
            names.push_back(relative.substr(start, sep - start));
            start = sep + 1;
        }
        size_t common = 0;
        while (common < names.size() && common < m_chain.size() && m_chain[common].name == names[common])
            ++common;
        m_chain.resize(common);
        std::string prefix;
        for (size_t i = 0; i < common; ++i)
            prefix += names[i] + "\\";
        for (size_t i = common; i < names.size(); ++i) {
            prefix += names[i] + "\\";
            const auto known = m_plan.identities.find(prefix);
            const uint64_t sourceInode = known == m_plan.identities.end() ? 0 : known->second.first;
            const uint64_t destinationInode = known == m_plan.identities.end() ? 0 : known->second.second;
            Level level;
            level.name = names[i];
            ChildOpen status = ChildOpen::Failed;
            level.source = OpenFolder(Source(), names[i], sourceInode, status);
            if (level.source) level.destination = OpenFolder(Destination(), names[i], destinationInode, status);
            if (!level.source || !level.destination) {
                const std::string path = m_plan.destinationBase + prefix;
                m_receiver.Problem(status == ChildOpen::MountPoint ? AnotherDriveMessage(WithoutSeparator(path))
                                                                   : path + "  :   " + kChanged);
                m_chain.resize(common);
                return false;
            }
            m_chain.push_back(std::move(level));
        }
        return true;
    }

    bool Stopped() const { return m_stop.stop_requested(); }

    static constexpr const char* kChanged = "確認の後に変わったので，そのままにしました";

    const BackupPlan& m_plan;
    DirHandle& m_sourceRoot;
    DirHandle& m_destinationRoot;
    const std::stop_token m_stop;
    ProgressWindow& m_progress;
    std::vector<Level> m_chain;
    std::vector<std::string> m_refusedFolders; // relative, with their separators
    Receiver m_receiver; // last: its copies go before the folders they use
};

std::unique_ptr<DirHandle> Child(DirHandle& parent, const std::string& name)
{
    ChildOpen status = ChildOpen::Failed;
    auto child = OpenFolder(parent, name, 0, status);
    if (!child && status == ChildOpen::Failed && parent.CreateSubdirectory(name))
        child = OpenFolder(parent, name, 0, status);
    return child;
}

} // namespace

void BackupPlan::ForEachEntry(bool replacedOnly, const std::function<void(PlanAction, const std::string&)>& line) const
{
    for (const PlanFolder& folder : folders) {
        for (size_t i = folder.first; i < folder.first + folder.count; ++i) {
            const PlanStep step = steps.At(i);
            if (replacedOnly && step.action != PlanAction::Delete && !step.destinationExists) continue;
            const std::string& name = step.action == PlanAction::Delete || step.action == PlanAction::CreateFolder
                ? step.destination.name
                : step.source.name;
            const bool directory = step.action == PlanAction::CreateFolder
                || (step.action == PlanAction::Delete && IsRealDirectory(step.destination));
            line(step.action, destinationBase + folder.relative + name + (directory ? "\\" : ""));
        }
    }
}

std::vector<std::pair<PlanAction, std::string>> BackupPlan::Entries() const
{
    std::vector<std::pair<PlanAction, std::string>> out;
    ForEachEntry(false, [&out](PlanAction action, const std::string& path) { out.emplace_back(action, path); });
    return out;
}

std::vector<std::pair<PlanAction, std::string>> BackupPlan::DeletedOrReplaced() const
{
    std::vector<std::pair<PlanAction, std::string>> out;
    ForEachEntry(true, [&out](PlanAction action, const std::string& path) { out.emplace_back(action, path); });
    return out;
}

void BackupPlan::Add(const std::string& relative, const PlanStep& step)
{
    if (folders.empty() || folders.back().relative != relative)
        folders.push_back(PlanFolder { relative, steps.Size(), 0 });
    steps.Add(step);
    ++folders.back().count;
}

PlanSteps::Seen PlanSteps::Pack(const FindData& entry)
{
    Seen seen;
    seen.fileId = entry.fileId;
    seen.size = entry.size();
    seen.lastWrite = entry.lastWriteTime.value;
    seen.attributes = entry.attributes;
    seen.flags = uint8_t((entry.special ? 1 : 0) | (entry.mountPoint ? 2 : 0));
    return seen;
}

FindData PlanSteps::Unpack(const Seen& seen, std::string name)
{
    FindData entry;
    entry.fileId = seen.fileId;
    entry.sizeHigh = uint32_t(seen.size >> 32);
    entry.sizeLow = uint32_t(seen.size);
    entry.lastWriteTime.value = seen.lastWrite;
    entry.attributes = seen.attributes;
    entry.special = seen.flags & 1;
    entry.mountPoint = seen.flags & 2;
    entry.name = std::move(name);
    return entry;
}

uint32_t PlanSteps::Store(const std::string& name)
{
    constexpr size_t kBlock = 64 * 1024;
    if (m_names.empty() || m_names.back().size() + name.size() + 1 > m_names.back().capacity()) {
        m_names.emplace_back();
        m_names.back().reserve(std::max(kBlock, name.size() + 1));
    }
    std::vector<char>& block = m_names.back();
    // Where it lies: the block in the high bits, the offset in the low 16 (a longer name gets a block of
    // its own, at offset 0).
    const uint32_t at = uint32_t((m_names.size() - 1) << 16 | block.size());
    block.insert(block.end(), name.begin(), name.end());
    block.push_back('\0');
    return at;
}

std::string PlanSteps::Name(uint32_t at) const
{
    return std::string(m_names[at >> 16].data() + (at & 0xFFFF));
}

void PlanSteps::Add(const PlanStep& step)
{
    Packed packed;
    packed.action = step.action;
    packed.destinationExists = step.destinationExists;
    const bool deletes = step.action == PlanAction::Delete || step.action == PlanAction::CreateFolder;
    packed.entry = Pack(deletes ? step.destination : step.source);
    packed.name = Store(deletes ? step.destination.name : step.source.name);
    if (!deletes && !step.destinationExists) {
        m_steps.push_back(packed);
        return;
    }
    Extra extra;
    if (!deletes) {
        extra.destination = Pack(step.destination);
        // Where case folds, the destination may spell the name otherwise.
        extra.destinationName = step.destination.name == step.source.name ? packed.name : Store(step.destination.name);
    }
    extra.deleted = step.deleted;
    extra.counted = step.counted;
    packed.extra = uint32_t(m_extras.size());
    m_extras.push_back(std::move(extra));
    m_steps.push_back(packed);
}

PlanStep PlanSteps::At(size_t index) const
{
    const Packed& packed = m_steps[index];
    PlanStep step;
    step.action = packed.action;
    step.destinationExists = packed.destinationExists;
    const bool deletes = step.action == PlanAction::Delete || step.action == PlanAction::CreateFolder;
    std::string name = Name(packed.name);
    const Extra* extra = packed.extra == kNone ? nullptr : &m_extras[packed.extra];
    if (deletes) {
        step.destination = Unpack(packed.entry, std::move(name));
    } else {
        step.source = Unpack(packed.entry, name);
        step.destination = extra ? Unpack(extra->destination, Name(extra->destinationName)) : FindData {};
        if (!extra) step.destination.name = std::move(name);
    }
    if (extra) {
        step.deleted = extra->deleted;
        step.counted = extra->counted;
    }
    return step;
}

const char* PlanActionWord(PlanAction action)
{
    switch (action) {
    case PlanAction::CreateFolder:
        return "作成";
    case PlanAction::CopyNew:
        return "新規";
    case PlanAction::Update:
        return "更新";
    case PlanAction::CopyLink:
        return "リンク";
    case PlanAction::Delete:
        return "削除";
    }
    return "";
}

int EntriesDeleted(const BackupPlan& plan)
{
    return plan.counts.deletedFiles + plan.counts.deletedDirs;
}

bool DeletesMostOfTheDestination(const BackupPlan& plan)
{
    const int deleted = EntriesDeleted(plan);
    if (deleted <= 0) return false;
    return deleted == plan.destinationEntries || (deleted >= 10 && int64_t(deleted) * 2 > plan.destinationEntries);
}

std::string MassDeletionQuestion(const BackupPlan& plan)
{
    char text[256];
    std::snprintf(text, sizeof text,
        "バックアップ先の項目（ファイル・フォルダ－・リンク）　%d　のうち　%d　を削除します\n\r本当に実行しますか　？",
        plan.destinationEntries, EntriesDeleted(plan));
    return text;
}

Versions::Versions(std::unique_ptr<DirHandle> root, std::string rootPath, std::string runName)
    : m_root(std::move(root))
    , m_runPath(std::move(rootPath) + runName + "\\")
    , m_runName(std::move(runName))
{
}

Versions::~Versions() = default;

bool Versions::Keep(DirHandle& directory, const FindData& entry, const std::string& relativeDir)
{
    DirHandle* into = Folder(relativeDir);
    if (!into || !directory.MoveEntryTo(entry, *into)) return false;
    ++kept;
    return true;
}

bool Versions::KeepBeforeReplace(DirHandle& directory, const FindData& entry, const std::string& relativeDir)
{
    DirHandle* into = Folder(relativeDir);
    if (!into) return false;
    if (!directory.LinkEntryTo(entry, *into) && !directory.MoveEntryTo(entry, *into)) return false;
    ++kept;
    return true;
}

DirHandle* Versions::Folder(const std::string& relativeDir)
{
    if (m_open && m_openFor == relativeDir) return m_open.get();
    m_open.reset();
    std::unique_ptr<DirHandle> at = Child(*m_root, m_runName);
    for (size_t start = 0; at && start < relativeDir.size();) {
        const size_t sep = relativeDir.find('\\', start);
        at = Child(*at, relativeDir.substr(start, sep - start));
        start = sep == std::string::npos ? relativeDir.size() : sep + 1;
    }
    if (!at) return nullptr;
    m_open = std::move(at);
    m_openFor = relativeDir;
    return m_open.get();
}

int CarryOutPlan(const BackupPlan& plan, DirHandle& sourceRoot, DirHandle& destinationRoot,
    const FolderTransfer& request, Versions* versions, TransferCounts& counts, std::stop_token stop)
{
    PlanRun run(plan, sourceRoot, destinationRoot, request, versions, counts, std::move(stop));
    return run.Run();
}

} // namespace zelo
