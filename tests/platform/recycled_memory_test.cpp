#include "platform/recycled_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace zelo {
namespace {

// Blocks of sizes in use and past the largest kept, made on one thread and given back on another (which
// ends holding some): each stays whole while held, and none is handed out twice.
TEST(RecycledMemory, BlocksMadeOnOneThreadAndDroppedOnAnother)
{
    constexpr size_t kSizes[] = { 1, 64, 65, 1024, 1025 };
    std::vector<std::pair<void*, size_t>> held;
    for (int round = 0; round < 4; ++round) {
        std::thread([&] {
            for (size_t i = 0; i < 3000; ++i) {
                const size_t size = kSizes[i % std::size(kSizes)];
                held.emplace_back(recycled::Allocate(size), size);
                std::memset(held.back().first, int(i & 0xff), size);
            }
        }).join();
        std::thread([&] {
            std::set<void*> seen;
            for (size_t i = 0; i < held.size(); ++i) {
                const auto* bytes = static_cast<const unsigned char*>(held[i].first);
                EXPECT_EQ(bytes[held[i].second - 1], i & 0xff);
                EXPECT_TRUE(seen.insert(held[i].first).second);
                recycled::Release(held[i].first, held[i].second);
            }
            recycled::Release(recycled::Allocate(64), 64);
        }).join();
        held.clear();
    }
}

} // namespace
} // namespace zelo
