// The allocator of robust memory: one layout for a named region, the
// shared arena of forked tests and a process's private robust memory.
//
// An area is a run of bytes the caller maps (shared or private) and formats
// once; every reference stored inside it is an offset from its start, so
// the same area works at any address and nothing read from it is followed
// before it is checked against the area's size. Small blocks come from size
// classes (constant time both ways); larger ones from a path of their own.
//
// The caller serialises every call on one area (a region's robust lock).
// When that lock comes back from a dead owner, the caller runs mend() before
// anything else: a process may die between any two stores of alloc() or
// release(), and mend() turns every such state into a whole area again (a
// block whose allocation the death cut short may stay allocated; nothing is
// handed out twice).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vek_sal::heap {

// Bytes an area needs at least, for its own bookkeeping and one block.
std::size_t min_area_bytes();

// Formats `bytes` bytes at `mem` (16-byte aligned) as an empty area.
// false when `bytes` is below min_area_bytes().
bool format(void *mem, std::size_t bytes);

// A block of at least `size` bytes (16-byte aligned; size 0 is taken as 1),
// or nullptr when the area cannot hold it (the area is unchanged).
void *alloc(void *mem, std::size_t size);

// Up to `n` blocks of one small size (at most the largest size class,
// 2048 bytes) into out[0 ..], taking the free slots of a slab a bitmap word
// at a time; how many it wrote (fewer when the area runs out; 0 for a
// larger size). A death cut short leaves the slots of the word in use.
std::size_t alloc_small_blocks(void *mem, std::size_t size, void **out, std::size_t n);

// Releases a block of the area. false (and nothing changes) when `block`
// is not a block in use of this area.
bool release(void *mem, void *block);

// The usable size of a block in use (at least what was asked for).
std::size_t block_size(const void *mem, const void *block);

// The slot size of a small block starting at `block` in an area of
// `bytes` bytes, or 0 when `block` starts no slot of a slab. It reads no
// slot bitmap, only what stays put while a block of the slab is in use, so
// a thread may ask about a block it holds without the area's lock (whether
// the block is still in use is for release() to tell).
std::size_t slot_size(const void *mem, std::size_t bytes, const void *block);

// Tells whether `p` points into the area's blocks.
bool owns(const void *mem, std::size_t bytes, const void *p);

// The first property of the area that does not hold, or nullptr when it
// is whole. `bytes` is the size the caller mapped: nothing stored in the
// area is trusted beyond it.
const char *check(const void *mem, std::size_t bytes);

// After a dead owner: makes the area whole again (see the file comment).
void mend(void *mem, std::size_t bytes);

struct Stats {
    std::uint64_t used_bytes; // allocated blocks, their headers included
    std::uint64_t free_bytes; // what allocations could still use
    std::uint64_t blocks;     // blocks in use
};
Stats stats(const void *mem);

} // namespace vek_sal::heap
