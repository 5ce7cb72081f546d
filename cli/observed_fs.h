// What zelo-cli's --verbose and --progress see: a file system that hands every call on to the one in
// use and tells what each call did to which entry, and how many bytes the copies wrote.
#pragma once

#include "cli/cli.h"
#include "platform/forwarding_fs.h"

#include <chrono>
#include <cstdint>
#include <mutex>

namespace zelo::cli {

// The one line of --progress: bytes, files and rate, redrawn at most four times a second, on standard
// error and only when it is a terminal.
class ProgressLine {
public:
    explicit ProgressLine(bool wanted);
    ~ProgressLine(); // ends the line
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    void AddBytes(uint64_t bytes);
    void AddFile();

private:
    void Draw(bool last);
    bool m_on;
    uint64_t m_bytes = 0;
    uint64_t m_files = 0;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_drawn;
};

// While it lives, every file system call of the engine passes through it: --verbose prints an action
// word and the entry (as typed) for each entry created, copied, updated, moved or deleted (a failed step
// is listed where the engine reports it); --progress counts the bytes and files. Every other call is
// handed on unchanged.
class ObservedFileSystem final : public ForwardingFileSystem {
public:
    explicit ObservedFileSystem(const Arguments& args);
    ~ObservedFileSystem() override;
    ObservedFileSystem(const ObservedFileSystem&) = delete;
    ObservedFileSystem& operator=(const ObservedFileSystem&) = delete;

    // The observer's report of one step: action words as --verbose prints them; null for a failed step.
    // Both may be called from any thread.
    void Acted(const char* action, const std::string& drivePath);
    void Wrote(int64_t bytes);
    bool Verbose() const { return m_args.verbose; }
    // A batch rename's moves are told as "renamed OLD -> NEW", the new name beside the old as typed.
    void TellMovesAsRenames() { m_renames = true; }

    std::unique_ptr<DirHandle> OpenTreeDirectory(
        const std::string& dirWithSep, ListDetail detail, bool followLink) override;
    bool CommitReplacement(
        std::unique_ptr<File> file, const std::string& destination, const ReplaceOptions& options) override;
    bool DeleteFile(const std::string& path) override;
    bool MoveFile(const std::string& from, const std::string& to) override;
    bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override;
    bool CreateDirectory(const std::string& path) override;
    bool RemoveDirectory(const std::string& path) override;
    std::unique_ptr<File> MakeFile(std::unique_ptr<File> owned, File& inner) override;

private:
    // A file written to its place: "copied", or "updated" where one stood before.
    bool Written(bool done, bool existed, const std::string& drivePath);

    const Arguments& m_args;
    bool m_renames = false;
    // Copies report from the engine's copy threads as well as from the walk's: one report at a time.
    std::mutex m_reporting;
    ProgressLine m_progress;
    ScopedFileSystem m_installed;
};

} // namespace zelo::cli
