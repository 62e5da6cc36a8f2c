// The bytes of a robust region: its header, its object directory and where
// its allocator's area lies, with the checks an attacher runs before it
// trusts any of them. Pure functions on memory (no system call), so that
// the named regions, the shared arena of forked tests and the fuzz target
// use one validation.
//
// Layout of a mapping of `size` bytes at address `base`:
//   [0, sizeof(Header))          Header (fixed-width fields first, then the
//                                region's robust process-shared lock)
//   [dir_off, dir_off + entries * sizeof(Entry))   named-object directory
//   [heap_off, size)             the allocator's area (robust_heap.hpp)
// Every reference stored in the region is an offset from its start.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include <vek/vek_status.h>

namespace vek_sal::region {

constexpr std::uint64_t kMagic = 0x314E4745524B4556ull; // "VEKREGN1" in little-endian byte order
constexpr std::uint32_t kLayout = 1;
constexpr std::uint32_t kDirEntries = 64;
constexpr std::size_t kNameMax = 63;
constexpr std::size_t kAlign = 64;

// Architecture ids recorded in a header.
enum Arch : std::uint16_t {
    kArchUnknown = 0,
    kArchX86_64 = 1,
    kArchI386 = 2,
    kArchArm = 3,
    kArchAarch64 = 4,
    kArchS390x = 5,
    kArchPpc64 = 6,
    kArchRiscv64 = 7
};

constexpr Arch this_arch() {
#if defined(__x86_64__)
    return kArchX86_64;
#elif defined(__i386__)
    return kArchI386;
#elif defined(__aarch64__)
    return kArchAarch64;
#elif defined(__arm__)
    return kArchArm;
#elif defined(__s390x__)
    return kArchS390x;
#elif defined(__powerpc64__)
    return kArchPpc64;
#elif defined(__riscv) && __riscv_xlen == 64
    return kArchRiscv64;
#else
    return kArchUnknown;
#endif
}

inline const char *arch_name(std::uint16_t arch) {
    constexpr const char *kNames[] = {"unknown", "x86_64", "i386", "armhf", "aarch64", "s390x", "ppc64", "riscv64"};
    return arch < sizeof kNames / sizeof kNames[0] ? kNames[arch] : "an unknown architecture";
}

enum ByteOrder : std::uint8_t { kLittle = 1, kBig = 2 };
constexpr ByteOrder this_byte_order() { return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? kLittle : kBig; }

// Ready states of a header and of a directory entry.
enum : std::uint32_t { kFree = 0, kMaking = 1, kReady = 2 };

struct alignas(kAlign) Header {
    // Fixed-width fields: the same offsets on every architecture, so that a
    // region made elsewhere is recognised and refused by name.
    std::uint64_t magic;
    std::uint32_t layout;
    std::uint16_t arch;
    std::uint8_t ptr_bits;
    std::uint8_t byte_order;
    std::uint64_t size;     // bytes of the whole region
    std::uint64_t base;     // address it is mapped at in every process
    std::uint64_t heap_off; // the allocator's area: [heap_off, size)
    std::uint64_t dir_off;  // the object directory
    std::uint32_t dir_entries;
    std::uint32_t checksum;           // of every byte above
    std::atomic<std::uint32_t> ready; // kMaking until the creator is done
    std::uint32_t reserved;
    pthread_mutex_t lock; // robust, process-shared: guards heap and directory
};

struct alignas(kAlign) Entry {
    char name[kNameMax + 1];
    std::uint64_t off; // the object, from the region's start
    std::uint64_t size;
    std::atomic<std::uint32_t> state; // kFree, kMaking (claimed, not ready), kReady
    std::uint32_t reserved;
    pthread_mutex_t init; // robust, process-shared: held while the object is initialised
};

constexpr std::size_t round_up(std::size_t n, std::size_t a) { return (n + a - 1) / a * a; }

// FNV-1a of the header's fixed fields.
inline std::uint32_t header_checksum(const Header &h) {
    const auto *p = reinterpret_cast<const unsigned char *>(&h);
    std::uint32_t sum = 2166136261u;
    for (std::size_t i = 0; i < offsetof(Header, checksum); ++i) sum = (sum ^ p[i]) * 16777619u;
    return sum;
}

// Offset of the directory and of the heap for a region with `entries`
// directory entries.
constexpr std::size_t dir_offset() { return round_up(sizeof(Header), kAlign); }
constexpr std::size_t heap_offset(std::uint32_t entries) {
    return round_up(dir_offset() + entries * sizeof(Entry), kAlign);
}

// Writes a complete header, directory and empty heap into `mem` (`size`
// bytes, recorded as mapped at `base`), ready state kMaking. false when the
// size cannot hold them or the lock cannot be made.
bool format(void *mem, std::size_t size, std::uint64_t base, std::uint32_t entries);

// Checks the fixed header fields of a region image of `object_size` bytes
// (what fstat says, or the image's size) that is mapped (or to be mapped)
// at `mapped_at`. 0 or a status, with the cause (no region name) in `why`.
vek_st_t validate(const Header &h, std::uint64_t object_size, std::uint64_t mapped_at, char *why, std::size_t why_len);

// The first property of a validated mapping (header, heap, directory) that
// does not hold, or nullptr. Takes no lock.
const char *check(const void *mem, std::size_t size);

// Checks a directory entry in use against the mapping: its name is
// terminated and valid, its object lies inside the heap.
bool entry_ok(const Entry &e, std::size_t heap_off, std::size_t size);

// A region or object name: 1..63 bytes of [A-Za-z0-9._-], not starting with '.'.
bool name_ok(const char *name);

} // namespace vek_sal::region
