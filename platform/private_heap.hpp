// A process's private robust memory: blocks from mmap'd areas formatted
// with the robust-memory allocator (robust_heap.hpp), many threads at once.
//
// Each thread keeps a cache of small blocks per size class, filled from and
// given back to the areas in batches under one lock; large blocks come
// from the areas under that lock, very large ones from an area of their
// own. Areas are added as they fill, without a limit.
//
// Sanitizer builds (AddressSanitizer, ThreadSanitizer) and processes run
// with VEK_ROBUST_SYSTEM_HEAP=1 in the environment (valgrind runs) serve
// the blocks from the C library's heap instead, so that those tools see
// every use after release, double release and leak.
#pragma once

#include <cstddef>

namespace vek_sal::private_heap {

// True when private robust blocks come from the C library's heap.
bool system_heap();

// A block of at least `size` bytes (size 0 is taken as 1), nullptr when no
// memory is left.
void *alloc(std::size_t size);

// Releases a block of alloc(). A pointer that is no block in use of the
// private heap (released twice, or never allocated here) ends the process
// with a message on stderr: carrying on would hand one block out twice.
void release(void *block);

// A block of `size` bytes with the contents of `block` up to the smaller
// size, `block` itself when it is large enough already; nullptr (and
// `block` intact) when no memory is left.
void *resize(void *block, std::size_t size);

// The areas themselves, whatever system_heap() says (its tests reach them).
namespace areas {
void *alloc(std::size_t size);
// false: `block` is no block in use of the areas (nothing changes).
bool release(void *block);
void *resize(void *block, std::size_t size);
// The usable size of a block in use, 0 for a pointer the areas do not own.
std::size_t block_size(const void *block);
bool owns(const void *p);
// Gives the calling thread's cached blocks back to the areas.
void flush_thread_cache();
} // namespace areas

} // namespace vek_sal::private_heap
