// Tree totals and deletion on the one tree walk.
#include "engine/tree.h"

#include "engine/file_copy.h"
#include "engine/messages.h"
#include "engine/tree_walk.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/ui_services.h"

namespace zelo {

namespace {

// A directory the walks go into: a symbolic link to a directory is an entry of its own.
bool IsRealDirectory(uint32_t attributes)
{
    return (attributes & kAttrDirectory) && !(attributes & kAttrReparsePoint);
}

class CountVisitor final : public TreeVisitor {
public:
    explicit CountVisitor(TreeTotals& totals, std::stop_token stop = {}, CountedEntries* counted = nullptr)
        : m_totals(totals)
        , m_stop(std::move(stop))
        , m_counted(counted)
    {
    }

    WalkStep Entry(const WalkPlace&, const FindData& entry) override
    {
        if (m_stop.stop_requested()) return WalkStep::Stop;
        if (IsRealDirectory(entry.attributes)) {
            ++m_totals.dirs;
            // Another file system mounted here is another drive's (or none's): not counted into.
            return entry.mountPoint ? WalkStep::Continue : WalkStep::Descend;
        }
        if ((entry.attributes & 0x3F) == kAttrVolumeLabel) return WalkStep::Continue;
        Add(entry);
        return WalkStep::Continue;
    }

    WalkStep CannotEnter(const WalkPlace&, const std::string& path, const FindData&, ChildOpen status) override
    {
        if (status != ChildOpen::MountPoint) Unreadable(path);
        return WalkStep::Continue;
    }

    WalkStep CannotList(const std::string& dirPath) override
    {
        Unreadable(dirPath);
        return WalkStep::Continue;
    }

    // Directories are recorded as they are left: a listing may give no inode, the walked directory has one.
    WalkStep Leave(const WalkPlace* parent, const std::string&, const FindData* entry) override
    {
        if (m_counted && parent) m_counted->dirs.insert(entry->fileId);
        return WalkStep::Continue;
    }

    void Add(const FindData& entry)
    {
        if (m_counted) m_counted->files[entry.fileId] = MovedEntry { entry.size(), entry.lastWriteTime };
        ++m_totals.files;
        // Each addition is rounded to single precision, as the totals are kept.
        m_totals.bytes = static_cast<float>(static_cast<long double>(m_totals.bytes) + entry.sizeLow);
        if (entry.sizeHigh != 0)
            m_totals.bytes = static_cast<float>(
                static_cast<long double>(m_totals.bytes) + static_cast<long double>(entry.sizeHigh) * 4294967296.0L);
        m_totals.exactBytes += entry.size();
        if (entry.size() > m_totals.largestFile) m_totals.largestFile = entry.size();
    }

    void Unreadable(const std::string& path)
    {
        if (m_totals.unreadable++ == 0) m_totals.firstUnreadable = path;
    }

private:
    TreeTotals& m_totals;
    const std::stop_token m_stop;
    CountedEntries* m_counted;
};

// Runs a removal in dir; where ReadOnly items go and an ordinary user was refused because dir itself is
// ReadOnly, dir is lent its write bit (given back when its handle closes) and the removal tried once more.
template <class Removal> bool RemoveIn(DirHandle& dir, bool clearReadOnly, Removal removal)
{
    if (removal()) return true;
    const uint32_t code = GetLastError();
    if (clearReadOnly && code == err::AccessDenied && dir.LendWrite()) return removal();
    SetLastError(code);
    return false;
}

class DeleteVisitor final : public TreeVisitor {
public:
    DeleteVisitor(const CommandOptions& options, DeleteResult& result, DeleteProgress* progress = nullptr)
        : m_clearReadOnly(options.clearReadOnly)
        , m_result(result)
        , m_progress(progress)
    {
    }

    WalkStep Entry(const WalkPlace& at, const FindData& entry) override
    {
        if (m_progress && at.path != m_folder) {
            m_folder = at.path;
            m_progress->Entered(m_folder);
        }
        if (IsRealDirectory(entry.attributes)) {
            if (!entry.mountPoint) return WalkStep::Descend;
            ReportInUse(at.path + entry.name);
            return WalkStep::Continue;
        }
        DirHandle& dir = at.dir;
        if (RemoveIn(dir, m_clearReadOnly, [&] { return dir.DeleteEntry(entry, m_clearReadOnly); })) {
            ++m_result.files;
            if (m_progress) m_progress->Deleted();
        } else {
            ++m_result.failures;
            ReportFileError(at.path + entry.name, kContextRemoveTree);
        }
        return WalkStep::Continue;
    }

