// The file driver and the duplicator.
#include "engine/file_transfer.h"

#include "engine/copy_workers.h"
#include "engine/file_copy.h"
#include "engine/folder_transfer.h"
#include "engine/formats.h"
#include "engine/messages.h"
#include "engine/transfer_decision.h"
#include "engine/tree.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "platform/ui_services.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
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

int TransferFiles(const FileTransfer& request, FileTransferCounts& counts, const int& abortFlag)
{
    counts = FileTransferCounts {};
    const std::string source = WithOneSeparator(request.sourceDir);
    const std::string destination = WithOneSeparator(request.destinationDir);
    const bool move = request.mode == kModeFileMove;
    ProgressWindow& progress = ui().Progress();

    // Both directories are opened once; every file is reached through them, never by its path.
    auto from = fs().OpenTreeDirectory(source, ListDetail::Full, true);
    if (!from) {
        ReportFileError(source, kContextReadSource);
        return -1;
    }
    auto to = fs().OpenTreeDirectory(destination, ListDetail::Full, true);
    if (!to) {
        ReportFileError(destination, kContextWriteDenied);
        return -1;
    }
    // The same directory by identity (through a link, a bind mount or another drive letter): every file
    // would be its own destination, and a move would delete it.
    if (from->Identity().inode != 0 && from->Identity() == to->Identity()) {
        ShowPlainMessage("同じＤＩＲが選択されており，実行出来ません");
        return -1;
    }

    // Each file is decided once, before anything is written: the overall bar counts 8192-byte blocks over
    // every selected file, and the room the copies need is summed from the same listing.
    // The copy threads start now, so they are running when the first copies are decided.
    uint64_t blocksDone = 0; // the overall bar: the blocks of the files handed back, and the bytes moved since
    size_t current = 0;
    const auto show = [&](uint64_t moved) {
        progress.SetLabel(request.names[current]);
        progress.SetPosition(ProgressBar::Overall, ProgressUnits(blocksDone + moved / kCopyBlockSize));
    };
    std::optional<CopyWorkers> started;
    if (!request.dryRun)
        started.emplace(OnNetworkFileSystem(source) || OnNetworkFileSystem(destination), abortFlag, show);
    const WriteTimeStep timeStep = request.destinationTimes ? *request.destinationTimes : GetWriteTimeStep(destination);
    const size_t n = request.names.size();
    std::vector<FindData> entries(n), existing(n);
    std::vector<char> found(n), there(n);
    std::vector<bool> copy(n);
    LookUpAll(*from, *to, destination, request.names, entries, existing, found, there);
    // Names that fold to one key: where the destination takes them for one entry (FAT, exFAT, SMB), the
    // first in byte order is copied and every other one is a failure, which a move keeps.
    std::vector<size_t> leader;
    const std::vector<size_t> order = TakingOrder(request.names, leader);
    std::optional<bool> foldsNames;
    const auto landsOnFirst = [&](size_t i, DirHandle& at) {
        if (leader[i] == i) return false;
        if (!foldsNames) foldsNames = TakesForOne(at, destination, request.names[leader[i]], request.names[i]);
        // Nothing there to tell by (a dry run, or a first name not made): the file system's type says it.
        if (!(foldsNames ? *foldsNames : FoldsNameCaseByType(destination))) return false;
        SetLastError(err::AlreadyExists);
        ReportFileError(destination + request.names[i], kContextOverwrite);
        ++counts.errors;
        return true;
    };
    std::vector<TransferAction> action(n, TransferAction::CopyNew);
    std::vector<int64_t> needOf(n);
    uint64_t blocks = 0;
    int64_t need = 0;
    int64_t transient = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!found[i]) continue;
        blocks += entries[i].size() / kCopyBlockSize;
        action[i] = DecideTransfer(entries[i], there[i] ? &existing[i] : nullptr, request.options.newerOnly, timeStep);
        copy[i] = Copies(action[i]);
        if (!copy[i]) continue;
        // A replacement is written whole beside the file it replaces, which goes only then: the run needs
        // what the files grow by, and room for the largest replacement on top.
        const int64_t size = static_cast<int64_t>(entries[i].size());
        const int64_t old = there[i] ? static_cast<int64_t>(existing[i].size()) : 0;
        needOf[i] = std::max<int64_t>(size - old, 0);
        need += needOf[i];
        if (there[i]) transient = std::max(transient, std::min(size, old));
    }
    need += transient;
    // The free space is asked of the system again only when what was written since may have used up
    // the margin, and the question is asked once a run at most.
    uint64_t knownFree = 0, total = 0, totalFree = 0;
    const bool freeKnown = GetDiskFreeSpaceEx(destination, knownFree, total, totalFree);
    uint64_t writtenSince = 0;
    bool asked = false;
    progress.SetMax(ProgressBar::Overall, ProgressUnits(blocks));
    progress.SetPosition(ProgressBar::Overall, 0);
    progress.Show();
    ui().ProcessEvents();

    if (request.dryRun) {
        progress.Close();
        for (size_t i : order) {
            if (found[i] && landsOnFirst(i, *to)) continue;
            const std::string fromPath = source + request.names[i];
            if (!found[i] || action[i] == TransferAction::KindMismatch) {
                SetLastError(found[i] ? err::AlreadyExists : err::FileNotFound);
                ReportFileError(found[i] ? destination + request.names[i] : fromPath,
                    found[i] ? kContextOverwrite : kContextReadSource);
                ++counts.errors;
                continue;
            }
            const bool keep = !copy[i] && !MoveMayDropUncopied(entries[i], existing[i], timeStep);
            if (copy[i]) {
                ++counts.copied;
                counts.copies.push_back(destination + request.names[i]);
            } else {
                ++counts.upToDate;
            }
            if (move && !keep) {
                ++counts.deleted;
                counts.deletions.push_back(fromPath);
            }
        }
        return 1;
    }

    CopyOptions copyOptions;
    // A copy is synced once at the end; a move flushes each copy before its source goes.
    copyOptions.flushEachFile = move;
    CopyWorkers& workers = *started;
    std::shared_ptr<DirHandle> fromShared = std::move(from);
    std::shared_ptr<DirHandle> toShared = std::move(to);
    // Deleted through its directory, only while it is still the file copied. It is looked up again: the
    // copy made it Archive only, so what the listing said of its ReadOnly no longer holds. False when the
    // deletion failed (reported), which ends the run.
    const auto deleteSource = [&](size_t i) {
        const FindData& entry = entries[i];
        const std::string fromPath = source + request.names[i];
        FindData now;
        if (!fromShared->Lookup(request.names[i], now) || now.fileId != entry.fileId || now.size() != entry.size()
            || !(now.lastWriteTime == entry.lastWriteTime) || KindOf(now) != KindOf(entry)) {
            ShowPlainMessage(fromPath + "  :   コピ－した後に変更されたので削除しません");
            ++counts.errors;
            return true;
        }
        if (!fromShared->DeleteEntry(now, request.options.clearReadOnly)) {
            ReportFileError(fromPath, kContextDeleteBackup);
            ++counts.errors;
            return false;
        }
        ++counts.deleted;
        return true;
    };
    bool deletionFailed = false;
    bool declined = false;
    TransferCounts refusedLinks; // a destination without links is told so once a run
    // A copy in its place: counted, and a move's source deleted.
    const auto copied = [&](size_t i) {
        // The new file is Archive only by making: nothing more to set.
        ++counts.copied;
        blocksDone += entries[i].size() / kCopyBlockSize;
        if (move && !deleteSource(i)) {
            deletionFailed = true;
            return false;
        }
        return true;
    };
    for (size_t i : order) {
        current = i;
        const std::string& name = request.names[i];
        std::string fromPath = source + name;
        std::string toPath = destination + name;
        const uint64_t estimated = knownFree > writtenSince ? knownFree - writtenSince : 0;
        if (!asked && need > 0 && (!freeKnown || static_cast<uint64_t>(need) > estimated)) {
            GetDiskFreeSpaceEx(destination, knownFree, total, totalFree);
            writtenSince = 0;
            if (static_cast<uint64_t>(need) > knownFree) {
                asked = true;
                if (!workers.Drain()) break;
                if (CheckFreeSpace(destination, need) == -1) {
                    declined = true;
                    break;
                }
            }
        }
        // What is told, and a move's deletion, come once every copy before them is in its place; a name
        // folding onto an earlier one is weighed once that one is.
        const bool tells = !found[i] || action[i] == TransferAction::KindMismatch || (move && !copy[i]);
        if ((tells || leader[i] != i) && !workers.Drain()) break;
        if (!found[i]) {
            SetLastError(err::FileNotFound);
            ReportFileError(fromPath, kContextReadSource);
            ++counts.errors;
            continue;
        }
        if (landsOnFirst(i, *toShared)) continue;
        const FindData& entry = entries[i];
        if (action[i] == TransferAction::KindMismatch) {
            // A directory, link or special file under the file's name is never "up to date" and never
            // overwritten: the file is not copied, and a move keeps it.
            SetLastError(err::AlreadyExists);
            ReportFileError(toPath, kContextOverwrite);
            ++counts.errors;
            continue;
        }
        if (copy[i] && KindOf(entry) == EntryKind::Link) {
            // A link is copied as the link, never what it points to, once every copy before it is in place.
            if (!workers.Drain()) break;
            if (fromShared->CopyLinkTo(entry, *toShared)) {
                if (!copied(i)) break;
            } else if (GetLastError() == err::NotSupported) {
                LinkNotCopied(refusedLinks, toPath); // not copied, and a move keeps it
                ++counts.errors;
            } else {
                // As a file that cannot be copied: the run ends at it.
                ReportFileError(toPath, kContextWriteDenied);
                ++counts.errors;
                break;
            }
        } else if (!copy[i]) {
            ++counts.upToDate;
            // A move deletes a source it did not copy only when the destination is the same size and
            // second; anything else may hold other bytes and stays, listed with the newer files.
            const bool keep = !MoveMayDropUncopied(entry, existing[i], timeStep);
            if (move && keep) counts.kept.push_back(KeptLine(fromPath, toPath));
            if (move && !keep && abortFlag != kAbortRequested && !deleteSource(i)) {
                deletionFailed = true;
                break;
            }
        } else {
            writtenSince += entry.size();
            need -= needOf[i];
            // Small enough to be kept without an allocation of its own: the rest is reached through copied.
            const auto done = [&copied, i] { return copied(i); };
            auto job = std::make_unique<ListedCopy>(fromShared, entry, toShared,
                there[i] ? existing[i].attributes : kInvalidAttributes, std::move(fromPath), std::move(toPath),
                copyOptions);
            const auto ended = [&] {
                if (!workers.StoppedByUser()) ++counts.errors;
            };
            if (!workers.Submit(std::move(job), done, ended)) break;
        }
        workers.Pump();
        if (abortFlag == kAbortRequested) break;
    }
    workers.Drain();
    if (deletionFailed || declined) {
        progress.Close();
        return -1;
    }
    if (workers.StoppedByUser() || (abortFlag == kAbortRequested && !workers.Ended())) {
        ShowPlainMessage("中止します");
        progress.Close();
        return 1;
    }
    progress.Close();
    if (counts.copied > 0 && !fs().SyncFileSystem(destination)) {
        ReportFileError(destination, kContextWriteDenied);
        ++counts.errors;
    }
    ShowPlainMessage(FileTransferSummary(request.mode, counts));
    return 1;
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
