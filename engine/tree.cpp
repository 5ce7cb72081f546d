// Tree totals and deletion over the shared directory stack.
#include "engine/tree.h"

#include "engine/messages.h"
#include "model/state.h"
#include "platform/errors.h"
#include "platform/filesystem.h"

#include <set>

namespace zelo {

namespace {

const std::string kEmpty;

// A directory the walks go into: a symbolic link to a directory is an entry of its own.
bool IsRealDirectory(uint32_t attributes)
{
    return (attributes & kAttrDirectory) && !(attributes & kAttrReparsePoint);
}

} // namespace

void DirStack::ResetStack()
{
    m_paths.clear();
}

const std::string& DirStack::TopDir() const
{
    return m_paths.empty() ? kEmpty : m_paths.back();
}

std::string DirStack::PopDir()
{
    if (m_paths.empty()) return {};
    std::string top = std::move(m_paths.back());
    m_paths.pop_back();
    return top;
}

DirStack& dirStack()
{
    static DirStack stack;
    return stack;
}

std::string WithOneSeparator(const std::string& directory)
{
    std::string path = directory;
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    path += '\\';
    return path;
}

int CountTree(const std::string& start, uint64_t* exactBytes)
{
    DirStack& stack = dirStack();
    stack.ResetStack();
    Main.TreeDirCount = 0;
    Main.TreeFileCount = 0;
    float total = 0.0f;
    uint64_t exact = 0;

    std::string cur = start;
    for (;;) {
        FindData entry;
        if (auto search = fs().FindFirstInTree(cur, entry)) {
            do {
                if (IsRealDirectory(entry.attributes)) {
                    // Another file system mounted here is another drive's (or none's): not counted into.
                    if (!entry.mountPoint) stack.PushDir(cur + entry.name + "\\");
                    ++Main.TreeDirCount;
                } else if ((entry.attributes & 0x3F) != kAttrVolumeLabel) {
                    ++Main.TreeFileCount;
                    // Each addition is rounded to single precision, as the totals are kept.
                    total = static_cast<float>(static_cast<long double>(total) + entry.sizeLow);
                    if (entry.sizeHigh != 0)
                        total = static_cast<float>(
                            static_cast<long double>(total) + static_cast<long double>(entry.sizeHigh) * 4294967296.0L);
                    exact += entry.size();
                }
            } while (search->Next(entry));
        }
        if (stack.StackCount() == 0) break;
        cur = stack.PopDir();
    }
    Main.TreeByteTotal = total;
    if (exactBytes) *exactBytes = exact;
    return 1;
}

void ClearForDelete(const std::string& path, bool isDirectory, const CommandOptions& options)
{
    if (!options.clearReadOnly) return;
    fs().SetAttributes(path, isDirectory ? kAttrDirectory : kAttrArchive);
}

namespace {

// ClearForDelete for an entry whose attributes the search already gave: a symbolic link is never
// changed (that would change what it points to), and an entry with nothing to clear is left alone.
// Returns whether the attributes were changed.
bool ClearEntryForDelete(const std::string& path, uint32_t attributes, bool isDirectory, const CommandOptions& options)
{
    if (!options.clearReadOnly || (attributes & kAttrReparsePoint)) return false;
    if (!(attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem))) return false;
    ClearForDelete(path, isDirectory, options);
    return true;
}

// The directory itself for a path with its separator ("C:\a\" -> "C:\a"; a drive root stays "C:\").
std::string DirectoryEntry(const std::string& dirWithSep)
{
    return dirWithSep.size() > 3 ? dirWithSep.substr(0, dirWithSep.size() - 1) : dirWithSep;
}

// The directory that holds a directory, with its separator ("C:\a\b\" -> "C:\a\", "C:\a\" -> "C:\").
std::string ParentWithSeparator(const std::string& dirWithSep)
{
    const std::string entry = DirectoryEntry(dirWithSep);
    const auto sep = entry.find_last_of('\\');
    return sep == std::string::npos ? entry : WithOneSeparator(entry.substr(0, sep));
}

// On Linux a ReadOnly directory (no write permission) also keeps its entries from being deleted, for
// everyone but root. Where ReadOnly items are to be deleted, a directory in which a deletion was refused
// with access denied loses its ReadOnly, and the deletion is tried once more. Returns whether it changed;
// otherwise the refusal's error code is left for the report.
bool LiftReadOnlyForRetry(const std::string& dirWithSep, const CommandOptions& options)
{
    const uint32_t code = GetLastError();
    if (!options.clearReadOnly || code != err::AccessDenied) return false;
    const std::string entry = DirectoryEntry(dirWithSep);
    const uint32_t attributes = fs().GetAttributes(entry);
    const bool lifted = attributes != kInvalidAttributes && !(attributes & kAttrReparsePoint)
        && (attributes & kAttrReadOnly) && fs().SetAttributes(entry, attributes & ~uint32_t(kAttrReadOnly));
    if (!lifted) SetLastError(code);
    return lifted;
}

// A kept root whose ReadOnly was lifted gets it back when the deletion ends, however it ends.
class ReadOnlyRootRestore {
public:
    explicit ReadOnlyRootRestore(std::string entry)
        : m_entry(std::move(entry))
    {
    }
    ~ReadOnlyRootRestore()
    {
        if (!m_lifted) return;
        const uint32_t code = GetLastError();
        const uint32_t attributes = fs().GetAttributes(m_entry);
        if (attributes != kInvalidAttributes) fs().SetAttributes(m_entry, attributes | kAttrReadOnly);
        SetLastError(code);
    }
    ReadOnlyRootRestore(const ReadOnlyRootRestore&) = delete;
    ReadOnlyRootRestore& operator=(const ReadOnlyRootRestore&) = delete;
    void Lifted() { m_lifted = true; }

private:
    std::string m_entry;
    bool m_lifted = false;
};

} // namespace

