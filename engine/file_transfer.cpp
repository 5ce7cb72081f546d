// The file driver and the duplicator.
#include "engine/file_transfer.h"

#include "engine/file_copy.h"
#include "engine/folder_transfer.h"
#include "engine/formats.h"
#include "engine/messages.h"
#include "engine/receiver.h"
#include "engine/transfer_decision.h"
#include "engine/tree.h"
#include "engine/tree_walk.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "platform/ui_services.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace zelo {

std::string FileTransferSummary(int mode, const FileTransferCounts& c)
{
    char text[512];
    if (mode == kModeFileMove) {
        if (c.errors == 0)
            std::snprintf(text, sizeof text,
                "更新済みのファイル　%d ， コピ－したファイル　%d　，削除は %d　し，　　エラ－はありませんでした",
                c.upToDate, c.copied, c.deleted);
        else
            std::snprintf(text, sizeof text,
                "更新済みのファイル　%d ， コピ－したファイル　%d　，削除は %d　し，エラ－  %d　ありました", c.upToDate,
                c.copied, c.deleted, c.errors);
    } else if (c.errors == 0) {
        std::snprintf(text, sizeof text,
            "更新済みのファイル　%d，  コピ－したファイル　%d　，　　エラ－はありませんでした", c.upToDate, c.copied);
    } else {
        std::snprintf(text, sizeof text, "更新済みのファイル　%d，  コピ－したファイル　%d　，　エラ－ %d　ありました",
            c.upToDate, c.copied, c.errors);
    }
    return text;
}

namespace {

// Whether a directory tells names apart by case, as far as one of its names in another case shows (false
// when none of them has a letter to change).
bool TellsCaseApart(DirHandle& dir, const std::unordered_set<std::string>& names)
{
    for (const std::string& name : names) {
        std::string other = name;
        for (char& c : other) {
            if (c >= 'a' && c <= 'z')
                c = char(c - 'a' + 'A');
            else if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        }
        if (other == name || names.count(other) > 0) continue;
        FindData found;
        return !dir.Lookup(other, found);
    }
    return false;
}

// The names the destination lists, read once for a long selection instead of looking every name up there
// (most are not there yet). Nothing when the listing is much longer than the selection, cannot be read
// to its end, is no longer of the directory opened as to, or where its file system may take a selected
// name for a listed one in another case.
std::optional<std::unordered_set<std::string>> ListedNames(
    const std::string& destination, DirHandle& to, size_t selected)
{
    constexpr size_t kLeastSelection = 64;
    if (selected < kLeastSelection) return std::nullopt;
    auto listing = fs().OpenTreeDirectory(destination, ListDetail::KindOnly, true);
    if (!listing || !(listing->Identity() == to.Identity()) || to.Identity().inode == 0) return std::nullopt;
    const size_t most = std::max<size_t>(selected * 8, 4096);
    std::unordered_set<std::string> names;
    FindData entry;
    SetLastError(err::Success);
    while (listing->Next(entry)) {
        if (names.size() >= most) return std::nullopt;
        names.insert(std::move(entry.name));
    }
    if (GetLastError() != err::Success) return std::nullopt;
    if (!names.empty() && !TellsCaseApart(to, names)) return std::nullopt;
    return names;
}

// Looks every selected name up in both directories (in the destination, only the names it lists). A long
// selection is looked up on several threads at once, each taking the next stretch of names when it is free
// (a thread the system starts late takes fewer).
void LookUpAll(DirHandle& from, DirHandle& to, const std::string& destination, const std::vector<std::string>& names,
    std::vector<FindData>& entries, std::vector<FindData>& existing, std::vector<char>& found, std::vector<char>& there)
{
    const auto listed = ListedNames(destination, to, names.size());
    const auto lookUp = [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            found[i] = from.Lookup(names[i], entries[i]);
            there[i] = (!listed || listed->count(names[i]) > 0) && to.Lookup(names[i], existing[i]);
        }
    };
    constexpr size_t kStretch = 256;
    const size_t threads
        = std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), names.size() / (2 * kStretch));
    if (threads <= 1) {
        lookUp(0, names.size());
        return;
    }
    std::atomic<size_t> next { 0 };
    const auto lookUpStretches = [&] {
        for (size_t begin = next.fetch_add(kStretch); begin < names.size(); begin = next.fetch_add(kStretch))
            lookUp(begin, std::min(names.size(), begin + kStretch));
    };
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(lookUpStretches);
        } catch (const std::system_error&) {
            break; // the system gives no more threads: this one looks up the rest
        }
    }
    lookUpStretches();
    for (std::thread& helper : helpers)
        helper.join();
}

