// Work beside the window.
#include "engine/beside_window.h"

#include "engine/messages.h"
#include "platform/errors.h"
#include "platform/filesystem.h"

#include <chrono>
#include <system_error>
#include <utility>

namespace zelo {

// Flushing a large copy can take seconds on a busy disk: it runs beside the window, which keeps
// repainting meanwhile. The last error travels back with the result (it is kept per thread).
bool SyncKeepingWindowAlive(const std::string& path)
{
    std::future<std::pair<bool, uint32_t>> done;
    try {
        done = std::async(std::launch::async, [&path] {
            const bool synced = fs().SyncFileSystem(path);
            return std::make_pair(synced, GetLastError());
        });
    } catch (const std::system_error&) {
        return fs().SyncFileSystem(path); // no thread to be had: the window waits
    }
    while (done.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        ui().ProcessEvents();
    const auto [synced, error] = done.get();
    if (!synced) SetLastError(error);
    return synced;
}

// Flushes the destination once before the result is told, rather than once per file.
void SyncDestination(const std::string& destinationBase, TransferCounts& counts, int& status)
{
    if (counts.createdDirs + counts.newFiles + counts.updatedFiles + counts.deletedFiles + counts.deletedDirs == 0
        || SyncKeepingWindowAlive(destinationBase))
        return;
    const std::string text = FileErrorText(destinationBase, kContextWriteDenied);
    ShowPlainMessage(text);
    counts.problems.push_back(text);
    ++counts.failures;
    if (status == kTransferDone) status = kTransferStoppedByError;
}

} // namespace

namespace {

} // namespace zelo