    WalkStep CannotEnter(const WalkPlace& at, const std::string& path, const FindData& entry, ChildOpen status) override
    {
        switch (status) {
        case ChildOpen::MountPoint:
            ReportInUse(WithoutSeparator(path));
            return WalkStep::Continue;
        case ChildOpen::Changed:
            // Swapped since it was listed: never followed; what now stands there stays, and so do its parents.
            ++m_result.failures;
            ReportFileError(path, kContextRemoveTree);
            return WalkStep::Continue;
        case ChildOpen::Opened:
        case ChildOpen::Failed:
            break;
        }
        // A directory that cannot be listed is removed if it is empty; otherwise its removal fails and
        // ends the deletion, as for any directory that cannot be removed.
        return Remove(at.dir, path, entry);
    }

    WalkStep CannotList(const std::string&) override
    {
        ++m_result.failures;
        return WalkStep::Continue;
    }

    WalkStep Leave(const WalkPlace* parent, const std::string& dirPath, const FindData* entry) override
    {
        if (!parent) return WalkStep::Continue; // the root: its caller decides
        return Remove(parent->dir, dirPath, *entry);
    }

private:
    WalkStep Remove(DirHandle& parent, const std::string& path, const FindData& entry)
    {
        if (RemoveIn(parent, m_clearReadOnly, [&] { return parent.RemoveSubdirectory(entry, m_clearReadOnly); })) {
            ++m_result.dirs;
            if (m_progress) m_progress->Deleted();
            return WalkStep::Continue;
        }
        ++m_result.failures;
        m_result.result = -1;
        ReportFileError(path, kContextRemoveTree);
        return WalkStep::Stop;
    }

    // Another file system mounted inside the tree is another drive's: never deleted into; it stays, and so
    // does every directory above it.
    void ReportInUse(const std::string& path)
    {
        ++m_result.failures;
        ShowPlainMessage(AnotherDriveMessage(path));
    }

    bool m_clearReadOnly;
    DeleteResult& m_result;
    DeleteProgress* m_progress;
    std::string m_folder; // the last folder told to m_progress
};

// What a removal walk may take: a move's source deletion takes what the copy took, a backup's planned
// deletion what its plan counted; each entry only while it is unchanged, a directory only when empty.
struct Takeable {
    const std::unordered_map<uint64_t, MovedEntry>& files;
    const std::unordered_set<uint64_t>* keptQuietly = nullptr; // a move's on-purpose keeps: no report
    const std::unordered_set<uint64_t>* dirs = nullptr; // where set, only these directories go
    const char* notTaken; // the report of an entry that is not to be taken
    const char* changed; // the report of one changed since
    std::string messagePrefix; // put before the walk's paths in reports
    KeepAside keep; // set: entries are moved aside, not deleted
};

class MovedDeleteVisitor final : public TreeVisitor {
public:
    MovedDeleteVisitor(const CommandOptions& options, const Takeable& takeable, DeleteResult& result)
        : m_clearReadOnly(options.clearReadOnly)
        , m_take(takeable)
        , m_result(result)
    {
    }

    WalkStep Entry(const WalkPlace& at, const FindData& entry) override
    {
        if (IsRealDirectory(entry.attributes)) {
            if (entry.mountPoint) {
                Keep(at.path, AnotherDriveMessage(m_take.messagePrefix + at.path + entry.name));
                return WalkStep::Continue;
            }
            if (m_take.dirs && entry.fileId != 0 && !m_take.dirs->count(entry.fileId)) {
                Keep(at.path, Report(at.path + entry.name + "\\", m_take.notTaken));
                return WalkStep::Continue;
            }
            return WalkStep::Descend;
        }
        if (m_take.keptQuietly && m_take.keptQuietly->count(entry.fileId)) {
            Keep(at.path, {});
            return WalkStep::Continue;
        }
        const auto it = m_take.files.find(entry.fileId);
        if (it == m_take.files.end()) {
            Keep(at.path, Report(at.path + entry.name, m_take.notTaken));
            return WalkStep::Continue;
        }
        if (it->second.size != entry.size() || !(it->second.lastWrite == entry.lastWriteTime)) {
            Keep(at.path, Report(at.path + entry.name, m_take.changed));
            return WalkStep::Continue;
        }
        DirHandle& dir = at.dir;
        if (m_take.keep ? m_take.keep(dir, entry, at.path)
                        : RemoveIn(dir, m_clearReadOnly, [&] { return dir.DeleteEntry(entry, m_clearReadOnly); })) {
            ++m_result.files;
        } else {
            Keep(at.path, FileErrorText(m_take.messagePrefix + at.path + entry.name, kContextRemoveTree));
        }
        return WalkStep::Continue;
    }

