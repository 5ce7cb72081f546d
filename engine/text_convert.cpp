// The text conversions: every mode streams the open file through fixed buffers (a character, a CR LF
// pair or an ESC sequence may straddle two of them) into an unnamed replacement that takes the
// original's place only when every byte is written, or, for a file of several names, back into the
// file itself while a durable copy of the original is kept. Memory stays a few MiB whatever the file's
// size.
#include "engine/text_convert.h"

#include "engine/messages.h"
#include "platform/cp932.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/held_signals.h"
#include "platform/ui_services.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>

namespace zelo {

namespace {

// Input bytes read and converted at a time (one progress step). At most kCarry bytes of a chunk (a
// character cut by its end, or the two bytes a lead byte looks ahead to) wait for the next one.
constexpr size_t kChunk = size_t(1) << 20;
constexpr size_t kCarry = 2;
// Converted bytes held before they are written: room for the largest chunk's output (CP932 to UTF-8).
constexpr size_t kOutputCapacity = kCp932ToUtf8Growth * (kChunk + kCarry + 3);

// A file of 4 GiB or more ends the command ("フアイルが大き過ぎます").
constexpr uint64_t kTooBig = uint64_t(1) << 32;

constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kBackspace = 0x08;
constexpr uint8_t kEscapeEnd = 'm';

constexpr const char* kEncodingFailed = "改行コ－ドが0Ａのみでないと，Utf8ToAnsi()が動作しないようです";

constexpr std::array<const char*, kConversionModeCount> kReportTexts {
    "　ファイルの0DH を削除しました",
    "　Ｆｉｌｅを変換しました",
    "　Ｆｉｌｅを変換しました",
    "　ファイルの0DH0AH 変換しました",
    "　ファイルをutf8→ShiftJisに変換しました",
    "　ファイルをShiftJis→utf8に変換しました",
};

enum class RunStatus { Done, Malformed, ReadFailed, WriteFailed };
using Reader = std::function<int64_t(uint8_t*, size_t)>;
using BlockDone = std::function<void(uint64_t)>;

bool IsLeadByte(uint8_t b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Where converted text is written, at a position: a file, or (for tests and a folder that may not be
// written) a string.
class Output {
public:
    virtual ~Output() = default;
    virtual bool WriteAt(uint64_t position, const uint8_t* bytes, size_t count) = 0;
};

class FileOutput final : public Output {
public:
    explicit FileOutput(File& file)
        : m_file(file)
    {
    }
    bool WriteAt(uint64_t position, const uint8_t* bytes, size_t count) override
    {
        if (position != m_position && !m_file.Seek(int64_t(position))) return false;
        if (m_file.Write(bytes, count) != int64_t(count)) return false;
        m_position = position + count;
        return true;
    }

private:
    File& m_file;
    uint64_t m_position = 0;
};

class StringOutput final : public Output {
public:
    bool WriteAt(uint64_t position, const uint8_t* bytes, size_t count) override
    {
        if (text.size() < position + count) text.resize(size_t(position + count));
        std::memcpy(text.data() + position, bytes, count);
        return true;
    }
    std::string text;
};

// The converted text, held in one buffer and written out when it is full. A backspace may take back
// bytes already written: what follows is then written over them, and the text ends at Size().
class ConvertedText {
public:
    explicit ConvertedText(Output& out)
        : m_out(out)
        , m_buffer(std::make_unique_for_overwrite<uint8_t[]>(kOutputCapacity))
    {
    }

    // Room for count more bytes (at most kOutputCapacity); null when writing out failed.
    uint8_t* Room(size_t count)
    {
        if (m_used + count > kOutputCapacity && !Flush()) return nullptr;
        return m_buffer.get() + m_used;
    }
    void Commit(size_t count) { m_used += count; }
    bool Put(uint8_t byte)
    {
        uint8_t* room = Room(1);
        if (!room) return false;
        *room = byte;
        ++m_used;
        return true;
    }
    void TakeBack()
    {
        if (m_used > 0)
            --m_used;
        else if (m_start > 0)
            --m_start;
    }
    bool Flush()
    {
        if (m_used > 0 && !m_out.WriteAt(m_start, m_buffer.get(), m_used)) return false;
        m_start += m_used;
        m_used = 0;
        m_furthest = std::max(m_furthest, m_start);
        return true;
    }
    uint64_t Size() const { return m_start + m_used; }
    // The end of what was written out, beyond Size() when bytes were taken back after writing.
    uint64_t Furthest() const { return m_furthest; }

private:
    Output& m_out;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_used = 0;
    uint64_t m_start = 0; // where the buffer's first byte goes
    uint64_t m_furthest = 0;
};

size_t LfToCrLf(const uint8_t* in, size_t count, uint8_t* out)
{
    uint8_t* const start = out;
    size_t i = 0;
    while (i < count) {
        const void* hit = std::memchr(in + i, kLf, count - i);
        const size_t end = hit ? size_t(static_cast<const uint8_t*>(hit) - in) : count;
        std::memcpy(out, in + i, end - i);
        out += end - i;
        if (!hit) break;
        *out++ = kCr;
        *out++ = kLf;
        i = end + 1;
    }
    return size_t(out - start);
}

// One mode's conversion, fed chunk by chunk; what it must remember between chunks is kept here.
class Converter {
public:
    explicit Converter(int mode)
        : m_mode(static_cast<ConversionMode>(mode))
    {
    }

    // Converts in[0, have) into text; returns the bytes consumed (all of them when last, else all but
    // at most kCarry). status is set on a failure.
    size_t Step(const uint8_t* in, size_t have, bool last, ConvertedText& text, RunStatus& status)
    {
        if (m_mode == ConversionMode::ApplyBackspaces) return ApplyBackspaces(in, have, last, text, status);
        const size_t atLeast = last ? have : have - std::min(have, kCarry);
        const size_t growth = m_mode == ConversionMode::LfToCrLf ? 2
            : m_mode == ConversionMode::ShiftJisToUtf8           ? kCp932ToUtf8Growth
                                                                 : 1;
        uint8_t* out = text.Room(growth * (have + 3));
        if (!out) {
            status = RunStatus::WriteFailed;
            return 0;
        }
        switch (m_mode) {
        case ConversionMode::RemoveCr:
            text.Commit(Keep(in, have, kCr, out));
            return have;
        case ConversionMode::RemoveEscapes:
            text.Commit(RemoveEscapes(in, have, out));
            return have;
        case ConversionMode::LfToCrLf:
            text.Commit(LfToCrLf(in, have, out));
            return have;
        default: {
            const CodecStep step = m_mode == ConversionMode::Utf8ToShiftJis ? Utf8ToCp932Block(in, have, atLeast, out)
                                                                            : Cp932ToUtf8Block(in, have, atLeast, out);
            if (step.malformed) status = RunStatus::Malformed;
            text.Commit(step.produced);
            return step.consumed;
        }
        }
    }

private:
    // Copies in[0, count) without the byte drop.
    static size_t Keep(const uint8_t* in, size_t count, uint8_t drop, uint8_t* out)
    {
        uint8_t* const start = out;
        size_t i = 0;
        while (i < count) {
            const void* hit = std::memchr(in + i, drop, count - i);
            const size_t end = hit ? size_t(static_cast<const uint8_t*>(hit) - in) : count;
            std::memcpy(out, in + i, end - i);
            out += end - i;
            i = end + 1;
        }
        return size_t(out - start);
    }

    // From ESC up to and including the next "m" (ESC [ ... m); an ESC without one ends the text.
    size_t RemoveEscapes(const uint8_t* in, size_t count, uint8_t* out)
    {
        uint8_t* const start = out;
        size_t i = 0;
        while (i < count) {
            const uint8_t stop = m_skipping ? kEscapeEnd : kEsc;
            const void* hit = std::memchr(in + i, stop, count - i);
            const size_t end = hit ? size_t(static_cast<const uint8_t*>(hit) - in) : count;
            if (!m_skipping) {
                std::memcpy(out, in + i, end - i);
                out += end - i;
            }
            if (!hit) break;
            m_skipping = !m_skipping;
            i = end + 1;
        }
        return size_t(out - start);
    }

    // A BS takes back one byte of the text. A double-byte character followed by a BS goes whole: its
    // second byte is not copied, so the BS takes back the first. Characters are read from the start
    // of the text up to its first zero byte: after it no byte is a lead byte. A lead byte as the very
    // last byte has no second byte and is kept as it is.
    size_t ApplyBackspaces(const uint8_t* in, size_t have, bool last, ConvertedText& text, RunStatus& status)
    {
        size_t i = 0;
        while (i < have) {
            const uint8_t b = in[i];
            if (b == kBackspace) {
                text.TakeBack();
                ++i;
                continue;
            }
            const bool lead = !m_afterZero && IsLeadByte(b);
            // What follows a lead byte decides: wait for it unless the text ends here.
            if (lead && !last && i + 2 >= have) break;
            if (!text.Put(b)) {
                status = RunStatus::WriteFailed;
                return i;
            }
            m_afterZero = m_afterZero || b == 0;
            if (lead && i + 1 < have) {
                m_afterZero = in[i + 1] == 0;
                if (!(i + 2 < have && in[i + 2] == kBackspace) && !text.Put(in[i + 1])) {
                    status = RunStatus::WriteFailed;
                    return i;
                }
                i += 2;
                continue;
            }
            ++i;
        }
        return i;
    }

    ConversionMode m_mode;
    bool m_skipping = false; // inside an ESC sequence
    bool m_afterZero = false; // a zero byte was read: no lead bytes from here on
};

// Converts everything read into text, chunk by chunk; consumed receives the bytes read.
RunStatus Stream(int mode, const Reader& read, ConvertedText& text, const BlockDone& blockDone, uint64_t& consumed)
{
    const auto in = std::make_unique_for_overwrite<uint8_t[]>(kChunk + kCarry);
    Converter converter(mode);
    size_t have = 0;
    consumed = 0;
    for (;;) {
        const int64_t got = read(in.get() + have, kChunk);
        if (got < 0) return RunStatus::ReadFailed;
        have += size_t(got);
        const bool last = got == 0;
        RunStatus status = RunStatus::Done;
        const size_t used = converter.Step(in.get(), have, last, text, status);
        if (status != RunStatus::Done) return status;
        consumed += used;
        if (blockDone) blockDone(consumed);
        if (last) break;
        std::memmove(in.get(), in.get() + used, have - used);
        have -= used;
    }
    return text.Flush() ? RunStatus::Done : RunStatus::WriteFailed;
}

Reader ReaderOf(File& file)
{
    return [&file](uint8_t* buffer, size_t count) { return file.Read(buffer, count); };
}

enum class RewriteStatus {
    Written,
    ReadOnly,
    NotWritable,
    Malformed,
    Failed,
    NoKeptCopy, // the original could not be kept before a write-back in place: left as it was
    PartlyWritten, // a write-back failed and could not be undone: the kept copy holds the original
};

// How a rewrite ended, and where the original's bytes are when the file was left part converted.
struct Rewrite {
    Rewrite(RewriteStatus s, std::string kept = {})
        : status(s)
        , keptCopy(std::move(kept))
    {
    }
    RewriteStatus status;
    std::string keptCopy;
};

RewriteStatus Failure(RunStatus status)
{
    return status == RunStatus::Malformed ? RewriteStatus::Malformed : RewriteStatus::Failed;
}

// Copies from[begin, end) to the same place of to.
bool CopyRange(File& from, File& to, uint64_t begin, uint64_t end, uint8_t* buffer)
{
    if (!from.Seek(int64_t(begin)) || !to.Seek(int64_t(begin))) return false;
    for (uint64_t at = begin; at < end;) {
        const size_t count = size_t(std::min<uint64_t>(kChunk, end - at));
        const int64_t got = from.Read(buffer, count);
        if (got < 0) return false;
        if (size_t(got) != count) {
            SetLastError(err::DeviceError);
            return false;
        }
        if (to.Write(buffer, count) < 0) return false;
        at += count;
    }
    return true;
}

// Writes the complete converted text (in converted, of newSize bytes) back into the open file itself,
// so that every name of the file sees it. What the text gains goes beyond the old end first: a full
// disk then fails before any old byte has changed. Only a failure after that (an I/O error) leaves the
// file part converted (PartlyWritten), for the caller to undo from its kept copy.
RewriteStatus WriteBack(File& file, uint64_t oldSize, File& converted, uint64_t newSize)
{
    const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kChunk);
    if (newSize > oldSize && !CopyRange(converted, file, oldSize, newSize, buffer.get())) {
        const KeepLastError keep;
        file.Truncate(int64_t(oldSize));
        return RewriteStatus::Failed;
    }
    if (!CopyRange(converted, file, 0, std::min(oldSize, newSize), buffer.get())
        || (newSize < oldSize && !file.Truncate(int64_t(newSize))) || !file.Flush())
        return RewriteStatus::PartlyWritten;
    return RewriteStatus::Written;
}

// The same from a text held in memory.
RewriteStatus WriteBack(File& file, uint64_t oldSize, const std::string& text)
{
    if (text.size() > oldSize) {
        if (!file.Seek(int64_t(oldSize)) || file.Write(text.data() + oldSize, text.size() - oldSize) < 0) {
            const KeepLastError keep;
            file.Truncate(int64_t(oldSize));
            return RewriteStatus::Failed;
        }
    }
    if (!file.Seek(0)) return RewriteStatus::Failed;
    if (file.Write(text.data(), size_t(std::min<uint64_t>(text.size(), oldSize))) < 0
        || (text.size() < oldSize && !file.Truncate(int64_t(text.size()))) || !file.Flush())
        return RewriteStatus::PartlyWritten;
    return RewriteStatus::Written;
}

// Copies the whole open file (of size bytes) into copy; false with the last error set.
bool CopyWhole(File& from, File& copy, uint64_t size)
{
    if (!from.Seek(0)) return false;
    uint64_t copied = 0;
    for (int64_t moved; (moved = copy.CopyFrom(from, kChunk)) != 0; copied += uint64_t(moved)) {
        if (moved < 0) return false;
    }
    if (copied == size) return true;
    SetLastError(err::DeviceError);
    return false;
}

// Writes the converted text back into the file itself (write) with a durable copy of the original kept
// until the write-back is durable, and SIGINT, SIGTERM and SIGHUP held until it has ended: a kill or a
// power loss meanwhile leaves the original in that copy. A write-back that fails is undone from the copy;
// where that fails too, the copy stays and the result names it.
Rewrite WriteBackKeeping(RewriteTarget& target, uint64_t oldSize, const std::function<RewriteStatus()>& write)
{
    const HeldStopSignals held;
    File& file = target.Content();
    auto copy = target.CreateKeptCopy();
    if (!copy || !CopyWhole(file, *copy, oldSize) || !target.KeepCopy(*copy)) return { RewriteStatus::NoKeptCopy };
    const RewriteStatus status = write();
    if (status != RewriteStatus::PartlyWritten) {
        // Written and flushed, or failed before any old byte changed.
        target.DropKeptCopy();
        return { status };
    }
    const KeepLastError keep;
    const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kChunk);
    if (CopyRange(*copy, file, 0, oldSize, buffer.get()) && file.Truncate(int64_t(oldSize)) && file.Flush()) {
        target.DropKeptCopy();
        return { RewriteStatus::Failed };
    }
    return { RewriteStatus::PartlyWritten, target.KeptCopyPath() };
}

// Converts the opened file in mode and puts the text in its place, with its permission bits and
// user.DOSATTRIB. A file of one name gets a replacement that takes its place only when all of it is
// written: a full disk, a malformed text or any failure leaves the original as it was. A file of
// several names is converted into such a file first and then written back into itself; one in a
// folder that may not be written is converted in memory and written back (WriteBackKeeping).
Rewrite RewriteFile(RewriteTarget& target, int mode, const BlockDone& blockDone)
{
    const RewriteTarget::Facts& info = target.Info();
    if (info.readOnly) return { RewriteStatus::ReadOnly };
    if (info.writeError != 0) {
        SetLastError(info.writeError);
        return { RewriteStatus::NotWritable };
    }
    File& file = target.Content();
    uint64_t oldSize = 0;
    auto replacement = target.CreateReplacement();
    if (!replacement) {
        if (GetLastError() != err::AccessDenied) return { RewriteStatus::Failed };
        StringOutput memory;
        ConvertedText text(memory);
        const RunStatus status = Stream(mode, ReaderOf(file), text, blockDone, oldSize);
        if (status != RunStatus::Done) return { Failure(status) };
        memory.text.resize(size_t(text.Size()));
        return WriteBackKeeping(target, oldSize, [&] { return WriteBack(file, oldSize, memory.text); });
    }
    FileOutput output(*replacement);
    ConvertedText text(output);
    const RunStatus status = Stream(mode, ReaderOf(file), text, blockDone, oldSize);
    if (status != RunStatus::Done) {
        const KeepLastError keep;
        replacement.reset();
        return { Failure(status) };
    }
    if (text.Furthest() > text.Size() && !replacement->Truncate(int64_t(text.Size()))) return { RewriteStatus::Failed };
    if (info.links > 1)
        return WriteBackKeeping(target, oldSize, [&] { return WriteBack(file, oldSize, *replacement, text.Size()); });
    return { target.CommitReplacement(std::move(replacement)) ? RewriteStatus::Written : RewriteStatus::Failed };
}

// A file whose original could not be kept is not written back: the warning, with the cause.
void WarnNotKept(const std::string& path)
{
    AppMessageBox(path + "  :   元のファイルを控えられないので変換しませんでした（"
            + FileErrorMessage(GetLastError(), kContextAccess) + "）",
        kCaptionWarning, kMbOk);
}

// The error of a write-back, and where the original is when the file was left part converted.
void ReportWriteBack(const std::string& path, const Rewrite& rewrite)
{
    if (rewrite.keptCopy.empty())
        ReportFileError(path, kContextAccess);
    else
        ShowPlainMessage(FileErrorText(path, kContextAccess) + "（元の内容は " + rewrite.keptCopy + " にあります）");
}

// The progress bar takes int positions: byte positions of a file above 2 GiB are scaled down.
int ProgressShift(uint64_t size)
{
    int shift = 0;
    while ((size >> shift) > uint64_t(INT_MAX))
        ++shift;
    return shift;
}

// Reads the file to its end (after an earlier failure: a read error is still reported); false with
// the last error set.
bool ReadThrough(File& file)
{
    const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kChunk);
    for (;;) {
        const int64_t got = file.Read(buffer.get(), kChunk);
        if (got <= 0) return got == 0;
    }
}

// What became of one file.
enum class ConvertOutcome {
    Converted,
    Skipped, // not written (ReadOnly, or the file may not be written): left as it was, the command goes on
    Failed, // a failure was reported: no report, nothing converted after it
};

// Modes 0 to 3: the progress window with its stop button hidden, the rewrite, and the warning or
// error while the window is still up.
ConvertOutcome ConvertBytes(const std::string& path, RewriteTarget& target, int mode)
{
    ProgressWindow& progress = ui().Progress();
    const uint64_t size = target.Info().size;
    const int shift = ProgressShift(size);
    progress.SetPosition(ProgressBar::Overall, 0);
    progress.SetMax(ProgressBar::Overall, int(size >> shift));
    progress.Show();
    progress.SetStopVisible(false); // these conversions cannot be stopped
    progress.SetLabel("変換中");
    const BlockDone blockDone = [&](uint64_t position) {
        progress.SetPosition(ProgressBar::Overall, int(std::min(position, size) >> shift));
        ui().ProcessEvents();
    };
    const Rewrite rewrite = RewriteFile(target, mode, blockDone);
    const RewriteStatus status = rewrite.status;
    ConvertOutcome outcome = ConvertOutcome::Converted;
    if (status == RewriteStatus::ReadOnly) {
        AppMessageBox("ＲｅａｄＯｎｌｙ　のようです", kCaptionWarning, kMbOk);
        outcome = ConvertOutcome::Skipped;
    } else if (status == RewriteStatus::NotWritable) {
        // Not ReadOnly, yet not writable here: the real cause, and the command goes on as for ReadOnly.
        ReportFileError(path, kContextAccess);
        outcome = ConvertOutcome::Skipped;
    } else if (status == RewriteStatus::NoKeptCopy) {
        WarnNotKept(path);
        outcome = ConvertOutcome::Skipped;
    } else if (status != RewriteStatus::Written) {
        ReportWriteBack(path, rewrite);
        outcome = ConvertOutcome::Failed;
    }
    progress.SetStopVisible(true);
    progress.Close();
    return outcome;
}

// Modes 4 and 5: Failed when the result is empty (malformed UTF-8 or an empty file: the message
// about 0A line ends) or writing back failed, both followed by the conversion's failure message.
ConvertOutcome ConvertEncoding(const std::string& path, RewriteTarget& target, int mode)
{
    Rewrite rewrite { RewriteStatus::Malformed };
    if (target.Info().size != 0) rewrite = RewriteFile(target, mode, {});
    if (rewrite.status == RewriteStatus::Written) return ConvertOutcome::Converted;
    if (rewrite.status == RewriteStatus::NoKeptCopy) {
        WarnNotKept(path);
        return ConvertOutcome::Skipped;
    }
    if (rewrite.status == RewriteStatus::Malformed) ShowPlainMessage(kEncodingFailed);
    if (rewrite.status == RewriteStatus::PartlyWritten) ReportWriteBack(path, rewrite);
    ShowPlainMessage(path + "のＳｈｉｆｔＪｉｓの変換に失敗しました");
    return ConvertOutcome::Failed;
}

} // namespace