// The order the files are taken in: the list's, except that names folding to one key (the key a destination
// that folds case files them under) come together at the first one's place, the first in byte order
// leading: leader[i] is that name's index (i itself for a name no other folds onto).
std::vector<size_t> TakingOrder(const std::vector<std::string>& names, std::vector<size_t>& leader)
{
    std::unordered_map<std::string, std::vector<size_t>> byKey;
    byKey.reserve(names.size());
    bool shared = false;
    for (size_t i = 0; i < names.size(); ++i) {
        auto& group = byKey[FoldCaseText(names[i])];
        group.push_back(i);
        shared = shared || group.size() > 1;
    }
    leader.resize(names.size());
    std::vector<size_t> order;
    order.reserve(names.size());
    std::vector<char> taken(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        if (taken[i]) continue;
        if (!shared) {
            leader[i] = i;
            order.push_back(i);
            continue;
        }
        auto& group = byKey[FoldCaseText(names[i])];
        std::sort(group.begin(), group.end(), [&](size_t a, size_t b) { return names[a] < names[b]; });
        for (size_t member : group) {
            leader[member] = group.front();
            taken[member] = 1;
            order.push_back(member);
        }
    }
    return order;
}

// Whether the destination takes other for the entry it holds as first (the two fold to one key), as far
// as it shows without writing: nothing under first tells nothing; other not found, or listed beside
// first, tells them apart.
std::optional<bool> TakesForOne(
    DirHandle& to, const std::string& destination, const std::string& first, const std::string& other)
{
    FindData found;
    if (!to.Lookup(first, found)) return std::nullopt;
    if (!to.Lookup(other, found)) return false;
    auto listing = fs().OpenTreeDirectory(destination, ListDetail::KindOnly, true);
    if (!listing || !(listing->Identity() == to.Identity())) return std::nullopt;
    bool firstListed = false, otherListed = false;
    while (listing->Next(found)) {
        firstListed = firstListed || found.name == first;
        otherListed = otherListed || found.name == other;
    }
    return !(firstListed && otherListed);
}

// The line of the newer-files list for a source kept at the source.
std::string KeptLine(const std::string& source, const std::string& destination)
{
    return source + "  " + FormatFileDate(source) + "  :  " + FormatFileDate(destination);
}

} // namespace

namespace {

// One copy or move of selected files: every file decided before anything is written, then carried out by
// the receiver in the order names are taken.
class FileRun {
public:
    FileRun(const FileTransfer& request, FileTransferCounts& counts, std::stop_token stop)
        : m_request(request)
        , m_counts(counts)
        , m_stop(std::move(stop))
        , m_source(WithOneSeparator(request.sourceDir))
        , m_destination(WithOneSeparator(request.destinationDir))
        , m_move(request.mode == kModeFileMove)
        , m_progress(ui().Progress())
        , m_n(request.names.size())
    {
    }

    int Run()
    {
        m_counts = FileTransferCounts {};
        if (!Open()) return -1;
        // The copy threads start now, so they are running when the first copies are decided.
        if (!m_request.dryRun) m_receiver.emplace(Setup(), m_receiverCounts, m_stop);
        Decide();
        m_progress.SetMax(ProgressBar::Overall, ProgressUnits(m_blocks));
        m_progress.SetPosition(ProgressBar::Overall, 0);
        m_progress.Show();
        ui().ProcessEvents();
        if (m_request.dryRun) return DryRun();
        return Carry();
    }

private:
    // Both directories are opened once; every file is reached through them, never by its path.
    bool Open()
    {
        m_from = fs().OpenTreeDirectory(m_source, ListDetail::Full, true);
        if (!m_from) {
            ReportFileError(m_source, kContextReadSource);
            return false;
        }
        m_to = fs().OpenTreeDirectory(m_destination, ListDetail::Full, true);
        if (!m_to) {
            ReportFileError(m_destination, kContextWriteDenied);
            return false;
        }
        // The same directory by identity (through a link, a bind mount or another drive letter): every file
        // would be its own destination, and a move would delete it.
        if (m_from->Identity().inode != 0 && m_from->Identity() == m_to->Identity()) {
            ShowPlainMessage("同じＤＩＲが選択されており，実行出来ません");
            return false;
        }
        return true;
    }

