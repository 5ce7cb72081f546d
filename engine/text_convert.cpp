// The text conversions: byte conversions in place over the file's buffer or in blocks into a
// small output buffer, and a rewrite through an unnamed replacement that takes the original's place
// only when every byte is written (or, for a file of several names, into the file itself).
#include "engine/text_convert.h"

#include "engine/messages.h"
#include "platform/cp932.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/ui_services.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

namespace zelo {

namespace {

// Input bytes per progress update; also the unit in which modes 3 to 5 write their output,
// so a conversion holds the file plus a few MiB, never twice the file.
constexpr size_t kBlockSize = size_t(1) << 20;

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

enum class RunStatus { Done, Malformed, WriteFailed };
using Sink = std::function<bool(const uint8_t*, size_t)>;
using BlockDone = std::function<void(size_t)>;

bool IsLeadByte(uint8_t b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Modes 0 to 2 never make the text longer, so they convert inside the file's own buffer: the
// output (first n bytes) never overtakes the input position i. Run continues where it stopped.
class InPlaceConversion {
public:
    InPlaceConversion(uint8_t* data, size_t size, int mode)
        : m_data(data)
        , m_size(size)
        , m_mode(mode)
    {
    }

    size_t Position() const { return m_i; }
    size_t OutputSize() const { return m_n; }

    void Run(size_t stop)
    {
        stop = std::min(stop, m_size);
        switch (static_cast<ConversionMode>(m_mode)) {
        case ConversionMode::RemoveCr:
            while (m_i < stop) {
                const size_t end = Find(kCr, stop);
                Keep(end);
                m_i = end < stop ? end + 1 : stop;
            }
            break;
        case ConversionMode::RemoveEscapes:
            // From ESC up to and including the next "m" (ESC [ ... m); an ESC without one ends the text.
            while (m_i < stop) {
                if (m_skipping) {
                    const size_t end = Find(kEscapeEnd, stop);
                    m_skipping = end >= stop;
                    m_i = end < stop ? end + 1 : stop;
                } else {
                    const size_t end = Find(kEsc, stop);
                    Keep(end);
                    m_skipping = end < stop;
                    m_i = end < stop ? end + 1 : stop;
                }
            }
            break;
        case ConversionMode::ApplyBackspaces:
            ApplyBackspaces(stop);
            break;
        default:
            m_i = stop;
            break;
        }
    }

private:
    size_t Find(uint8_t byte, size_t stop) const
    {
        const void* hit = std::memchr(m_data + m_i, byte, stop - m_i);
        return hit ? size_t(static_cast<const uint8_t*>(hit) - m_data) : stop;
    }

    // Appends the input from the current position up to end.
    void Keep(size_t end)
    {
        const size_t length = end - m_i;
        if (m_n != m_i && length > 0) std::memmove(m_data + m_n, m_data + m_i, length);
        m_n += length;
    }

    // A BS takes back one output byte. A double-byte character followed by a BS goes whole: its
    // second byte is not copied, so the BS takes back the first. Characters are read from the start
    // of the text up to its first zero byte: after it no byte is a lead byte. A lead byte as the very
    // last byte has no second byte and is kept as it is.
    void ApplyBackspaces(size_t stop)
    {
        uint8_t* const d = m_data;
        size_t i = m_i;
        size_t n = m_n;
        bool afterZero = m_afterZero;
        while (i < stop) {
            const uint8_t b = d[i];
            if (b == kBackspace) {
                if (n > 0) --n;
                ++i;
                continue;
            }
            d[n++] = b;
            afterZero = afterZero || b == 0;
            if (!afterZero && IsLeadByte(b) && i + 1 < m_size) {
                afterZero = d[i + 1] == 0;
                if (!(i + 2 < m_size && d[i + 2] == kBackspace)) d[n++] = d[i + 1];
                i += 2;
                continue;
            }
            ++i;
        }
        m_i = i;
        m_n = n;
        m_afterZero = afterZero;
    }

    uint8_t* m_data;
    size_t m_size;
    int m_mode;
    size_t m_i = 0;
    size_t m_n = 0;
    bool m_skipping = false;
    bool m_afterZero = false; // a zero byte was read: no lead bytes from here on
};

CodecStep LfToCrLfBlock(const uint8_t* in, size_t count, uint8_t* out)
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
    return { count, size_t(out - start), false };
}

// Modes 3 to 5: converts block by block into one output buffer and hands each block to sink.
RunStatus RunBlocks(int mode, const uint8_t* in, size_t size, const Sink& sink, const BlockDone& blockDone)
{
    const auto out = std::make_unique_for_overwrite<uint8_t[]>(kCp932ToUtf8Growth * (kBlockSize + 8));
    size_t i = 0;
    while (i < size) {
        const size_t want = std::min(kBlockSize, size - i);
        CodecStep step;
        if (mode == int(ConversionMode::LfToCrLf))
            step = LfToCrLfBlock(in + i, want, out.get());
        else if (mode == int(ConversionMode::Utf8ToShiftJis))
            step = Utf8ToCp932Block(in + i, size - i, want, out.get());
        else
            step = Cp932ToUtf8Block(in + i, size - i, want, out.get());
        if (step.malformed) return RunStatus::Malformed;
        if (step.produced > 0 && !sink(out.get(), step.produced)) return RunStatus::WriteFailed;
        i += step.consumed;
        if (blockDone) blockDone(i);
    }
    return RunStatus::Done;
}

// Runs any mode over the buffer (changed in place for modes 0 to 2), output to sink.
RunStatus RunConversion(int mode, uint8_t* data, size_t size, const Sink& sink, const BlockDone& blockDone)
{
    if (mode > int(ConversionMode::ApplyBackspaces)) return RunBlocks(mode, data, size, sink, blockDone);
    InPlaceConversion conversion(data, size, mode);
    for (size_t stop = kBlockSize;; stop += kBlockSize) {
        conversion.Run(stop);
        if (blockDone) blockDone(conversion.Position());
        if (conversion.Position() >= size) break;
    }
    return sink(data, conversion.OutputSize()) ? RunStatus::Done : RunStatus::WriteFailed;
}

enum class RewriteStatus { Written, ReadOnly, NotWritable, Malformed, Failed, PartlyWritten };

// Writes the complete converted text back into the open file itself, so that every name of the file
// sees it. What the text gains goes beyond the old end first: a full disk then fails before any old
// byte has changed. Only a failure after that (an I/O error) leaves the file part converted.
RewriteStatus WriteInPlace(RewriteTarget& target, size_t oldSize, const std::string& text)
{
    File& file = target.Content();
    if (text.size() > oldSize) {
        if (!file.Seek(int64_t(oldSize)) || file.Write(text.data() + oldSize, text.size() - oldSize) < 0) {
            const KeepLastError keep;
            target.Truncate(oldSize);
            return RewriteStatus::Failed;
        }
    }
    const size_t head = std::min(text.size(), oldSize);
    if (!file.Seek(0)) return RewriteStatus::Failed;
    if (file.Write(text.data(), head) < 0 || (text.size() < oldSize && !target.Truncate(text.size())) || !file.Flush())
        return RewriteStatus::PartlyWritten;
    return RewriteStatus::Written;
}

// Puts what produce gives in the place of the opened file, with its permission bits and
// user.DOSATTRIB. A file of one name gets a replacement that takes its place only when all of it is
// written: a full disk, a malformed text or any failure leaves the original as it was. A file of
// several names, or one in a folder that may not be written, is written in place (WriteInPlace).
RewriteStatus RewriteFile(RewriteTarget& target, size_t oldSize, const std::function<RunStatus(const Sink&)>& produce)
{
    const RewriteTarget::Facts& info = target.Info();
    if (info.readOnly) return RewriteStatus::ReadOnly;
    if (info.writeError != 0) {
        SetLastError(info.writeError);
        return RewriteStatus::NotWritable;
    }
    std::unique_ptr<File> output;
    if (info.links <= 1) {
        output = target.CreateReplacement();
        if (!output && GetLastError() != err::AccessDenied) return RewriteStatus::Failed;
    }
    if (!output) {
        std::string text;
        const Sink collect = [&text](const uint8_t* bytes, size_t count) {
            text.append(reinterpret_cast<const char*>(bytes), count);
            return true;
        };
        const RunStatus status = produce(collect);
        if (status == RunStatus::Malformed) return RewriteStatus::Malformed;
        return WriteInPlace(target, oldSize, text);
    }
    const Sink sink = [&output](const uint8_t* bytes, size_t count) {
        return output->Write(bytes, count) == static_cast<int64_t>(count);
    };
    const RunStatus status = produce(sink);
    if (status != RunStatus::Done) {
        const KeepLastError keep;
        output.reset();
        return status == RunStatus::Malformed ? RewriteStatus::Malformed : RewriteStatus::Failed;
    }
    return target.CommitReplacement(std::move(output)) ? RewriteStatus::Written : RewriteStatus::Failed;
}

// The progress bar takes int positions: byte positions of a file above 2 GiB are scaled down.
int ProgressShift(size_t size)
{
    int shift = 0;
    while ((size >> shift) > size_t(INT_MAX))
        ++shift;
    return shift;
}

// The whole open file in one buffer; false with the last error set. A file that grew since it was
// opened is read to its new end: the rewrite never cuts it to the size seen before.
bool ReadWholeFile(File& input, uint64_t expected, std::unique_ptr<uint8_t[]>& buffer, size_t& size)
{
    size_t capacity = size_t(expected);
    size = 0;
    try {
        buffer = std::make_unique_for_overwrite<uint8_t[]>(capacity + 1);
        for (;;) {
            if (size == capacity) {
                uint8_t extra = 0;
                const int64_t got = input.Read(&extra, 1);
                if (got < 0) return false;
                if (got == 0) return true;
                capacity = capacity * 2 + 4096;
                auto larger = std::make_unique_for_overwrite<uint8_t[]>(capacity + 1);
                std::memcpy(larger.get(), buffer.get(), size);
                buffer = std::move(larger);
                buffer[size++] = extra;
            }
            const int64_t got = input.Read(buffer.get() + size, std::min<size_t>(capacity - size, size_t(1) << 30));
            if (got < 0) return false;
            if (got == 0) return true; // the file shrank meanwhile: what is there is converted
            size += size_t(got);
        }
    } catch (const std::bad_alloc&) {
        SetLastError(err::NotEnoughMemory);
        return false;
    }
}

// What became of one file.
enum class ConvertOutcome {
    Converted,
    Skipped, // not written (ReadOnly, or the file may not be written): left as it was, the command goes on
    Failed, // a failure was reported: no report, nothing converted after it
};

// Modes 0 to 3 over data (the file's size bytes, changed in place): the progress window with its
// stop button hidden, the rewrite, and the warning or error while the window is still up.
ConvertOutcome ConvertBytes(const std::string& path, RewriteTarget& target, uint8_t* data, size_t size, int mode)
{
    ProgressWindow& progress = ui().Progress();
    const int shift = ProgressShift(size);
    progress.SetPosition(ProgressBar::Overall, 0);
    progress.SetMax(ProgressBar::Overall, int(size >> shift));
    progress.Show();
    progress.SetStopVisible(false); // these conversions cannot be stopped
    progress.SetLabel("変換中");
    const BlockDone blockDone = [&](size_t position) {
        progress.SetPosition(ProgressBar::Overall, int(position >> shift));
        ui().ProcessEvents();
    };
    const RewriteStatus status
        = RewriteFile(target, size, [&](const Sink& sink) { return RunConversion(mode, data, size, sink, blockDone); });
    ConvertOutcome outcome = ConvertOutcome::Converted;
    if (status == RewriteStatus::ReadOnly) {
        AppMessageBox("ＲｅａｄＯｎｌｙ　のようです", kCaptionWarning, kMbOk);
        outcome = ConvertOutcome::Skipped;
    } else if (status == RewriteStatus::NotWritable) {
        // Not ReadOnly, yet not writable here: the real cause, and the command goes on as for ReadOnly.
        ReportFileError(path, kContextAccess);
        outcome = ConvertOutcome::Skipped;
    } else if (status != RewriteStatus::Written) {
        ReportFileError(path, kContextAccess);
        outcome = ConvertOutcome::Failed;
    }
    progress.SetStopVisible(true);
    progress.Close();
    return outcome;
}

// Modes 4 and 5: 1 when converted and written back, -1 when the result is empty (malformed UTF-8
// or an empty file: the message about 0A line ends has been shown) or writing back failed.
int ConvertEncoding(RewriteTarget& target, const uint8_t* data, size_t size, int mode)
{
    if (size == 0) {
        ShowPlainMessage(kEncodingFailed);
        return -1;
    }
    const RewriteStatus status
        = RewriteFile(target, size, [&](const Sink& sink) { return RunBlocks(mode, data, size, sink, {}); });
    if (status == RewriteStatus::Malformed) ShowPlainMessage(kEncodingFailed);
    return status == RewriteStatus::Written ? 1 : -1;
}

} // namespace

std::string ConversionReportText(int mode)
{
    return mode >= 0 && mode < kConversionModeCount ? kReportTexts[size_t(mode)] : "";
}

std::optional<std::string> ConvertText(int mode, std::string bytes)
{
    if (mode < 0 || mode >= kConversionModeCount) return std::nullopt;
    std::string out;
    const Sink sink = [&out](const uint8_t* p, size_t n) {
        out.append(reinterpret_cast<const char*>(p), n);
        return true;
    };
    if (RunConversion(mode, reinterpret_cast<uint8_t*>(bytes.data()), bytes.size(), sink, {}) == RunStatus::Malformed)
        return std::nullopt;
    return out;
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
        std::unique_ptr<uint8_t[]> buffer;
        size_t size = 0;
        if (!ReadWholeFile(target->Content(), target->Info().size, buffer, size)) {
            ReportFileError("", kContextAccess);
            result.failed = true;
            continue;
        }
        if (result.failed) continue;
        if (mode <= int(ConversionMode::LfToCrLf)) {
            const ConvertOutcome outcome = ConvertBytes(path, *target, buffer.get(), size, mode);
            if (outcome == ConvertOutcome::Converted) ++result.converted;
            if (outcome == ConvertOutcome::Skipped) ++result.skipped;
            if (outcome == ConvertOutcome::Failed) result.failed = true;
        } else if (ConvertEncoding(*target, buffer.get(), size, mode) == -1) {
            ShowPlainMessage(path + "のＳｈｉｆｔＪｉｓの変換に失敗しました");
            result.failed = true;
        } else {
            ++result.converted;
        }
    }
    if (!result.failed)
        AppMessageBox(std::to_string(result.converted) + ConversionReportText(mode), kCaptionReport, kMbOk);
    return result;
}

ConversionResult ConvertSelectedFiles(
    const std::string& dirWithSep, const std::vector<std::string>& items, const std::vector<bool>& selected, int mode)
{
    std::vector<std::string> paths;
    for (size_t i = 0; i < items.size() && i < selected.size(); ++i) {
        if (selected[i]) paths.push_back(dirWithSep + items[i]);
    }
    return ConvertFiles(paths, mode);
}

} // namespace zelo
