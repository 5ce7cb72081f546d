// Runs a step in a child process whose system calls of the given numbers fail with one errno, as a
// file system answers that keeps no Unix modes, owners or extended attributes (FAT or exFAT through
// FUSE: ENOSYS, EPERM, EOPNOTSUPP). A seccomp filter does it, so the platform's real calls are tested.
#pragma once

#include <functional>
#include <optional>
#include <vector>

namespace zelo::test {

// The step's result; its effects on the files are seen by the caller. nullopt when no filter could
// be installed (a kernel without seccomp, an unknown architecture).
std::optional<bool> RunWithRefusedCalls(const std::vector<long>& calls, int error, const std::function<bool()>& step);
// The same on a thread of this process that ends with the step, so what the step leaves in memory stays
// and its last error is handed back. A refused close() leaves its descriptor open.
std::optional<bool> RunInThreadWithRefusedCalls(
    const std::vector<long>& calls, int error, const std::function<bool()>& step);

// The calls that change a file's mode, owner or extended attributes.
std::vector<long> MetadataCalls();
// Stands among the calls for an openat that asks for an unnamed file (O_TMPFILE), which a file system
// through FUSE does not make.
constexpr long kUnnamedFileCall = -1;

} // namespace zelo::test
