// The bytes of a robust region: formatting a fresh image and the checks
// that every field read from one passes before it is used.
#include "region_image.hpp"

#include <cstdio>
#include <cstring>
#include <new>

#include "robust_heap.hpp"

namespace vek_sal::region {

namespace {

bool init_robust_mutex(pthread_mutex_t *m) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    const bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
                    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 && pthread_mutex_init(m, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

bool name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

} // namespace

bool name_ok(const char *name) {
    if (name == nullptr || name[0] == '\0' || name[0] == '.') return false;
    std::size_t n = 0;
    for (; name[n] != '\0'; ++n) {
        if (n >= kNameMax || !name_char(name[n])) return false;
    }
    return true;
}

bool format(void *mem, std::size_t size, std::uint64_t base, std::uint32_t entries) {
    const std::size_t heap_off = heap_offset(entries);
    if (size < heap_off || size - heap_off < heap::min_area_bytes()) return false;
    auto *bytes = static_cast<unsigned char *>(mem);
    std::memset(bytes, 0, heap_off);
    auto *h = new (mem) Header{};
    h->ready.store(kMaking);
    if (!init_robust_mutex(&h->lock)) return false;
    auto *dir = reinterpret_cast<Entry *>(bytes + dir_offset());
    for (std::uint32_t i = 0; i < entries; ++i) {
        new (&dir[i]) Entry{};
        if (!init_robust_mutex(&dir[i].init)) return false;
    }
    if (!heap::format(bytes + heap_off, size - heap_off)) return false;
    h->magic = kMagic;
    h->layout = kLayout;
    h->arch = this_arch();
    h->ptr_bits = sizeof(void *) * 8;
    h->byte_order = this_byte_order();
    h->size = size;
    h->base = base;
    h->heap_off = heap_off;
    h->dir_off = dir_offset();
    h->dir_entries = entries;
    h->checksum = header_checksum(*h);
    return true;
}

vek_st_t validate(const Header &h, std::uint64_t object_size, std::uint64_t mapped_at, char *why, std::size_t why_len) {
    if (object_size < sizeof(Header)) {
        std::snprintf(why, why_len, "the object holds %llu bytes, too few for a header",
                      static_cast<unsigned long long>(object_size));
        return VEK_ST_NVM_ERROR;
    }
    if (h.magic == __builtin_bswap64(kMagic)) {
        std::snprintf(why, why_len, "made with the other byte order (%s-endian), this is %s-endian",
                      this_byte_order() == kLittle ? "big" : "little", this_byte_order() == kLittle ? "little" : "big");
        return VEK_ST_API_NOT_SUPPORTED;
    }
    if (h.magic != kMagic) {
        std::snprintf(why, why_len, "not a region (bad magic)");
        return VEK_ST_NVM_ERROR;
    }
    if (h.layout != kLayout) {
        std::snprintf(why, why_len, "layout version %u, this library reads %u", h.layout, kLayout);
        return VEK_ST_API_NOT_SUPPORTED;
    }
    if (h.byte_order != this_byte_order()) {
        std::snprintf(why, why_len, "byte order mark %u, this is %s-endian", h.byte_order,
                      this_byte_order() == kLittle ? "little" : "big");
        return VEK_ST_API_NOT_SUPPORTED;
    }
    if (h.arch != this_arch() || h.ptr_bits != sizeof(void *) * 8) {
        std::snprintf(why, why_len, "created for %s (%u-bit), this is %s (%u-bit)", arch_name(h.arch),
                      static_cast<unsigned>(h.ptr_bits), arch_name(this_arch()),
                      static_cast<unsigned>(sizeof(void *) * 8));
        return VEK_ST_API_NOT_SUPPORTED;
    }
    if (h.checksum != header_checksum(h)) {
        std::snprintf(why, why_len, "header checksum 0x%08x, its fields give 0x%08x", h.checksum, header_checksum(h));
        return VEK_ST_NVM_ERROR;
    }
    if (h.size != object_size) {
        std::snprintf(why, why_len, "header says %llu bytes, the object holds %llu",
                      static_cast<unsigned long long>(h.size), static_cast<unsigned long long>(object_size));
        return VEK_ST_NVM_ERROR;
    }
    if (h.base == 0 || h.base % 4096 != 0) {
        std::snprintf(why, why_len, "header says base 0x%llx, not a page address",
                      static_cast<unsigned long long>(h.base));
        return VEK_ST_NVM_ERROR;
    }
    if (h.base != mapped_at) {
        std::snprintf(why, why_len, "header says base 0x%llx, mapped at 0x%llx",
                      static_cast<unsigned long long>(h.base), static_cast<unsigned long long>(mapped_at));
        return VEK_ST_NVM_ERROR;
    }
    const std::uint64_t dir_end = h.dir_entries > kDirEntries ? ~0ull : h.dir_off + h.dir_entries * sizeof(Entry);
    if (h.dir_off != dir_offset() || h.dir_entries > kDirEntries || dir_end > h.heap_off ||
        h.heap_off != heap_offset(h.dir_entries) || h.heap_off >= h.size ||
        h.size - h.heap_off < heap::min_area_bytes()) {
        std::snprintf(why, why_len, "offsets outside the mapping (directory %llu x %u, heap at %llu of %llu bytes)",
                      static_cast<unsigned long long>(h.dir_off), h.dir_entries,
                      static_cast<unsigned long long>(h.heap_off), static_cast<unsigned long long>(h.size));
        return VEK_ST_NVM_ERROR;
    }
    why[0] = '\0';
    return VEK_ST_SUCCESS;
}

bool entry_ok(const Entry &e, std::size_t heap_off, std::size_t size) {
    if (std::memchr(e.name, '\0', sizeof e.name) == nullptr || !name_ok(e.name)) return false;
    return e.size != 0 && e.off >= heap_off && e.off < size && e.size <= size - e.off;
}

const char *check(const void *mem, std::size_t size) {
    const auto &h = *static_cast<const Header *>(mem);
    char why[160];
    if (validate(h, size, reinterpret_cast<std::uintptr_t>(mem), why, sizeof why) != VEK_ST_SUCCESS)
        return "region header invalid";
    const std::uint32_t ready = h.ready.load();
    if (ready != kMaking && ready != kReady) return "region ready state unknown";
    const auto *bytes = static_cast<const unsigned char *>(mem);
    if (const char *v = heap::check(bytes + h.heap_off, size - h.heap_off)) return v;
    const auto *dir = reinterpret_cast<const Entry *>(bytes + h.dir_off);
    bool free_seen = false;
    for (std::uint32_t i = 0; i < h.dir_entries; ++i) {
        const std::uint32_t state = dir[i].state.load();
        if (state == kFree) {
            free_seen = true;
            continue;
        }
        if (state != kMaking && state != kReady) return "directory entry state unknown";
        if (free_seen) return "directory entry in use after a free one";
        if (!entry_ok(dir[i], h.heap_off, size)) return "directory entry outside the mapping or badly named";
        if (!heap::owns(bytes + h.heap_off, size - h.heap_off, bytes + dir[i].off))
            return "directory entry not in the heap's blocks";
        for (std::uint32_t j = 0; j < i; ++j) {
            if (std::strcmp(dir[j].name, dir[i].name) == 0) return "directory names an object twice";
        }
    }
    return nullptr;
}

} // namespace vek_sal::region
