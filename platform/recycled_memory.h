// Memory for small objects made on one thread and dropped on another at a high rate: a copy's files are
// opened by the thread that moves the bytes and closed by the one that commits. The C library's allocator
// gives a block freed on another thread back to its maker's arena under that arena's lock, one block at a
// time, and the copy threads then queue on those locks. Here a freed block goes to the freeing thread's
// own stock, and the stocks even out through a shared depot in batches.
#pragma once

#include <cstddef>

namespace zelo::recycled {

// A block of at least size bytes; blocks over 1 KiB come from operator new.
void* Allocate(std::size_t size);
// Gives back a block of Allocate(size).
void Release(void* block, std::size_t size) noexcept;

} // namespace zelo::recycled
