#include "platform/recycled_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace zelo {
namespace {

// Blocks made on one thread and given back on another, of every size in use and past the largest kept,
// with threads that end holding blocks: each block is whole while it is held and never handed out twice.
TEST(RecycledMemory, BlocksMadeOnOneThreadAndDroppedOnAnother)
{
    constexpr size_t kSizes[] = { 1, 64, 65, 240, 1024, 1025, 4096 };
    std::mutex lock;
    std::vector<std::pair<void*, size_t>> handed;
    bool overlapped = false;
    for (int round = 0; round < 4; ++round) {
        std::thread maker([&] {
            std::vector<std::pair<void*, size_t>> made;
            for (int i = 0; i < 3000; ++i) {
                const size_t size = kSizes[i % std::size(kSizes)];
                void* block = recycled::Allocate(size);
                std::memset(block, i & 0xff, size);
                made.emplace_back(block, size);
            }
            std::lock_guard<std::mutex> guard(lock);
            handed.insert(handed.end(), made.begin(), made.end());
        });
        maker.join();
        std::thread dropper([&] {
            std::set<uintptr_t> seen;
            for (size_t i = 0; i < handed.size(); ++i) {
                const auto [block, size] = handed[i];
                const auto* bytes = static_cast<const unsigned char*>(block);
                if (bytes[0] != (i % 3000 & 0xff) || bytes[size - 1] != (i % 3000 & 0xff)) overlapped = true;
                if (!seen.insert(reinterpret_cast<uintptr_t>(block)).second) overlapped = true;
            }
            for (const auto& [block, size] : handed)
                recycled::Release(block, size);
            // Some are made again here, from what this thread was given back, and dropped at its end.
            for (int i = 0; i < 100; ++i)
                recycled::Release(recycled::Allocate(240), 240);
        });
        dropper.join();
        handed.clear();
    }
    EXPECT_FALSE(overlapped);
}

} // namespace
} // namespace zelo
