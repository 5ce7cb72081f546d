// The single-file copy and the date comparison.
#include "engine/file_copy.h"

#include "engine/messages.h"
#include "platform/drive_path.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/time.h"
#include "platform/ui_services.h"

#include <functional>

namespace zelo {

namespace {

// Bytes moved between two looks at the stop request: large enough to run near the page cache's speed,
// small enough that the stop button answers within 100 ms even on a share that moves 10 MB a second.
constexpr size_t kChunkSize = size_t(1) << 20;

uint64_t BlocksOf(uint64_t bytes)
{
    return (bytes + kCopyBlockSize - 1) / kCopyBlockSize;
}

bool LocalFields(const std::string& path, SystemTime& fields)
{
    FindData data;
    if (!FindFileEntry(path, data)) return false;
    FileTime local;
    return FileTimeToLocalFileTime(data.lastWriteTime, local) && FileTimeToSystemTime(local, fields);
}

} // namespace

bool FindFileEntry(const std::string& path, FindData& data)
{
    auto search = fs().FindFirst(path, kAttrMaskAll, data);
    if (!search) return false;
    const std::string name = LastComponent(path);
    while (data.name != name) {
        if (!search->Next(data)) {
            SetLastError(err::FileNotFound);
            return false;
        }
    }
    return true;
}

namespace {

// A copy's bytes move one chunk at a time; after each, step(bytes moved so far) says whether to go on.
enum class Moved { Complete, Stopped, Failed };

Moved MoveBytes(File& input, File& output, const std::function<bool(uint64_t)>& step, uint64_t& copied)
{
    copied = 0;
    for (;;) {
        const int64_t moved = output.CopyFrom(input, kChunkSize);
        if (moved < 0) return Moved::Failed;
        if (moved == 0) return Moved::Complete;
        copied += static_cast<uint64_t>(moved);
        if (!step(copied)) return Moved::Stopped;
    }
}

// Whether the source fails where the failed step began to read it. One step moves the bytes in the kernel
// and leaves a single error for both ends; a source that reads there is intact, so the fault was the
// destination's (a full disk and the like). The step's error stays the one reported.
bool SourceFailsToRead(File& input, uint64_t copied)
{
    const KeepLastError failure;
    char probe[4096];
    return !input.Seek(static_cast<int64_t>(copied)) || input.Read(probe, sizeof probe) < 0;
}

// What a finished copy takes from its source before it replaces the destination: the exact times and
// permission bits from the open source, writable by its owner (a CD file becomes an ordinary file).
ReplaceOptions FromSource(File& input, const CopyOptions& options)
{
    ReplaceOptions replace;
    replace.source = &input;
    replace.addOwnerWrite = true;
    replace.flush = options.flushEachFile;
    return replace;
}

// A ReadOnly destination (or a directory of that name) is refused before anything is written, as the
// create call of the system would refuse it.
bool RefusedDestination(uint32_t destAttributes)
{
    return destAttributes != kInvalidAttributes
        && ((destAttributes & kAttrReadOnly)
            || ((destAttributes & kAttrDirectory) && !(destAttributes & kAttrReparsePoint)));
}

// Where a copy's bytes come from and go to: by path (CopyOneFile) or through open directories
// (ListedCopy).
struct CopyEnds {
    std::function<std::unique_ptr<File>()> openSource;
    std::function<uint32_t()> destinationAttributes;
    std::function<std::unique_ptr<File>()> createReplacement;
    std::function<bool(std::unique_ptr<File>, const ReplaceOptions&)> commit;
    std::function<void(File&)> markSourceArchive;
};

// A copy under way: what its two steps share, and what went wrong (told by whoever tells messages).
struct CopyState {
    std::unique_ptr<File> input;
    std::unique_ptr<File> output;
    int64_t sizeAtOpen = 0;
    uint64_t copied = 0;
    std::string failedPath;
    int failedContext = kContextOverwrite;
    uint32_t error = err::Success;