    WalkStep CannotEnter(const WalkPlace& at, const std::string& path, const FindData&, ChildOpen status) override
    {
        Keep(at.path,
            status == ChildOpen::MountPoint ? AnotherDriveMessage(WithoutSeparator(m_take.messagePrefix + path))
                                            : FileErrorText(m_take.messagePrefix + path, kContextRemoveTree));
        return WalkStep::Continue;
    }

    WalkStep CannotList(const std::string& dirPath) override
    {
        Keep(dirPath, FileErrorText(m_take.messagePrefix + dirPath, kContextRemoveTree));
        return WalkStep::Continue;
    }

    WalkStep Leave(const WalkPlace* parent, const std::string& dirPath, const FindData* entry) override
    {
        if (!parent) return WalkStep::Continue; // the root: its caller decides
        // A directory that keeps something is not removed; what it keeps has been reported.
        if (m_keptIn.count(dirPath)) {
            Keep(parent->path, {});
            return WalkStep::Continue;
        }
        if (m_take.dirs && !m_take.dirs->count(entry->fileId)) {
            Keep(parent->path, Report(dirPath, m_take.notTaken));
            return WalkStep::Continue;
        }
        if (RemoveDirectory(parent->dir, *entry, parent->path))
            ++m_result.dirs;
        else
            Keep(parent->path, FileErrorText(m_take.messagePrefix + dirPath, kContextRemoveTree));
        return WalkStep::Continue;
    }

    // An emptied directory goes; one kept aside moves there whole unless its folder of versions is there
    // already (made for its files), and then goes as well.
    bool RemoveDirectory(DirHandle& parent, const FindData& entry, const std::string& parentPath)
    {
        if (m_take.keep && m_take.keep(parent, entry, parentPath)) return true;
        return RemoveIn(parent, m_clearReadOnly, [&] { return parent.RemoveSubdirectory(entry, m_clearReadOnly); });
    }

    bool KeptAnything() const { return !m_keptIn.empty(); }

private:
    std::string Report(const std::string& path, const char* why) const
    {
        return m_take.messagePrefix + path + "  :   " + why;
    }

    // Something in dirPath stays; a non-empty report is a failure of the move, shown once.
    void Keep(const std::string& dirPath, const std::string& report)
    {
        m_keptIn.insert(dirPath);
        if (report.empty()) return;
        ++m_result.failures;
        ShowPlainMessage(report);
    }

    bool m_clearReadOnly;
    const Takeable& m_take;
    DeleteResult& m_result;
    std::unordered_set<std::string> m_keptIn;
};

// Whether a walk finds exactly what was counted: every entry counted and unchanged, and as many.
class SameAsCountedVisitor final : public TreeVisitor {
public:
    explicit SameAsCountedVisitor(const CountedEntries& counted)
        : m_counted(counted)
    {
    }

    WalkStep Entry(const WalkPlace&, const FindData& entry) override
    {
        if (IsRealDirectory(entry.attributes)) {
            if (entry.mountPoint) return Differs();
            ++m_dirs;
            return WalkStep::Descend;
        }
        const auto it = m_counted.files.find(entry.fileId);
        if (it == m_counted.files.end() || it->second.size != entry.size()
            || !(it->second.lastWrite == entry.lastWriteTime))
            return Differs();
        ++m_files;
        return WalkStep::Continue;
    }

    WalkStep CannotEnter(const WalkPlace&, const std::string&, const FindData&, ChildOpen) override
    {
        return Differs();
    }
    WalkStep CannotList(const std::string&) override { return Differs(); }

    WalkStep Leave(const WalkPlace* parent, const std::string&, const FindData* entry) override
    {
        return !parent || m_counted.dirs.count(entry->fileId) ? WalkStep::Continue : Differs();
    }

    bool Same() const { return m_same && m_files == m_counted.files.size() && m_dirs == m_counted.dirs.size(); }

private:
    WalkStep Differs()
    {
        m_same = false;
        return WalkStep::Stop;
    }

