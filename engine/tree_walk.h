// The one walk over a directory tree that every tree command stands on: depth first, the subdirectory
// found last visited first, without recursion. Each directory is entered from its parent's open handle,
// so the walk never follows a link, never leaves its tree when a directory is swapped mid-walk, and has
// no depth limit. Each walk keeps its own state: walks nest.
#pragma once

#include "platform/dir_handle.h"

#include <memory>
#include <string>
#include <vector>

namespace zelo {

// What a visitor tells the walk after each step.
enum class WalkStep {
    Continue,
    Descend, // (for a subdirectory entry) walk into it later
    Stop, // end the walk now
};

// Where the walk stands: an open directory, its drive path (with its separator) and the visitor's own
// directory paired with it (the destination of a copy), when the visitor keeps one.
// Where the walk stands: an open directory, its drive path (with its separator) and the visitor's own
// directory paired with it (the destination of a copy), when the visitor keeps one. A visitor that hands
// work on to other threads shares the directories through dir and companion: the walk's own stay open as
// long as they are shared; the root and its companion are the caller's, kept open for the whole walk.
struct WalkPlace {
    DirHandle& dir;
    const std::string& path;
    DirHandle* companion;
    std::shared_ptr<DirHandle> shared;
    std::shared_ptr<DirHandle> companionShared;
};

// A directory shared without handing over its ownership: its owner keeps it open for longer than anything
// that shares it.
inline std::shared_ptr<DirHandle> Unowned(DirHandle* dir)
{
    return std::shared_ptr<DirHandle>(std::shared_ptr<DirHandle>(), dir);
}

class TreeVisitor {
public:
    virtual ~TreeVisitor() = default;

    // True: the walk reads a directory's whole listing before any Entry call and hands it to Listed.
    virtual bool WantsWholeListing() const { return false; }
    // The whole listing of a directory (complete false: reading it failed part-way; the last error says why).
    virtual WalkStep Listed(const WalkPlace& at, const std::vector<FindData>& entries, bool complete);
    // The paired directory of a subdirectory about to be walked, opened from its parent's pair.
    virtual WalkStep OpenCompanion(
        DirHandle* parentCompanion, const std::string& path, const FindData& entry, std::unique_ptr<DirHandle>& out);

    // One entry of the directory being listed. Descend puts a subdirectory on the stack of pending ones.
    virtual WalkStep Entry(const WalkPlace& at, const FindData& entry) = 0;
    // A pending subdirectory could not be entered (status; the last error says why). parent holds it.
    virtual WalkStep CannotEnter(
        const WalkPlace& parent, const std::string& path, const FindData& entry, ChildOpen status);
    // Reading a directory's listing failed part-way (the last error says why).
    virtual WalkStep CannotList(const std::string& dirPath);
    // A directory and everything below it have been visited. parent is where the directory is listed and
    // entry its listing there (its fileId is the inode of the directory walked); both null for the root.
    virtual WalkStep Leave(const WalkPlace* parent, const std::string& dirPath, const FindData* entry);
};

// Walks the tree below root, an open directory whose drive path (with its separator) is rootPath;
// rootCompanion is the visitor's directory paired with root, if any. Returns false when the visitor
// stopped the walk, or when the walk lost its place (a directory it came down through was moved away:
// told to the visitor through CannotList).
bool WalkTree(DirHandle& root, const std::string& rootPath, TreeVisitor& visitor, DirHandle* rootCompanion = nullptr);

} // namespace zelo
