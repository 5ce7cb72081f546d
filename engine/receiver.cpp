// The receiver: every transfer's decisions carried out in one place.
#include "engine/receiver.h"

#include "engine/file_copy.h"
#include "engine/messages.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/ui_services.h"

namespace zelo {

namespace {

constexpr const char* kChanged = "確認の後に変わったので，そのままにしました";

bool IsRealDirectory(const FindData& entry)
{
    return (entry.attributes & kAttrDirectory) && !(entry.attributes & kAttrReparsePoint);
}

// The same entry as the plan saw it: the same inode, kind, size and write time.
bool Unchanged(const FindData& now, const FindData& planned)
{
    return now.fileId == planned.fileId && KindOf(now) == KindOf(planned) && now.size() == planned.size()
        && now.lastWriteTime == planned.lastWriteTime;
}

// Whether a bind mount, another drive or a lookup error hides what stands at a name: anything but "there
// is nothing" is something.
bool NothingThere(DirHandle& dir, const std::string& name)
{
    FindData found;
    if (dir.Lookup(name, found)) return false;
    const uint32_t code = GetLastError();
    return code == err::FileNotFound || code == err::PathNotFound;
}

} // namespace

Receiver::Receiver(ReceiverSetup setup, TransferCounts& counts, std::stop_token stop)
    : m_setup(std::move(setup))
    , m_counts(counts)
    , m_workers(CopyWorkerOptions::For(m_setup.network), std::move(stop), m_setup.showProgress)
{
}

Receiver::~Receiver() = default;

Carried Receiver::Carry(const ReceiverFolder& at, const PlanStep& step, std::function<void()> ended)
{
    switch (step.action) {
    case PlanAction::Delete:
        if (!Drain()) return Carried::RunEnded;
        return Delete(at, step);
    case PlanAction::CreateFolder:
        return CreateFolder(at, step);
    case PlanAction::CopyNew:
    case PlanAction::Update:
    case PlanAction::CopyLink:
        return Copy(at, step, std::move(ended));
    }
    return Carried::Done;
}

void Receiver::Problem(const std::string& text)
{
    if (!Drain()) return;
    ++m_counts.failures;
    m_counts.problems.push_back(text);
    ShowPlainMessage(text);
}

int Receiver::Finish(int status)
{
    // Every copy handed over is in its place before the result (a stop or a failure drops the rest).
    m_workers.Drain();
    // Names the destination refused were told; they are failures of the run, which went on.
    m_counts.failures += m_workers.Refused();
    if (m_workers.Ended()) return m_workers.StoppedByUser() ? kTransferCancelled : kTransferStoppedByError;
    return status;
}

Carried Receiver::CreateFolder(const ReceiverFolder& at, const PlanStep& step)
{
    const std::string path = m_setup.destinationBase + at.relative + step.destination.name + "\\";
    if (at.destination->CreateSubdirectory(step.destination.name)) {
        ++m_counts.createdDirs;
        return Carried::Done;
    }
    // A name the destination refuses leaves that folder out, told once; anything else ends the run.
    const bool refused = NameRefused();
    const std::string text = FileErrorText(path, kContextRemoveTree);
    Problem(text);
    return refused ? Carried::Left : Carried::RunEnded;
}

Carried Receiver::Delete(const ReceiverFolder& at, const PlanStep& step)
{
    // After a deletion failed, the mirror step of this folder ends; the copying goes on.
    if (m_deletionsEnded && m_deletionsEndedIn == at.relative) return Carried::Left;
    m_deletionsEnded = false;
    const std::string path = m_setup.destinationBase + at.relative + step.destination.name;
    DirHandle& dir = *at.destination;
    Versions* versions = m_setup.versions;
    // The very entry the plan showed: a file also by its size and time, as a number freed by a deletion
    // may be given at once to a new file of the same name.
    FindData now;
    const bool directory = IsRealDirectory(step.destination);
    if (!dir.Lookup(step.destination.name, now)
        || (directory ? now.fileId != step.destination.fileId || KindOf(now) != KindOf(step.destination)
                      : !Unchanged(now, step.destination))) {
        Problem(path + "  :   " + kChanged);
        return Carried::Left;
    }
    if (directory && step.counted && !(versions && StillAsCounted(dir, now, *step.counted))) {
        // Changed since the plan: only what it counted goes (or moves aside), one entry at a time.
        KeepAside keep;
        if (versions) {
            keep = [versions](DirHandle& in, const FindData& entry, const std::string& relativeDir) {
                return versions->Keep(in, entry, relativeDir);
            };
        }
        const DeleteResult deleted = RemoveCounted(dir, now, m_setup.destinationBase, at.relative + now.name + "\\",
            *step.counted, m_setup.options, keep, kChanged);
        m_counts.deletedDirs += deleted.dirs;
        m_counts.deletedFiles += deleted.files;
        if (deleted.failures == 0) return Carried::Done;
        // RemoveCounted has told each entry it left.
        m_counts.failures += deleted.failures;
        m_counts.problems.push_back(path + "\\  :   " + kChanged);
        return Carried::Left;
    }
    if (versions) {
        if (versions->Keep(dir, now, at.relative)) {
            m_counts.deletedDirs += step.deleted.dirs;
            m_counts.deletedFiles += step.deleted.files;
            return Carried::Done;
        }
        Problem(FileErrorText(path, kContextDeleteBackup));
    } else if (directory) {
        const DeleteResult deleted = DeleteSubtree(dir, now, path + "\\", m_setup.options);
        m_counts.deletedDirs += deleted.dirs;
        m_counts.deletedFiles += deleted.files;
        if (deleted.result == 1 && deleted.failures == 0) return Carried::Done;
        // DeleteSubtree has told each of its problems.
        ++m_counts.failures;
        m_counts.problems.push_back(path + "\\  :   削除出来ませんでした");
    } else if (dir.DeleteEntry(now, m_setup.options.clearReadOnly)) {
        ++m_counts.deletedFiles;
        return Carried::Done;
    } else {
        Problem(FileErrorText(path, kContextDeleteBackup));
    }
    m_deletionsEnded = true;
    m_deletionsEndedIn = at.relative;
    return Carried::Left;
}

Carried Receiver::Copy(const ReceiverFolder& at, const PlanStep& step, std::function<void()> ended)
{
    const std::string& name = step.source.name;
    std::string sourcePath = m_setup.sourceFolder + at.relative + name;
    std::string destinationPath = m_setup.destinationBase + at.relative + name;
    FindData source = step.source;
    FindData destination = step.destination;
    if (m_setup.verify) {
        // The source as the plan saw it, and the destination as it was (or nothing there), the destination by
        // the name it was listed under (where case folds, its case may differ).
        const bool sourceSame = at.source->Lookup(name, source) && Unchanged(source, step.source);
        const bool destinationSame = step.destinationExists
            ? at.destination->Lookup(step.destination.name, destination) && Unchanged(destination, step.destination)
            : NothingThere(*at.destination, name);
        if (!sourceSame || !destinationSame) {
            Problem((sourceSame ? destinationPath : sourcePath) + "  :   " + kChanged);
            return Ended() ? Carried::RunEnded : Advance(Carried::Left);
        }
        m_workers.Pump();
    }
    if (step.action == PlanAction::CopyLink) return CopyLink(at, step, source, destination, destinationPath);

    uint32_t destAttributes = step.destinationExists ? destination.attributes : kInvalidAttributes;
    // Where ReadOnly items may be overwritten, a ReadOnly destination is made writable first, through its
    // folder and the very file listed there, never by its path.
    if (step.destinationExists && (destAttributes & kAttrReadOnly) && m_setup.clearReadOnlyDestinations) {
        if (!Drain()) return Carried::RunEnded;
        if (auto old = at.destination->OpenForCopy(destination)) {
            at.destination->MarkArchiveOnly(destination, *old);
            destAttributes &= ~uint32_t(kAttrReadOnly);
        }
    }
    // The bytes move beside the walk. No flush per file: the destination is synced once at the end.
    CopyOptions options;
    options.flushEachFile = m_setup.flushEachFile;
    if (m_setup.versions && step.destinationExists) {
        // Kept when the copy takes its place, in the order of the steps.
        options.beforeCommit = [versions = m_setup.versions, to = at.destination, destination, relative = at.relative] {
            return versions->KeepBeforeReplace(*to, destination, relative);
        };
    }
    auto copy = std::make_unique<ListedCopy>(at.source, source, at.destination, destAttributes, std::move(sourcePath),
        std::move(destinationPath), std::move(options));
    // Counted once in its place; a move notes it for the deletion of its source.
    const auto done = [this, action = step.action, source] {
        ++m_finished;
        return Placed(action, source);
    };
    return m_workers.Submit(std::move(copy), done, std::move(ended)) ? Carried::Done : Carried::RunEnded;
}

Carried Receiver::CopyLink(const ReceiverFolder& at, const PlanStep& step, const FindData& source,
    const FindData& destination, const std::string& destinationPath)
{
    // A link is copied as the link, never what it points to, once every copy before it is in its place.
    if (!Drain()) return Carried::RunEnded;
    if (m_setup.versions && step.destinationExists
        && !m_setup.versions->Keep(*at.destination, destination, at.relative)) {
        ReportFileError(destinationPath, kContextWriteDenied);
        return Carried::RunEnded;
    }
    if (!at.source->CopyLinkTo(source, *at.destination)) {
        if (GetLastError() != err::NotSupported) {
            ReportFileError(destinationPath, kContextWriteDenied);
            return Carried::RunEnded;
        }
        // A destination without links: told once a run; a move keeps the link.
        LinkNotCopied(m_counts, destinationPath);
        return Advance(Carried::Left);
    }
    if (!Placed(step.action, source)) return Carried::RunEnded;
    return Advance(Carried::Done);
}

bool Receiver::Placed(PlanAction action, const FindData& source)
{
    if (action == PlanAction::Update)
        ++m_counts.updatedFiles;
    else
        ++m_counts.newFiles;
    if (m_setup.moved) m_setup.moved->copied[source.fileId] = MovedEntry { source.size(), source.lastWriteTime };
    return !m_setup.placed || m_setup.placed(source);
}

Carried Receiver::Advance(Carried carried)
{
    ++m_finished;
    m_workers.Pump();
    return carried;
}

} // namespace zelo