    ReceiverSetup Setup()
    {
        ReceiverSetup setup;
        setup.sourceFolder = m_source;
        setup.destinationBase = m_destination;
        setup.options = m_request.options;
        setup.network = OnNetworkFileSystem(m_source) || OnNetworkFileSystem(m_destination);
        // A copy is synced once at the end; a move flushes each copy before its source goes.
        setup.flushEachFile = m_move;
        // The overall bar: the blocks of the files handed back, and the bytes moved since.
        setup.showProgress = [this](uint64_t moved) {
            m_progress.SetLabel(m_request.names[m_current]);
            m_progress.SetPosition(ProgressBar::Overall, ProgressUnits(m_blocksDone + moved / kCopyBlockSize));
        };
        setup.placed = [this](const FindData&) { return Placed(); };
        return setup;
    }

    // Each file is decided once, before anything is written: the overall bar counts 8192-byte blocks over
    // every selected file, and the room the copies need is summed from the same listing.
    void Decide()
    {
        m_timeStep = m_request.destinationTimes ? *m_request.destinationTimes : GetWriteTimeStep(m_destination);
        m_entries.resize(m_n);
        m_existing.resize(m_n);
        m_found.resize(m_n);
        m_there.resize(m_n);
        m_copy.resize(m_n);
        m_action.assign(m_n, TransferAction::CopyNew);
        m_needOf.resize(m_n);
        LookUpAll(*m_from, *m_to, m_destination, m_request.names, m_entries, m_existing, m_found, m_there);
        m_order = TakingOrder(m_request.names, m_leader);
        int64_t transient = 0;
        for (size_t i = 0; i < m_n; ++i) {
            if (!m_found[i]) continue;
            m_blocks += m_entries[i].size() / kCopyBlockSize;
            m_action[i] = DecideTransfer(
                m_entries[i], m_there[i] ? &m_existing[i] : nullptr, m_request.options.newerOnly, m_timeStep);
            m_copy[i] = Copies(m_action[i]);
            if (!m_copy[i]) continue;
            // A replacement is written whole beside the file it replaces, which goes only then: the run needs
            // what the files grow by, and room for the largest replacement on top.
            const int64_t size = static_cast<int64_t>(m_entries[i].size());
            const int64_t old = m_there[i] ? static_cast<int64_t>(m_existing[i].size()) : 0;
            m_needOf[i] = std::max<int64_t>(size - old, 0);
            m_need += m_needOf[i];
            if (m_there[i]) transient = std::max(transient, std::min(size, old));
        }
        m_need += transient;
        m_freeKnown = GetDiskFreeSpaceEx(m_destination, m_knownFree, m_total, m_totalFree);
    }

    // Names that fold to one key: where the destination takes them for one entry (FAT, exFAT, SMB), the
    // first in byte order is copied and every other one is a failure, which a move keeps.
    bool LandsOnFirst(size_t i, DirHandle& at)
    {
        if (m_leader[i] == i) return false;
        if (!m_foldsNames)
            m_foldsNames = TakesForOne(at, m_destination, m_request.names[m_leader[i]], m_request.names[i]);
        // Nothing there to tell by (a dry run, or a first name not made): the file system's type says it.
        if (!(m_foldsNames ? *m_foldsNames : FoldsNameCaseByType(m_destination))) return false;
        SetLastError(err::AlreadyExists);
        ReportFileError(m_destination + m_request.names[i], kContextOverwrite);
        ++m_counts.errors;
        return true;
    }

    // A file missing from the source, or another kind of entry under its name at the destination: reported,
    // counted, and the run goes on (a move keeps it). True when it was.
    bool Unfit(size_t i)
    {
        if (m_found[i] && m_action[i] != TransferAction::KindMismatch) return false;
        SetLastError(m_found[i] ? err::AlreadyExists : err::FileNotFound);
        ReportFileError(m_found[i] ? m_destination + m_request.names[i] : m_source + m_request.names[i],
            m_found[i] ? kContextOverwrite : kContextReadSource);
        ++m_counts.errors;
        return true;
    }

    int DryRun()
    {
        m_progress.Close();
        for (size_t i : m_order) {
            if ((m_found[i] && LandsOnFirst(i, *m_to)) || Unfit(i)) continue;
            const std::string fromPath = m_source + m_request.names[i];
            const bool keep = !m_copy[i] && !MoveMayDropUncopied(m_entries[i], m_existing[i], m_timeStep);
            if (m_copy[i]) {
                ++m_counts.copied;
                m_counts.copies.push_back(m_destination + m_request.names[i]);
            } else {
                ++m_counts.upToDate;
            }
            if (m_move && !keep) {
                ++m_counts.deleted;
                m_counts.deletions.push_back(fromPath);
            }
        }
        return 1;
    }

