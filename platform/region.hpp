// Robust memory mappings of this process: a named region or the shared
// arena of forked tests, each a validated region image (region_image.hpp)
// whose geometry this process keeps in its own memory, so that nothing read
// from the mapping later is trusted for where it lies. The platform
// library's robust calls route through here (sal.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include <vek/vek_status.h>

#include "region_image.hpp"

namespace vek_sal::region {

// A mapping's geometry, as validated when it was made or attached.
struct Mapping {
    unsigned char *base = nullptr;
    std::size_t size = 0;
    std::size_t heap_off = 0;
    std::size_t dir_off = 0;
    std::uint32_t entries = 0;

    Header *header() const { return reinterpret_cast<Header *>(base); }
    void *heap() const { return base + heap_off; }
    std::size_t heap_bytes() const { return size - heap_off; }
    Entry *entry(std::uint32_t i) const { return reinterpret_cast<Entry *>(base + dir_off) + i; }
};

// Holds a mapping's robust lock for a scope. A lock that comes back from a
// dead owner has its heap mended before it is made consistent again.
class Locked {
public:
    explicit Locked(const Mapping &m);
    ~Locked();
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
    bool held() const { return held_; }
    bool took_over() const { return took_over_; }

private:
    const Mapping &m_;
    bool held_ = false;
    bool took_over_ = false;
};

// The mappings this process has attached, for releases and realloc of
// blocks wherever they belong. false when the table is full.
bool enlist(const Mapping *m);
void delist(const Mapping *m);
// The attached mapping whose range holds `p`, or nullptr.
const Mapping *mapping_of(const void *p);
// The attached mapping whose heap holds `p`, or nullptr.
const Mapping *owner_of(const void *p);

// The mapping that serves new robust blocks (the arena of forked tests
// first, then the process's region), or nullptr for private memory.
const Mapping *serving();
void set_arena(const Mapping *m);
// Makes `m` serve the process's robust memory; false when another does.
bool set_current(const Mapping *m);
void clear_current(const Mapping *m);
// Whether a region serves the process's robust memory.
bool has_current();

// Allocation from a mapping under its lock. alloc: nullptr when full.
void *alloc(const Mapping &m, std::size_t size);
// Releases a block of `m`: VEK_ST_SUCCESS, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD
// (the lock came back from a dead owner, the block is released all the
// same) or VEK_ST_INVALID_PARAMETER (not a block of `m`).
vek_st_t release(const Mapping &m, void *block);
// A block of `size` bytes with the old contents, in the same mapping; the
// old block is released. nullptr (the old one untouched) when full.
void *resize(const Mapping &m, void *block, std::size_t size);

// Blocks in use (all processes), and the first broken property or nullptr.
long blocks_in_use(const Mapping &m);
const char *check_locked(const Mapping &m);

} // namespace vek_sal::region
