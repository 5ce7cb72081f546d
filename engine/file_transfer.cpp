// The file driver and the duplicator.
#include "engine/file_transfer.h"

#include "engine/file_copy.h"
#include "engine/folder_transfer.h"
#include "engine/messages.h"
#include "engine/tree.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/ui_services.h"

#include <cstdio>

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

int TransferFiles(const FileTransfer& request, FileTransferCounts& counts, const int& abortFlag)
{
    counts = FileTransferCounts {};
    const std::string source = WithOneSeparator(request.sourceDir);
    const std::string destination = WithOneSeparator(request.destinationDir);
    ProgressWindow& progress = ui().Progress();

    // Both directories are opened once; every file is reached through them, never by its path.
    auto from = fs().OpenTreeDirectory(source, ListDetail::Full, true);
    if (!from) {
        ReportFileError(source, kContextOverwrite);
        return -1;
    }
    auto to = fs().OpenTreeDirectory(destination, ListDetail::Full, true);
    if (!to) {
        ReportFileError(destination, kContextOverwrite);
        return -1;
    }

    // The overall bar counts 8192-byte blocks over every selected file; the same sizes give the room
    // the copy needs (a file that will be overwritten is taken to need none), summed once.
    const size_t n = request.names.size();
    std::vector<FindData> entries(n), existing(n);
    std::vector<bool> found(n), there(n);
    uint64_t blocks = 0;
    int64_t need = 0;
    for (size_t i = 0; i < n; ++i) {
        found[i] = from->Lookup(request.names[i], entries[i]);
        there[i] = to->Lookup(request.names[i], existing[i]);
        if (!found[i]) continue;
        blocks += entries[i].size() / kCopyBlockSize;
        if (!there[i]) need += static_cast<int64_t>(entries[i].size());
    }
    // The free space is asked of the system again only when what was written since may have used up
    // the margin: the same answers as asking before every file, at a linear cost.
    uint64_t knownFree = 0, total = 0, totalFree = 0;
    const bool freeKnown = GetDiskFreeSpaceEx(destination, knownFree, total, totalFree);
    uint64_t writtenSince = 0;
    progress.SetMax(ProgressBar::Overall, static_cast<int>(blocks));
    progress.SetPosition(ProgressBar::Overall, 0);
    progress.Show();
    ui().ProcessEvents();

    CopyOptions copyOptions;
    copyOptions.flushEachFile = false; // the destination is synced once at the end
    for (size_t i = 0; i < n; ++i) {
        const std::string& name = request.names[i];
        const std::string fromPath = source + name;
        const std::string toPath = destination + name;
        // Checked before every file, as the free space shrinks with each copy.
        const uint64_t estimated = knownFree > writtenSince ? knownFree - writtenSince : 0;
        if (!freeKnown || need <= 0 || static_cast<uint64_t>(need) > estimated) {
            if (CheckFreeSpace(destination, need) == -1) {
                progress.Close();
                return -1;
            }
            GetDiskFreeSpaceEx(destination, knownFree, total, totalFree);
            writtenSince = 0;
        }
        const bool destinationExists = there[i];
        bool copy = true;
        if (request.options.newerOnly && destinationExists && found[i]
            && CompareWriteSeconds(entries[i].lastWriteTime, existing[i].lastWriteTime) <= 0) {
            copy = false;
            ++counts.upToDate;
        }
        if (copy) {
            if (!found[i]) {
                SetLastError(err::FileNotFound);
                ReportFileError(fromPath, kContextOverwrite);
                counts.errors = 1;
                break;
            }
            if (CopyListedFile(*from, entries[i], *to, destinationExists ? existing[i].attributes : kInvalidAttributes,
                    fromPath, toPath, 0, copyOptions, abortFlag)
                != 1) {
                counts.errors = 1;
                break;
            }
            writtenSince += entries[i].size();
            // The new file is Archive only by making: nothing more to set.
            if (abortFlag != kAbortRequested) ++counts.copied;
        }
        if (request.mode == kModeFileMove && abortFlag != kAbortRequested) {
            // Deleted through its directory, with no change of mode first.
            if (!found[i] || !from->DeleteEntry(entries[i], request.options.clearReadOnly)) {
                Main.ErrorContext = kContextDeleteBackup;
                ReportFileError("", kContextDeleteBackup);
                progress.Close();
                return -1;
            }
            ++counts.deleted;
        }
        if (abortFlag == kAbortRequested) {
            ShowPlainMessage("中止します");
            progress.Close();
            return 1;
        }
    }
    progress.Close();
    if (counts.copied > 0) fs().SyncFileSystem(destination);
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
        for (int attempt = 0; attempt <= kTries && !made; ++attempt) {
            char number[32];
            if (shift == 0)
                std::snprintf(number, sizeof number, "%02d", i);
            else
                std::snprintf(number, sizeof number, "%d", i + shift);
            made = fs().CopyFile(source, destination + base + number + extension, true);
            // Only a taken name moves the number on; any other failure is final.
            if (!made && GetLastError() != err::FileExists) break;
            if (!made) shift += 10;
        }
        if (!made) {
            Main.ErrorContext = kContextDeleteBackup;
            ReportFileError("", kContextDeleteBackup);
            return -1;
        }
    }
    return 0;
}

} // namespace zelo
