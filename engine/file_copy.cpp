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

// Bytes moved per system call: large enough to run near the page cache's speed,
// small enough that the stop button answers within a few milliseconds.
constexpr size_t kChunkSize = size_t(4) << 20;

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

enum class Moved { Complete, Stopped, Failed };

// Moves the bytes of input into output (a replacement not yet committed), stepping the bar by the
// 8192-byte blocks moved and letting the window run once per chunk, so the stop button is seen.
Moved MoveBytes(File& input, File& output, ProgressBar bar, const int& abortFlag, uint64_t& copied)
{
    ProgressWindow& progress = ui().Progress();
    copied = 0;
    for (;;) {
        const int64_t moved = output.CopyFrom(input, kChunkSize);
        if (moved < 0) return Moved::Failed;
        if (moved == 0) return Moved::Complete;
        // One step per 8192-byte block of the size, a final partial block counting as one (a
        // skipped hole counts as the blocks it spans).
        const uint64_t before = BlocksOf(copied);
        copied += static_cast<uint64_t>(moved);
        progress.Step(bar, ProgressUnits(BlocksOf(copied) - before));
        ui().ProcessEvents();
        if (abortFlag == kAbortRequested) return Moved::Stopped;
    }
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

} // namespace

namespace {

// Where a copy's bytes come from and go to: by path (CopyOneFile) or through open directories
// (CopyListedFile).
struct CopyEnds {
    std::function<std::unique_ptr<File>()> openSource;
    std::function<uint32_t()> destinationAttributes;
    std::function<std::unique_ptr<File>()> createReplacement;
    std::function<bool(std::unique_ptr<File>, const ReplaceOptions&)> commit;
    std::function<void(File&)> markSourceArchive;
};

int CopyBetween(const CopyEnds& ends, const std::string& source, const std::string& destination, int progressSelector,
    const CopyOptions& options, const int& abortFlag)
{
    // The platform refuses FIFOs, sockets and devices here, so the copy never blocks on one.
    auto input = ends.openSource();
    if (!input) {
        ReportFileError(source, kContextReadSource);
        return -1;
    }
    const uint32_t destAttributes = ends.destinationAttributes();
    if (RefusedDestination(destAttributes)) {
        // A directory of that name is not ReadOnly: it is a name already taken by another kind of entry.
        const bool directory = (destAttributes & kAttrDirectory) && !(destAttributes & kAttrReparsePoint);
        SetLastError(directory ? err::AlreadyExists : err::AccessDenied);
        ReportFileError(destination, kContextOverwrite);
        return -1;
    }
    // What the file holds when the copy begins: a copy that ends short of it is no copy.
    const int64_t sizeAtOpen = input->SizeAtOpen();
    // The bytes go to a new file that replaces the destination only when complete, so a stop or
    // a failure leaves an earlier copy as it was; a special file there is refused now.
    auto output = ends.createReplacement();
    if (!output) {
        // Refused although the entry is not ReadOnly: the folder does not let this user write.
        ReportFileError(destination, kContextWriteDenied);
        return -1;
    }
    if (!input->Seek(0)) {
        output.reset();
        ReportFileError(source, kContextReadSource);
        return -1;
    }
    if (progressSelector == kProgressOverall) ui().Progress().SetLabel(LastComponent(source));
    const ProgressBar bar = progressSelector == kProgressOverall ? ProgressBar::Overall : ProgressBar::Block;
    uint64_t copied = 0;
    switch (MoveBytes(*input, *output, bar, abortFlag, copied)) {
    case Moved::Failed:
        // A read or write failure (disk full and the like) in the middle of the copy: dropping the
        // unfinished file removes it.
        output.reset();
        ReportFileError(destination, kContextWriteDenied);
        return -1;
    case Moved::Stopped:
        // Stopped by the user: nothing of this copy stays, an earlier destination is untouched.
        return 1;
    case Moved::Complete:
        break;
    }
    if (sizeAtOpen > 0 && copied < static_cast<uint64_t>(sizeAtOpen)) {
        // The source ended early (truncated meanwhile, or a file system that stops reading): the partial
        // file never takes the place of an earlier good copy.
        output.reset();
        SetLastError(err::ReadFault);
        ReportFileError(source, kContextReadSource);
        return -1;
    }
    if (options.beforeCommit && !options.beforeCommit()) {
        output.reset();
        ReportFileError(destination, kContextWriteDenied);
        return -1;
    }
    if (!ends.commit(std::move(output), FromSource(*input, options))) {
        ReportFileError(destination, kContextWriteDenied);
        return -1;
    }
    // A copied source becomes Archive only (moves then delete a ReadOnly source); a failure,
    // for example on a CD, is of no consequence.
    ends.markSourceArchive(*input);
    return 1;
}

} // namespace

int CopyOneFile(const std::string& source, const std::string& destination, int progressSelector, const int& abortFlag,
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
    return CopyBetween(ends, source, destination, progressSelector, options, abortFlag);
}

int CopyListedFile(DirHandle& from, const FindData& entry, DirHandle& to, uint32_t destAttributes,
    const std::string& source, const std::string& destination, int progressSelector, const CopyOptions& options,
    const int& abortFlag)
{
    CopyEnds ends;
    ends.openSource = [&] { return from.OpenForCopy(entry); };
    ends.destinationAttributes = [&] { return destAttributes; };
    // Where the listing of the destination found no such name, it is not looked up again.
    ends.createReplacement = [&] { return to.CreateReplacement(entry.name, destAttributes == kInvalidAttributes); };
    ends.commit = [&](std::unique_ptr<File> file, const ReplaceOptions& replace) {
        return to.CommitReplacement(std::move(file), entry.name, replace);
    };
    ends.markSourceArchive = [&](File& input) { from.MarkArchiveOnly(entry, input); };
    return CopyBetween(ends, source, destination, progressSelector, options, abortFlag);
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
