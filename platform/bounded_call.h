// Running a call that may block on a dead network mount with a time limit (internal to platform/).
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace zelo {

// Runs call on its own thread and waits at most limit for its result; nullopt when it did not
// finish in time. A call that never returns keeps its (detached) thread, never the caller.
template <typename T> std::optional<T> runBounded(std::function<T()> call, std::chrono::milliseconds limit)
{
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> result = promise->get_future();
    try {
        std::thread([promise, call = std::move(call)]() { promise->set_value(call()); }).detach();
    } catch (const std::system_error&) {
        return std::nullopt; // no thread to spare: treat as not answering
    }
    if (result.wait_for(limit) != std::future_status::ready) return std::nullopt;
    return result.get();
}

} // namespace zelo
