// Tree walks without recursion: totals of a tree and its deletion, over one shared stack of directories.
#pragma once

#include "engine/options.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelo {

// Last-in-first-out stack of pending directory paths, each ending with "\".
// It grows as needed: a walk with many pending directories never writes past its storage.
class DirStack {
public:
    void ResetStack();
    int StackCount() const { return static_cast<int>(m_paths.size()); }
    void PushDir(const std::string& path) { m_paths.push_back(path); }
    // The path on top, left on the stack. Empty text when the stack is empty.
    const std::string& TopDir() const;
    // Removes and returns the path on top. Empty text when the stack is empty.
    std::string PopDir();

private:
    std::vector<std::string> m_paths;
};

// The one stack every walk shares; a walk starts with ResetStack, so walks do not nest.
DirStack& dirStack();

// A directory path with exactly one trailing separator ("C:\a\\" -> "C:\a\", "C:\a" -> "C:\a\").
std::string WithOneSeparator(const std::string& directory);

// Counts directories, files and bytes below start (a directory path ending with "\") into
// Main.TreeDirCount, Main.TreeFileCount and Main.TreeByteTotal (single precision). Symbolic links
// are counted as files of their own size and never followed; FIFOs, sockets and devices count as
// files of size 0. Directories that cannot be listed add nothing. exactBytes, when given, receives the
// exact 64-bit sum of the same sizes. Returns 1.
int CountTree(const std::string& start, uint64_t* exactBytes = nullptr);

// Deletes everything below root (a directory path ending with "\") and, when keepRoot is 0, root itself.
// Fills Main.DeletedDirCount and Main.DeletedFileCount. Each file that cannot be deleted is reported and
// skipped; the first directory that cannot be removed is reported and ends the call with -1.
// Symbolic links are deleted as links, never followed; a root that is itself a link is removed as a link
// (keepRoot 0). root is taken with exactly one trailing separator. A missing root is reported, -1.
// Returns 1 on success.
int DeleteTree(const std::string& root, int keepRoot, const CommandOptions& options);

// With clearReadOnly set: a file becomes Archive only (32), a directory Directory only (16), so that
// ReadOnly, Hidden and System items can be deleted; a failure is ignored. Otherwise nothing changes.
void ClearForDelete(const std::string& path, bool isDirectory, const CommandOptions& options);

} // namespace zelo
