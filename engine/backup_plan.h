// The plan of a folder operation: the walk's decisions, taken once before anything is written, so that a
// backup can be shown, guarded against mass deletion and then carried out exactly as shown.
#pragma once

#include "engine/folder_transfer.h"
#include "engine/tree.h"
#include "platform/dir_handle.h"
#include "platform/types.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zelo {

enum class PlanAction {
    CreateFolder, // a destination folder the source has and the destination lacks
    CopyNew, // a file missing at the destination (or "new" off)
    Update, // a file newer at the source
    CopyLink, // a symbolic link, copied as the link
    Delete, // a destination entry the source lacks, or holds as another kind (a directory with its contents)
};

// One decision in a folder: the entries as the plan saw them, so that the run acts only on those very ones.
struct PlanStep {
    PlanAction action = PlanAction::CopyNew;
    FindData source; // copies: the source entry
    FindData destination; // Update, Delete, and a copy over an earlier link: the destination entry
    bool destinationExists = false;
    TreeTotals deleted; // Delete: what goes (a directory counts itself and its contents)
    // Delete of a directory: every entry in it the plan counted; nothing else in it goes.
    std::shared_ptr<const CountedEntries> counted;
};

// The steps of one folder, below the source folder and the destination base alike: a stretch of the
// plan's steps.
struct PlanFolder {
    std::string relative; // with its trailing separator; "" for the top
    size_t first = 0; // the index of its first step
    size_t count = 0;
};

// The steps of a plan, packed: a first backup plans every file of the source before it copies the first
// byte, so a step keeps only what the run checks and does (about 50 bytes and its name), its name in
// a shared arena, and what only updates and deletions need aside.
class PlanSteps {
public:
    void Add(const PlanStep& step);
    PlanStep At(size_t index) const;
    size_t Size() const { return m_steps.size(); }

private:
    // An entry as the plan saw it, without its name.
    struct Seen {
        uint64_t fileId = 0;
        uint64_t size = 0;
        uint64_t lastWrite = 0;
        uint32_t attributes = 0;
        uint8_t flags = 0; // special, mount point
    };
    struct Packed {
        Seen entry; // the source of a copy; the destination of a deletion or a folder to make
        uint32_t name = 0; // in the arena
        uint32_t extra = kNone; // in m_extras
        PlanAction action = PlanAction::CopyNew;
        bool destinationExists = false;
    };
    // What an update, a copy over an earlier entry or a deletion needs besides.
    struct Extra {
        Seen destination;
        uint32_t destinationName = 0;
        TreeTotals deleted;
        std::shared_ptr<const CountedEntries> counted;
    };
    static constexpr uint32_t kNone = UINT32_MAX;
    static Seen Pack(const FindData& entry);
    static FindData Unpack(const Seen& seen, std::string name);
    uint32_t Store(const std::string& name);
    std::string Name(uint32_t at) const;

    std::deque<Packed> m_steps; // grows in blocks: no copy of the whole on growth
    std::deque<Extra> m_extras;
    std::vector<std::vector<char>> m_names; // names, each ended by a NUL, in blocks
};

struct BackupPlan {
    // What the run will do: the counts as the result shows them, and the problems met while planning
    // (entries that cannot be read, special files, other drives mounted inside).
    TransferCounts counts;
    uint64_t bytes = 0; // bytes to copy
    // Entries the destination holds now (files, links and folders, those inside folders to delete included).
    int destinationEntries = 0;
    std::vector<PlanFolder> folders; // the folders with steps, parents before children
    PlanSteps steps;
    // Every folder walked: (source inode, destination inode; 0 where the run makes it), by relative path.
    std::unordered_map<std::string, std::pair<uint64_t, uint64_t>> identities;
    std::string sourceFolder; // drive paths of the two tops, with their separators
    std::string destinationBase;

    // Adds a step of the folder relative (a folder's steps come together, in walk order).
    void Add(const std::string& relative, const PlanStep& step);

    // Each step's line, as the detail list and a dry run show them: the action and the destination path
    // (replacedOnly: only the steps that delete or replace what the destination holds).
    void ForEachEntry(bool replacedOnly, const std::function<void(PlanAction, const std::string&)>& line) const;
    // One line per step, as the detail list and a dry run show them: the action and the destination path.
    std::vector<std::pair<PlanAction, std::string>> Entries() const;
    // The same for the steps that delete or replace what the destination holds (a copy over an earlier
    // file or link included).
    std::vector<std::pair<PlanAction, std::string>> DeletedOrReplaced() const;
};

// The Japanese word of an action, for the detail list ("新規", "更新", "削除", ...).
const char* PlanActionWord(PlanAction action);

// The entries a plan deletes: files, links and folders, those inside folders to delete included.
int EntriesDeleted(const BackupPlan& plan);

// Whether a plan deletes most of the destination: more than half its entries (and at least 10), or all of
// them. A source drive that came up empty or a wrong folder chosen looks so.
bool DeletesMostOfTheDestination(const BackupPlan& plan);

// The second question of a backup that would delete most of the destination, naming the numbers.
std::string MassDeletionQuestion(const BackupPlan& plan);

// The earlier versions a backup keeps: what it deletes or replaces goes, by a rename within the
// destination's file system (never a copy), to the run's own folder of the versions folder, at the same
// relative path. The run's folder and its subfolders are made when first needed.
class Versions {
public:
    Versions(std::unique_ptr<DirHandle> root, std::string rootPath, std::string runName);
    ~Versions();

    const std::string& RunPath() const { return m_runPath; }
    int kept = 0;

    // Moves an entry of directory (relativeDir below the destination's top, with its separator) aside.
    bool Keep(DirHandle& directory, const FindData& entry, const std::string& relativeDir);
    // Keeps a file that is about to be replaced: a second name where the file system has hard links (the
    // file stays in place until its replacement is complete), else moved aside now.
    bool KeepBeforeReplace(DirHandle& directory, const FindData& entry, const std::string& relativeDir);

private:
    DirHandle* Folder(const std::string& relativeDir);

    std::unique_ptr<DirHandle> m_root;
    std::string m_runPath;
    std::string m_runName;
    std::unique_ptr<DirHandle> m_open;
    std::string m_openFor;
};

// Opens the versions folder of a backup, checked where it is or would be made: it must be on the
// destination's file system, outside the source (sourceRoot, at sourceFolder) and (inside true:
// destinationRoot is the backup's top folder) outside the tree the backup makes identical to its source.
// make false only checks (nothing is made before the plan is accepted) and returns null also when it
// passes; ok tells which. Null with ok false after a message.
std::unique_ptr<Versions> OpenVersions(const std::string& versionsDir, DirHandle& destinationRoot, bool inside,
    DirHandle& sourceRoot, const std::string& sourceFolder, bool make, bool& ok);

// Carries out a backup's plan through the two open tops: each step only while its entries are still those
// the plan saw (anything changed since is left and reported), folders reached from the tops by name and
// checked against the identities the plan recorded. counts starts from the plan's and ends with what was
// done. Returns kTransferDone, kTransferStoppedByError (a copy or a folder that failed) or
// kTransferCancelled.
int CarryOutPlan(const BackupPlan& plan, DirHandle& sourceRoot, DirHandle& destinationRoot,
    const FolderTransfer& request, Versions* versions, TransferCounts& counts, std::stop_token stop);

} // namespace zelo