int DeleteTree(const std::string& rootPath, int keepRoot, const CommandOptions& options)
{
    // Only ever a directory path with exactly one trailing separator.
    const std::string root = WithOneSeparator(rootPath);
    DirStack& stack = dirStack();
    stack.ResetStack();
    Main.DeletedDirCount = 0;
    Main.DeletedFileCount = 0;

    // A root that is missing or not a directory is an error, not an empty success.
    const std::string rootEntry = DirectoryEntry(root);
    const uint32_t rootAttributes = fs().GetAttributes(rootEntry);
    if (rootAttributes == kInvalidAttributes || !(rootAttributes & kAttrDirectory)) {
        if (rootAttributes != kInvalidAttributes) SetLastError(err::PathNotFound);
        Main.ErrorContext = 3;
        ReportFileError(root);
        return -1;
    }
    // Removing a symbolic link to a directory removes the link, never what it points to.
    if ((rootAttributes & kAttrReparsePoint) && keepRoot == 0) {
        if (!fs().DeleteFile(rootEntry)) {
            Main.ErrorContext = 3;
            ReportFileError(root);
            return -1;
        }
        ++Main.DeletedFileCount;
        return 1;
    }
    stack.PushDir(root);
    ReadOnlyRootRestore rootRestore(rootEntry);
    // Lifts ReadOnly from a directory that refused a deletion in it; a root that stays gets it back.
    const auto liftForRetry = [&](const std::string& dirWithSep) {
        if (!LiftReadOnlyForRetry(dirWithSep, options)) return false;
        if (dirWithSep == root && keepRoot != 0) rootRestore.Lifted();
        return true;
    };
    // Where ReadOnly items are cleared and deleted anyway, the walk needs no stat per entry.
    const TreeSearchDetail detail = options.clearReadOnly ? TreeSearchDetail::KindOnly : TreeSearchDetail::Full;

    std::set<std::string> reportedMounts;
    std::string cur = root;
    for (;;) {
        // One pass: delete the files of cur, push its subdirectories.
        int subdirectories = 0;
        FindData entry;
        if (auto search = fs().FindFirstInTree(cur, entry, detail)) {
            do {
                if (IsRealDirectory(entry.attributes)) {
                    if (entry.mountPoint) {
                        // Never delete into another file system mounted inside the tree: it stays, in
                        // use, and so does every directory above it. Said once, though its directory
                        // is listed again.
                        const std::string path = cur + entry.name;
                        if (reportedMounts.insert(path).second) {
                            SetLastError(err::SharingViolation);
                            Main.ErrorContext = 3;
                            ReportFileError(path);
                        }
                        continue;
                    }
                    ++subdirectories;
                    stack.PushDir(cur + entry.name + "\\");
                    continue;
                }
                const std::string path = cur + entry.name;
                // An entry whose attributes were just changed is deleted by its path, after a fresh look.
                const bool cleared = ClearEntryForDelete(path, entry.attributes, false, options);
                const auto deleteEntry
                    = [&] { return cleared ? fs().DeleteFile(path) : search->DeleteFound(path, entry); };
                const bool deleted = deleteEntry() || (liftForRetry(cur) && deleteEntry());
                if (deleted) {
                    ++Main.DeletedFileCount;
                } else {
                    Main.ErrorContext = 3;
                    ReportFileError(path);
                }
            } while (search->Next(entry));
        }
        if (subdirectories > 0) {
            cur = stack.TopDir();
            continue;
        }

        // Nothing deletable is left in cur: remove it.
        if (stack.StackCount() == 0) return -1;
        const std::string rm = stack.PopDir();
        const bool isRoot = rm == root;
        if (isRoot && keepRoot != 0) return 1;
        const uint32_t attributes = fs().GetAttributes(rm);
        if (attributes != kInvalidAttributes) ClearEntryForDelete(rm, attributes, true, options);
        // A directory inside the tree whose parent is ReadOnly is removed once the parent is writable;
        // the root's own parent lies outside what is deleted and is left as it is.
        const bool removed = fs().RemoveDirectory(rm)
            || (!isRoot && liftForRetry(ParentWithSeparator(rm)) && fs().RemoveDirectory(rm));
        if (!removed) {
            Main.ErrorContext = 3;
            ReportFileError(rm);
            return -1;
        }
        ++Main.DeletedDirCount;
        if (isRoot) return 1;
        cur = stack.TopDir();
    }
}

} // namespace zelo
