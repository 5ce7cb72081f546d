// The file driver and the duplicator.
#include "engine/file_transfer.h"

#include "engine/file_copy.h"
#include "engine/folder_transfer.h"
#include "engine/messages.h"
#include "engine/tree.h"
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

    // The overall bar counts 8192-byte blocks over every selected file; the same sizes give the room
    // the copy needs (a file that will be overwritten is taken to need none).
    uint64_t blocks = 0;
    int64_t need = 0;
    for (const std::string& name : request.names) {
        FindData entry;
        if (!FindFileEntry(source + name, entry)) continue;
        blocks += entry.size() / kCopyBlockSize;
        need += static_cast<int64_t>(entry.size());
        if (fs().GetAttributes(destination + name) != kInvalidAttributes) need -= static_cast<int64_t>(entry.size());
    }
    progress.SetMax(ProgressBar::Overall, static_cast<int>(blocks));
    progress.SetPosition(ProgressBar::Overall, 0);
    progress.Show();
    ui().ProcessEvents();

    for (const std::string& name : request.names) {
        const std::string from = source + name;
        const std::string to = destination + name;
        // Asked before every file, as the free space shrinks with each copy.
        if (CheckFreeSpace(destination, need) == -1) {
            progress.Close();
            return -1;
        }
        bool copy = true;
        if (request.options.newerOnly && fs().GetAttributes(to) != kInvalidAttributes
            && CompareFileDates(from, to) <= 0) {
            copy = false;
            ++counts.upToDate;
        }
        if (copy) {
            // No flush per file: the destination is synced once at the end.
            CopyOptions copyOptions;
            copyOptions.flushEachFile = false;
            if (CopyOneFile(from, to, 0, copyOptions) != 1) {
                counts.errors = 1;
                break;
            }
            if (abortFlag != kAbortRequested) {
                fs().SetAttributes(to, kAttrArchive);
                ++counts.copied;
            }
        }
        if (request.mode == kModeFileMove && abortFlag != kAbortRequested) {
            if (request.options.clearReadOnly) fs().SetAttributes(from, kAttrArchive);
            if (!fs().DeleteFile(from)) {
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