std::string ConversionReportText(int mode)
{
    return mode >= 0 && mode < kConversionModeCount ? kReportTexts[size_t(mode)] : "";
}

std::optional<std::string> ConvertText(int mode, std::string bytes)
{
    if (mode < 0 || mode >= kConversionModeCount) return std::nullopt;
    size_t at = 0;
    const Reader read = [&](uint8_t* buffer, size_t count) {
        count = std::min(count, bytes.size() - at);
        std::memcpy(buffer, bytes.data() + at, count);
        at += count;
        return int64_t(count);
    };
    StringOutput out;
    ConvertedText text(out);
    uint64_t consumed = 0;
    if (Stream(mode, read, text, {}, consumed) == RunStatus::Malformed) return std::nullopt;
    out.text.resize(size_t(text.Size()));
    return out.text;
}

ConversionResult ConvertFiles(const std::vector<std::string>& paths, int mode)
{
    ConversionResult result;
    if (mode < 0 || mode >= kConversionModeCount) return result;
    for (const std::string& path : paths) {
        // Opened once: what is checked, read and written is this one file, a link's target included.
        const auto target = fs().OpenForRewrite(path);
        if (!target) {
            ReportFileError("", kContextAccess);
            result.failed = true;
            continue;
        }
        if (target->Info().size >= kTooBig) {
            AppMessageBox("フアイルが大き過ぎます", kCaptionWarning, kMbOk);
            result.tooBig = true;
            return result;
        }
        // After a failure the files are still read, so a later too-big or unreadable file is
        // reported as well, but none is converted.
        if (result.failed) {
            if (!ReadThrough(target->Content())) ReportFileError("", kContextAccess);
            continue;
        }
        const ConvertOutcome outcome = mode <= int(ConversionMode::LfToCrLf) ? ConvertBytes(path, *target, mode)
                                                                             : ConvertEncoding(path, *target, mode);
        if (outcome == ConvertOutcome::Converted) ++result.converted;
        if (outcome == ConvertOutcome::Skipped) ++result.skipped;
        if (outcome == ConvertOutcome::Failed) result.failed = true;
    }
    if (!result.failed)
        AppMessageBox(std::to_string(result.converted) + ConversionReportText(mode), kCaptionReport, kMbOk);
    return result;
}

ConversionResult ConvertSelectedFiles(const Selection& selection, int mode)
{
    std::vector<std::string> paths;
    for (const std::string& name : selection.names) {
        paths.push_back(selection.directory + name);
    }
    return ConvertFiles(paths, mode);
}

} // namespace zelo