    // Deleted through its directory, only while it is still the file copied. It is looked up again: the
    // copy made it Archive only, so what the listing said of its ReadOnly no longer holds. False when the
    // deletion failed (reported), which ends the run.
    bool DeleteSource(size_t i)
    {
        const FindData& entry = m_entries[i];
        const std::string fromPath = m_source + m_request.names[i];
        FindData now;
        if (!m_from->Lookup(m_request.names[i], now) || now.fileId != entry.fileId || now.size() != entry.size()
            || !(now.lastWriteTime == entry.lastWriteTime) || KindOf(now) != KindOf(entry)) {
            ShowPlainMessage(fromPath + "  :   コピ－した後に変更されたので削除しません");
            ++m_counts.errors;
            return true;
        }
        if (!m_from->DeleteEntry(now, m_request.options.clearReadOnly)) {
            ReportFileError(fromPath, kContextDeleteBackup);
            ++m_counts.errors;
            m_deletionFailed = true;
            return false;
        }
        ++m_counts.deleted;
        return true;
    }

    // A copy or link in its place: counted, and a move's source deleted. The receiver calls it in the order
    // the copies were handed over, so the file is the one handed over first of those not yet placed.
    bool Placed()
    {
        const size_t i = m_handedOver[m_placed++];
        // The new file is Archive only by making: nothing more to set.
        ++m_counts.copied;
        m_blocksDone += m_entries[i].size() / kCopyBlockSize;
        return !m_move || DeleteSource(i);
    }

    // The free space is asked of the system again only when what was written since may have used up the
    // margin, and the question is asked once a run at most. False when the user chose to stop.
    bool RoomEnough()
    {
        const uint64_t estimated = m_knownFree > m_writtenSince ? m_knownFree - m_writtenSince : 0;
        if (m_asked || m_need <= 0 || (m_freeKnown && static_cast<uint64_t>(m_need) <= estimated)) return true;
        GetDiskFreeSpaceEx(m_destination, m_knownFree, m_total, m_totalFree);
        m_writtenSince = 0;
        if (static_cast<uint64_t>(m_need) <= m_knownFree) return true;
        m_asked = true;
        if (!m_receiver->Drain()) return true; // the run has ended anyway
        if (CheckFreeSpace(m_destination, m_need) != -1) return true;
        m_declined = true;
        return false;
    }

    // One file; false ends the run.
    bool CarryOne(size_t i)
    {
        Receiver& receiver = *m_receiver;
        m_current = i;
        if (!RoomEnough()) return false;
        // What is told, and a move's deletion, come once every copy before them is in its place; a name
        // folding onto an earlier one is weighed once that one is.
        const bool tells = !m_found[i] || m_action[i] == TransferAction::KindMismatch || (m_move && !m_copy[i]);
        if ((tells || m_leader[i] != i) && !receiver.Drain()) return false;
        if (Unfit(i) || LandsOnFirst(i, *m_to)) return true;
        const FindData& entry = m_entries[i];
        if (!m_copy[i]) {
            ++m_counts.upToDate;
            // A move deletes a source it did not copy only when the destination is the same size and
            // second; anything else may hold other bytes and stays, listed with the newer files.
            const bool keep = !MoveMayDropUncopied(entry, m_existing[i], m_timeStep);
            const std::string fromPath = m_source + m_request.names[i];
            if (m_move && keep) m_counts.kept.push_back(KeptLine(fromPath, m_destination + m_request.names[i]));
            return !(m_move && !keep && !m_stop.stop_requested() && !DeleteSource(i));
        }
        m_writtenSince += entry.size();
        m_need -= m_needOf[i];
        PlanStep step;
        step.action = KindOf(entry) == EntryKind::Link ? PlanAction::CopyLink
            : m_action[i] == TransferAction::Update    ? PlanAction::Update
                                                       : PlanAction::CopyNew;
        step.source = entry;
        step.destinationExists = m_there[i];
        step.destination = m_there[i] ? m_existing[i] : FindData {};
        step.destination.name = m_request.names[i];
        m_handedOver.push_back(i);
        // A failure that ends the run is counted with the file; a stop is not a failure. A name the
        // destination refused is never placed (the receiver counts it).
        const auto ended = [this] {
            if (!m_receiver->Ended())
                ++m_placed;
            else if (!m_receiver->StoppedByUser())
                ++m_counts.errors;
        };
        const ReceiverFolder at { m_fromShared, m_toShared, m_root };
        const Carried carried = receiver.Carry(at, step, ended);
        // A link the destination cannot hold is told once a run; it is not placed, and a move keeps it.
        if (carried == Carried::Left) m_handedOver.pop_back();
        // A link that failed ends the run at it, as a file that cannot be copied does.
        if (carried == Carried::RunEnded && !receiver.Ended()) ++m_counts.errors;
        return carried != Carried::RunEnded;
    }

