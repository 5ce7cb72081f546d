// Runs a step with an ordinary user's permissions. The tests run as root in the build containers,
// and root bypasses the permission checks an ordinary user meets (writing a user attribute of a
// file without write permission, for one).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zelo::test {

// Runs step as an ordinary user and returns its result. As root, the tree below treeRoot is first
// given to the user "nobody" (65534) and the step runs in a child process with that user's ids; the
// step's effects on the files are seen by the caller, its last error is not. As any other user the
// step simply runs. The user must be able to enter treeRoot and every directory on the way to each of
// needs (a program the step runs): a private TMPDIR or a build tree under /root does not let it.
// nullopt when the step could not run as an ordinary user; the running test is then marked skipped
// with the reason.
std::optional<bool> RunAsOrdinaryUser(
    const std::string& treeRoot, const std::function<bool()>& step, const std::vector<std::string>& needs = {});

} // namespace zelo::test