    const CountedEntries& m_counted;
    size_t m_files = 0;
    size_t m_dirs = 0;
    bool m_same = true;
};

DeleteResult Failed(const std::string& root);

// One more failure in a result, reported with the last error.
void FailWith(DeleteResult& out, const std::string& path)
{
    ++out.failures;
    out.result = -1;
    ReportFileError(path, kContextRemoveTree);
}

// The root of a deletion goes last, through the directory that holds it, only if it is still the one
// walked.
void RemoveWalkedRoot(
    std::unique_ptr<DirHandle> dir, const std::string& rootPath, const CommandOptions& options, DeleteResult& out)
{
    FindData entry;
    entry.name = LastComponent(WithoutSeparator(rootPath));
    entry.attributes = kAttrDirectory;
    entry.fileId = dir->Identity().inode;
    auto parent = dir->OpenParent(DirIdentity {});
    dir.reset(); // gives back a lent write bit before the directory goes
    if (!parent || !parent->RemoveSubdirectory(entry, options.clearReadOnly)) {
        ++out.failures;
        out.result = -1;
        ReportFileError(rootPath, kContextRemoveTree);
        return;
    }
    ++out.dirs;
}

DeleteResult Failed(const std::string& root)
{
    ReportFileError(root, kContextRemoveTree);
    DeleteResult out;
    out.result = -1;
    out.failures = 1;
    return out;
}

} // namespace

std::string SystemRootRefusal(const std::string& root)
{
    return root + "  :   システムのルートディレクトリ－は削除出来ません";
}

TreeTotals CountTree(const std::string& start, ListDetail detail)
{
    return CountTree(start, detail, std::stop_token());
}

TreeTotals CountTree(const std::string& start, ListDetail detail, std::stop_token stop)
{
    TreeTotals totals;
    CountVisitor visitor(totals, std::move(stop));
    const std::string root = WithOneSeparator(start);
    const std::string rootEntry = WithoutSeparator(root);
    // A start that is a link is one entry of its own size, never what it points to.
    const uint32_t attributes = root.size() > 3 ? fs().GetAttributes(rootEntry) : kAttrDirectory;
    if (attributes != kInvalidAttributes && (attributes & kAttrReparsePoint)) {
        FindData entry;
        if (FindFileEntry(rootEntry, entry)) {
            visitor.Add(entry);
            return totals;
        }
    }
    auto dir = fs().OpenTreeDirectory(root, detail);
    if (!dir) {
        visitor.Unreadable(root);
        return totals;
    }
    WalkTree(*dir, root, visitor);
    return totals;
}

TreeTotals CountEntry(DirHandle& parent, const FindData& entry)
{
    CountedEntries unused;
    return CountEntry(parent, entry, unused);
}

TreeTotals CountEntry(DirHandle& parent, const FindData& entry, CountedEntries& counted)
{
    TreeTotals totals;
    CountVisitor visitor(totals, {}, IsRealDirectory(entry.attributes) ? &counted : nullptr);
    if (!IsRealDirectory(entry.attributes)) {
        visitor.Add(entry);
        return totals;
    }
    ++totals.dirs;
    ChildOpen status = ChildOpen::Failed;
    if (auto dir = parent.OpenChild(entry, status)) WalkTree(*dir, entry.name + "\\", visitor);
    return totals;
}

DeleteResult DeleteTree(
    const std::string& rootPath, int keepRoot, const CommandOptions& options, DeleteProgress* progress)
{
    // Only ever a directory path with exactly one trailing separator.
    const std::string root = WithOneSeparator(rootPath);
    const std::string rootEntry = WithoutSeparator(root);
    const bool driveRoot = root.size() <= 3;

    // A root that is missing or not a directory is an error, not an empty success.
    const uint32_t rootAttributes = fs().GetAttributes(rootEntry);
    if (rootAttributes == kInvalidAttributes || !(rootAttributes & kAttrDirectory)) {
        if (rootAttributes != kInvalidAttributes) SetLastError(err::PathNotFound);
        return Failed(root);
    }
    if ((rootAttributes & kAttrReparsePoint) && !driveRoot) {
        // Removing a link to a directory removes the link, never what it points to; emptying it would
        // empty what it points to, which lies outside the tree: refused.
        if (keepRoot != 0) {
            AppMessageBox(root + "  :   シンボリックリンクの先は削除しません", kCaptionWarning, kMbOk);
            DeleteResult out;
            out.result = -1;
            out.failures = 1;
            return out;
        }
        if (!fs().DeleteFile(rootEntry)) return Failed(root);
        DeleteResult out;
        out.files = 1;
        return out;
    }

    // Where ReadOnly items go anyway, the listing needs no stat per entry.
    const ListDetail detail = options.clearReadOnly ? ListDetail::KindOnly : ListDetail::Full;
    auto dir = fs().OpenTreeDirectory(root, detail);
    if (!dir) return Failed(root);
    // As rm refuses "/": emptying the whole system is never what was meant.
    if (dir->IsSystemRoot()) {
        AppMessageBox(SystemRootRefusal(root), kCaptionWarning, kMbOk);
        DeleteResult out;
        out.result = -1;
        out.failures = 1;
        return out;
    }

    DeleteResult out;
    DeleteVisitor visitor(options, out, progress);
    if (!WalkTree(*dir, root, visitor)) {
        out.result = -1;
        return out;
    }
    // A kept root may have lost only some of its entries: that is no success.
    if (out.failures > 0) out.result = -1;
    if (keepRoot != 0) return out;

    // The root goes last, through the directory that holds it, only if it is still the one walked.
    if (driveRoot) {
        SetLastError(err::AccessDenied);
        ++out.failures;
        out.result = -1;
        ReportFileError(root, kContextRemoveTree);
        return out;
    }
    RemoveWalkedRoot(std::move(dir), root, options, out);
    return out;
}

DeleteResult DeleteSubtree(
    DirHandle& parent, const FindData& entry, const std::string& pathIn, const CommandOptions& options)
{
    const std::string path = WithOneSeparator(pathIn);
    DeleteResult out;
    if (!IsRealDirectory(entry.attributes)) {
        if (parent.DeleteEntry(entry, options.clearReadOnly))
            out.files = 1;
        else
            FailWith(out, WithoutSeparator(path));
        return out;
    }
    ChildOpen status = ChildOpen::Failed;
    auto dir = parent.OpenChild(entry, status);
    if (!dir) {
        FailWith(out, WithoutSeparator(path));
        return out;
    }
    DeleteVisitor visitor(options, out);
    if (!WalkTree(*dir, path, visitor)) {
        out.result = -1;
        return out;
    }
    FindData walked = entry;
    walked.fileId = dir->Identity().inode;
    dir.reset(); // gives back a lent write bit before the directory goes
    if (!parent.RemoveSubdirectory(walked, options.clearReadOnly)) {
        FailWith(out, path);
        return out;
    }
    ++out.dirs;
    return out;
}

bool StillAsCounted(DirHandle& parent, const FindData& entry, const CountedEntries& counted)
{
    ChildOpen status = ChildOpen::Failed;
    auto dir = parent.OpenChild(entry, status);
    if (!dir) return false;
    SameAsCountedVisitor visitor(counted);
    return WalkTree(*dir, entry.name + "\\", visitor) && visitor.Same();
}

DeleteResult RemoveCounted(DirHandle& parent, const FindData& entry, const std::string& destinationBase,
    const std::string& relativePath, const CountedEntries& counted, const CommandOptions& options,
    const KeepAside& keep, const char* changedText)
{
    DeleteResult out;
    ChildOpen status = ChildOpen::Failed;
    auto dir = parent.OpenChild(entry, status);
    if (!dir) {
        FailWith(out, destinationBase + relativePath);
        return out;
    }
    const Takeable takeable { counted.files, nullptr, &counted.dirs, changedText, changedText, destinationBase, keep };
    MovedDeleteVisitor visitor(options, takeable, out);
    WalkTree(*dir, relativePath, visitor);
    if (out.failures > 0) out.result = -1;
    if (visitor.KeptAnything()) return out;
    FindData walked = entry;
    walked.fileId = dir->Identity().inode;
    dir.reset(); // gives back a lent write bit before the directory goes
    std::string_view self(relativePath);
    while (!self.empty() && self.back() == '\\')
        self.remove_suffix(1);
    if (visitor.RemoveDirectory(parent, walked, ParentWithSeparator(self)))
        ++out.dirs;
    else
        FailWith(out, destinationBase + relativePath);
    return out;
}

} // namespace zelo

namespace zelo {

DeleteResult DeleteMovedSource(std::unique_ptr<DirHandle> root, const std::string& rootPath, int keepRoot,
    const CommandOptions& options, const MovedEntries& moved)
{
    DeleteResult out;
    if (!root || !root->Rewind()) return Failed(rootPath);
    const Takeable takeable { moved.copied, &moved.kept, nullptr, "コピ－していないので削除しません",
        "コピ－した後に変更されたので削除しません", std::string(), KeepAside() };
    MovedDeleteVisitor visitor(options, takeable, out);
    WalkTree(*root, rootPath, visitor);
    if (out.failures > 0) out.result = -1;
    if (keepRoot != 0 || visitor.KeptAnything() || rootPath.size() <= 3) return out;
    RemoveWalkedRoot(std::move(root), rootPath, options, out);
    return out;
}

} // namespace zelo