    int Carry()
    {
        m_fromShared = Unowned(m_from.get());
        m_toShared = Unowned(m_to.get());
        for (size_t i : m_order) {
            if (!CarryOne(i)) break;
            m_receiver->Pump();
            if (m_stop.stop_requested()) break;
        }
        m_receiver->Finish(kTransferDone);
        // Links the destination refused and names it could not hold: each told, each a file not done.
        m_counts.errors += m_receiverCounts.failures;
        if (m_deletionFailed || m_declined) {
            m_progress.Close();
            return -1;
        }
        if (m_receiver->StoppedByUser() || (m_stop.stop_requested() && !m_receiver->Ended())) {
            ShowPlainMessage("中止します");
            m_progress.Close();
            return 1;
        }
        m_progress.Close();
        if (m_counts.copied > 0 && !fs().SyncFileSystem(m_destination)) {
            ReportFileError(m_destination, kContextWriteDenied);
            ++m_counts.errors;
        }
        ShowPlainMessage(FileTransferSummary(m_request.mode, m_counts));
        return 1;
    }

    const FileTransfer& m_request;
    FileTransferCounts& m_counts;
    const std::stop_token m_stop;
    const std::string m_source;
    const std::string m_destination;
    const std::string m_root; // the files lie in the two tops themselves
    const bool m_move;
    ProgressWindow& m_progress;
    const size_t m_n;
    std::unique_ptr<DirHandle> m_from;
    std::unique_ptr<DirHandle> m_to;
    std::shared_ptr<DirHandle> m_fromShared;
    std::shared_ptr<DirHandle> m_toShared;
    WriteTimeStep m_timeStep = WriteTimeStep::Second;
    std::vector<FindData> m_entries, m_existing;
    std::vector<char> m_found, m_there;
    std::vector<bool> m_copy;
    std::vector<TransferAction> m_action;
    std::vector<int64_t> m_needOf;
    std::vector<size_t> m_leader;
    std::vector<size_t> m_order;
    std::optional<bool> m_foldsNames;
    uint64_t m_blocks = 0;
    uint64_t m_blocksDone = 0;
    int64_t m_need = 0;
    uint64_t m_knownFree = 0, m_total = 0, m_totalFree = 0, m_writtenSince = 0;
    bool m_freeKnown = false;
    bool m_asked = false;
    bool m_declined = false;
    bool m_deletionFailed = false;
    size_t m_current = 0;
    std::deque<size_t> m_handedOver; // the files handed to the receiver and not yet placed, in order
    size_t m_placed = 0;
    TransferCounts m_receiverCounts; // the receiver's own: its failures are files not done
    std::optional<Receiver> m_receiver; // last: its copies go before the directories they use
};

} // namespace

int TransferFiles(const FileTransfer& request, FileTransferCounts& counts, std::stop_token stop)
{
    FileRun run(request, counts, std::move(stop));
    return run.Run();
}

int DuplicateFile(const std::string& sourceDir, const std::string& destinationDir, const std::string& name, int count)
{
    const std::string source = WithOneSeparator(sourceDir) + name;
    const std::string destination = WithOneSeparator(destinationDir);
    const size_t point = name.find_last_of('.');
    const std::string extension = point == std::string::npos ? std::string() : name.substr(point);
    const std::string base = point == std::string::npos ? name : name.substr(0, point);
    constexpr int kTries = 9;
    int shift = 0;
    for (int i = 0; i < count; ++i) {
        bool made = false;
        std::string target;
        for (int attempt = 0; attempt <= kTries && !made; ++attempt) {
            char number[32];
            if (shift == 0)
                std::snprintf(number, sizeof number, "%02d", i);
            else
                std::snprintf(number, sizeof number, "%d", i + shift);
            target = destination + base + number + extension;
            made = fs().CopyFile(source, target, true);
            // Only a taken name moves the number on; any other failure is final.
            if (!made && GetLastError() != err::FileExists) break;
            if (!made) shift += 10;
        }
        if (!made) {
            // Named: the last name tried (every one taken, or the copy that failed).
            ReportFileError(target, kContextWriteDenied);
            return -1;
        }
    }
    return 0;
}

} // namespace zelo
