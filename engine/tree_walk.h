// The one walk over a directory tree that every tree command stands on: depth first, the subdirectory
// found last visited first, without recursion. Each directory is entered from its parent's open handle,
// so the walk never follows a link, never leaves its tree when a directory is swapped mid-walk, and has
// no depth limit. Each walk keeps its own state: walks nest.
#pragma once

#include "platform/dir_handle.h"

#include <functional>
#include <memory>
#include <string>

namespace zelo {

// What a visitor tells the walk after each step.
enum class WalkStep {
    Continue,
    Descend, // (for a subdirectory entry) walk into it later
    Stop, // end the walk now
};

class TreeVisitor {
public:
    virtual ~TreeVisitor() = default;
    // A directory is about to be listed (dirPath is its drive path with its separator).
    virtual WalkStep Enter(DirHandle& dir, const std::string& dirPath)
    {
        (void)dir;
        (void)dirPath;
        return WalkStep::Continue;
    }
    // One entry of the directory being listed. Descend puts a subdirectory on the stack of pending ones.
    virtual WalkStep Entry(DirHandle& dir, const std::string& dirPath, const FindData& entry) = 0;
    // A pending subdirectory could not be entered (status; the last error says why). parent holds it.
    virtual WalkStep CannotEnter(DirHandle& parent, const std::string& path, const FindData& entry, ChildOpen status)
    {
        (void)parent;
        (void)path;
        (void)entry;
        (void)status;
        return WalkStep::Continue;
    }
    // Reading a directory's listing failed part-way (the last error says why).
    virtual WalkStep CannotList(const std::string& dirPath)
    {
        (void)dirPath;
        return WalkStep::Continue;
    }
    // A directory and everything below it have been visited. parent holds it and entry is its listing
    // there (its fileId is the inode of the directory that was walked); both are null for the walk's root.
    virtual WalkStep Leave(DirHandle* parent, const std::string& dirPath, const FindData* entry)
    {
        (void)parent;
        (void)dirPath;
        (void)entry;
        return WalkStep::Continue;
    }
};

// Walks the tree below root, an open directory whose drive path (with its separator) is rootPath.
// Returns false when the visitor stopped the walk, or when the walk lost its place (a directory it
// came down through was moved away: reported to the visitor through CannotList).
bool WalkTree(DirHandle& root, const std::string& rootPath, TreeVisitor& visitor);

// For tests: called with a pending directory's drive path just before the walk enters it (so a test
// can swap that directory for a link at the worst moment). Empty: nothing is called.
void SetWalkHookForTesting(std::function<void(const std::string& path)> hook);

} // namespace zelo