    bool Fail(const std::string& path, int context)
    {
        error = GetLastError();
        failedPath = path;
        failedContext = context;
        output.reset(); // an unfinished replacement leaves nothing
        return false;
    }
};

// The first step: the source opened, the replacement made beside the destination and the bytes moved into
// it. True when they all moved; false after a failure (state says what) or a stop (state.error unset).
bool MoveCopy(const CopyEnds& ends, const std::string& source, const std::string& destination,
    const std::function<bool(uint64_t)>& step, CopyState& state)
{
    // The platform refuses FIFOs, sockets and devices here, so the copy never blocks on one.
    state.input = ends.openSource();
    if (!state.input) return state.Fail(source, kContextReadSource);
    const uint32_t destAttributes = ends.destinationAttributes();
    if (RefusedDestination(destAttributes)) {
        // A directory of that name is not ReadOnly: it is a name already taken by another kind of entry.
        const bool directory = (destAttributes & kAttrDirectory) && !(destAttributes & kAttrReparsePoint);
        SetLastError(directory ? err::AlreadyExists : err::AccessDenied);
        return state.Fail(destination, kContextOverwrite);
    }
    // What the file holds when the copy begins: a copy that ends short of it is no copy.
    state.sizeAtOpen = state.input->SizeAtOpen();
    // The bytes go to a new file that replaces the destination only when complete, so a stop or
    // a failure leaves an earlier copy as it was; a special file there is refused now.
    state.output = ends.createReplacement();
    // Refused although the entry is not ReadOnly: the folder does not let this user write.
    if (!state.output) return state.Fail(destination, kContextWriteDenied);
    if (!state.input->Seek(0)) return state.Fail(source, kContextReadSource);
    switch (MoveBytes(*state.input, *state.output, step, state.copied)) {
    case Moved::Failed:
        // A read or write failure in the middle of the copy: the message names the side that failed.
        if (SourceFailsToRead(*state.input, state.copied)) return state.Fail(source, kContextReadSource);
        return state.Fail(destination, kContextWriteDenied);
    case Moved::Stopped:
        // Stopped by the user: nothing of this copy stays, an earlier destination is untouched.
        state.output.reset();
        return false;
    case Moved::Complete:
        break;
    }
    if (state.sizeAtOpen > 0 && state.copied < static_cast<uint64_t>(state.sizeAtOpen)) {
        // The source ended early (truncated meanwhile, or a file system that stops reading): the partial
        // file never takes the place of an earlier good copy.
        SetLastError(err::ReadFault);
        return state.Fail(source, kContextReadSource);
    }
    return true;
}

// The second step: the complete file takes the destination's place.
bool CommitCopy(const CopyEnds& ends, const std::string& destination, const CopyOptions& options, CopyState& state)
{
    if (options.beforeCommit && !options.beforeCommit()) return state.Fail(destination, kContextWriteDenied);
    if (!ends.commit(std::move(state.output), FromSource(*state.input, options)))
        return state.Fail(destination, kContextWriteDenied);
    // A copied source becomes Archive only (moves then delete a ReadOnly source); a failure,
    // for example on a CD, is of no consequence.
    ends.markSourceArchive(*state.input);
    state.input.reset();
    return true;
}

// Both steps at once, stepping the progress window by the 8192-byte blocks moved and letting it run once
// per chunk, so the stop button is seen.
int CopyBetween(const CopyEnds& ends, const std::string& source, const std::string& destination, int progressSelector,
    const CopyOptions& options, const std::stop_token& stop)
{
    ProgressWindow& progress = ui().Progress();
    if (progressSelector == kProgressOverall) progress.SetLabel(LastComponent(source));
    const ProgressBar bar = progressSelector == kProgressOverall ? ProgressBar::Overall : ProgressBar::Block;
    uint64_t shown = 0;
    const auto step = [&](uint64_t copied) {
        // One step per 8192-byte block of the size, a final partial block counting as one (a skipped hole
        // counts as the blocks it spans).
        progress.Step(bar, ProgressUnits(BlocksOf(copied) - BlocksOf(shown)));
        shown = copied;
        ui().ProcessEvents();
        return !stop.stop_requested();
    };
    CopyState state;
    if (MoveCopy(ends, source, destination, step, state) && CommitCopy(ends, destination, options, state)) return 1;
    if (state.failedPath.empty()) return 1; // stopped: callers test the stop request
    SetLastError(state.error);
    ReportFileError(state.failedPath, state.failedContext);
    return -1;
}

} // namespace

int CopyOneFile(const std::string& source, const std::string& destination, int progressSelector, std::stop_token stop,
    const CopyOptions& options)
{
    FileSystem& files = fs();
    CopyEnds ends;
    ends.openSource = [&] { return files.Open(source, OpenMode::Read); };
    ends.destinationAttributes = [&] { return files.GetAttributes(destination); };
    ends.createReplacement = [&] { return files.CreateReplacement(destination); };
    ends.commit = [&](std::unique_ptr<File> file, const ReplaceOptions& replace) {
        return files.CommitReplacement(std::move(file), destination, replace);
    };
    ends.markSourceArchive = [](File& input) { MarkArchiveOnly(input); };
    return CopyBetween(ends, source, destination, progressSelector, options, stop);
}

struct ListedCopy::State {
    std::shared_ptr<DirHandle> from;
    std::shared_ptr<DirHandle> to;
    FindData entry;
    uint32_t destAttributes;
    std::string source;
    std::string destination;
    CopyOptions options;
    CopyEnds ends;
    CopyState copy; // last: an uncommitted replacement goes before the directory it lives in
};

ListedCopy::ListedCopy(std::shared_ptr<DirHandle> from, const FindData& entry, std::shared_ptr<DirHandle> to,
    uint32_t destAttributes, std::string source, std::string destination, CopyOptions options)
    : m_state(std::make_unique<State>())
{
    State& s = *m_state;
    s.from = std::move(from);
    s.to = std::move(to);
    s.entry = entry;
    s.destAttributes = destAttributes;
    s.source = std::move(source);
    s.destination = std::move(destination);
    s.options = std::move(options);
    State* state = m_state.get();
    s.ends.openSource = [state] { return state->from->OpenForCopy(state->entry); };
    s.ends.destinationAttributes = [state] { return state->destAttributes; };
    // Where the listing of the destination found no such name, it is not looked up again.
    s.ends.createReplacement = [state] {
        return state->to->CreateReplacement(state->entry.name, state->destAttributes == kInvalidAttributes);
    };
    s.ends.commit = [state](std::unique_ptr<File> file, const ReplaceOptions& replace) {
        return state->to->CommitReplacement(std::move(file), state->entry.name, replace);
    };
    s.ends.markSourceArchive = [state](File& input) { state->from->MarkArchiveOnly(state->entry, input); };
}

ListedCopy::~ListedCopy() = default;

bool ListedCopy::Move(const std::function<bool(uint64_t)>& step)
{
    return MoveCopy(m_state->ends, m_state->source, m_state->destination, step, m_state->copy);
}

bool ListedCopy::Commit()
{
    return CommitCopy(m_state->ends, m_state->destination, m_state->options, m_state->copy);
}

bool ListedCopy::Failed() const
{
    return !m_state->copy.failedPath.empty();
}

bool NameRefused()
{
    return GetLastError() == err::InvalidName || GetLastError() == err::FilenameTooLong;
}

bool ListedCopy::NameRefused() const
{
    return Failed() && (m_state->copy.error == err::InvalidName || m_state->copy.error == err::FilenameTooLong);
}

void ListedCopy::Report() const
{
    SetLastError(m_state->copy.error);
    ReportFileError(m_state->copy.failedPath, m_state->copy.failedContext);
}

const FindData& ListedCopy::Entry() const
{
    return m_state->entry;
}

int CompareFileDates(const std::string& source, const std::string& destination)
{
    SystemTime s;
    SystemTime d;
    const bool haveSource = LocalFields(source, s);
    const bool haveDestination = LocalFields(destination, d);
    // Callers test the destination first; a missing side still gives a sign that favours copying.
    if (!haveSource || !haveDestination) return haveSource ? 1 : (haveDestination ? -1 : 0);
    const int fields[6][2] = {
        { s.year, d.year },
        { s.month, d.month },
        { s.day, d.day },
        { s.hour, d.hour },
        { s.minute, d.minute },
        { s.second, d.second },
    };
    for (const auto& f : fields) {
        if (f[0] != f[1]) return f[0] - f[1];
    }
    return 0;
}

} // namespace zelo
