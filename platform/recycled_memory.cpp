// Per-thread stocks of small blocks, evened out through a depot in batches.
#include "platform/recycled_memory.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
// A block kept in a stock is poisoned, so a use after it was given back is still caught.
#define ZELO_KEPT(block, size) ASAN_POISON_MEMORY_REGION(block, size)
#define ZELO_HANDED(block, size) ASAN_UNPOISON_MEMORY_REGION(block, size)
#else
#define ZELO_KEPT(block, size) ((void)(block), (void)(size))
#define ZELO_HANDED(block, size) ((void)(block), (void)(size))
#endif

namespace zelo::recycled {

namespace {

constexpr std::size_t kGrain = 64; // blocks come in sizes of whole cache lines
constexpr std::size_t kClasses = 16; // up to 1 KiB
constexpr std::size_t kBatch = 32; // blocks moved between a stock and the depot at once
constexpr std::size_t kDepotMost = 4096; // blocks the depot keeps of a size; more go back to the system

std::size_t ClassOf(std::size_t size)
{
    return size == 0 ? 0 : (size - 1) / kGrain;
}

void* NewBlock(std::size_t sizeClass)
{
    return ::operator new((sizeClass + 1) * kGrain);
}

void FreeBlock(void* block, std::size_t sizeClass) noexcept
{
    ZELO_HANDED(block, (sizeClass + 1) * kGrain);
    ::operator delete(block, (sizeClass + 1) * kGrain);
}

struct Depot {
    std::mutex lock;
    std::vector<void*> blocks;
};

// Never destroyed: a thread that ends after the static objects still gives its stock back here.
Depot* Depots()
{
    static Depot* depots = new Depot[kClasses];
    return depots;
}

// Moves up to count blocks from the back of from to the back of to; nothing moves when to has no room.
std::size_t MoveBlocks(std::vector<void*>& from, std::vector<void*>& to, std::size_t count) noexcept
{
    const std::size_t moved = std::min(count, from.size());
    try {
        to.insert(to.end(), from.end() - std::ptrdiff_t(moved), from.end());
    } catch (const std::bad_alloc&) {
        return 0;
    }
    from.resize(from.size() - moved);
    return moved;
}

// Whether this thread's stock is gone: a thread that is ending may still drop an object after it.
thread_local bool t_stockGone = false;

struct Stock {
    std::vector<void*> blocks[kClasses];

    // A thread that ends gives its blocks to the depot.
    ~Stock()
    {
        for (std::size_t c = 0; c < kClasses; ++c)
            Return(c, blocks[c].size());
        t_stockGone = true;
    }

    // Hands count blocks of a size to the depot; what it has no room for goes back to the system.
    void Return(std::size_t c, std::size_t count) noexcept
    {
        std::vector<void*>& mine = blocks[c];
        count = std::min(count, mine.size());
        Depot& depot = Depots()[c];
        {
            std::lock_guard<std::mutex> guard(depot.lock);
            const std::size_t room = kDepotMost - std::min(kDepotMost, depot.blocks.size());
            count -= MoveBlocks(mine, depot.blocks, std::min(count, room));
        }
        for (; count > 0; --count) {
            FreeBlock(mine.back(), c);
            mine.pop_back();
        }
    }

    // Takes a batch from the depot into an empty stock.
    void Refill(std::size_t c) noexcept
    {
        Depot& depot = Depots()[c];
        std::lock_guard<std::mutex> guard(depot.lock);
        MoveBlocks(depot.blocks, blocks[c], kBatch);
    }
};

thread_local Stock t_stock;

} // namespace

void* Allocate(std::size_t size)
{
    const std::size_t c = ClassOf(size);
    if (c >= kClasses) return ::operator new(size);
    if (t_stockGone) return NewBlock(c);
    std::vector<void*>& mine = t_stock.blocks[c];
    if (mine.empty()) t_stock.Refill(c);
    if (mine.empty()) return NewBlock(c);
    void* block = mine.back();
    mine.pop_back();
    ZELO_HANDED(block, (c + 1) * kGrain);
    return block;
}

void Release(void* block, std::size_t size) noexcept
{
    if (!block) return;
    const std::size_t c = ClassOf(size);
    if (c >= kClasses) {
        ::operator delete(block, size);
        return;
    }
    if (t_stockGone) {
        FreeBlock(block, c);
        return;
    }
    std::vector<void*>& mine = t_stock.blocks[c];
    if (mine.size() >= 2 * kBatch) t_stock.Return(c, kBatch);
    try {
        mine.push_back(block);
        ZELO_KEPT(block, (c + 1) * kGrain);
    } catch (const std::bad_alloc&) {
        FreeBlock(block, c);
    }
}

} // namespace zelo::recycled
