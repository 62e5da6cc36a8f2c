// Named robust regions (vek_region.h): POSIX shared-memory objects
// "/vek.<name>" mapped at one fixed address in every process.
//
// Creation and start order: the creator makes the object with
// O_CREAT|O_EXCL and holds flock(LOCK_EX) on it while it sizes, maps and
// formats it; the header's ready state is set last. An attacher takes
// flock(LOCK_SH), so it reads the header only when no creator is at work.
// Whoever holds LOCK_EX and finds the header not ready makes it (again):
// the creator itself, or the next opener after a creator that died midway
// (its flock went with it). Two creators racing end on one region: the
// loser of O_EXCL attaches.
//
// The address is chosen at creation (derived from the name inside a window
// that ASLR and the sanitizers' shadow leave alone, or taken from
// VEK_ROBUST_REGION_BASE) and recorded in the header; it is mapped with
// MAP_FIXED_NOREPLACE (a hint and a comparison where the kernel lacks it)
// and never relocated.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "region.hpp"
#include "robust_heap.hpp"
#include "vek_region.h"

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

struct vek_region {
    vek_sal::region::Mapping map;
    char name[VEK_REGION_NAME_MAX + 1];
    int fd;
    int refs; // opens of this process (under g_open_lock)
};

namespace {

using namespace vek_sal::region;

constexpr std::uint32_t kAllFlags = VEK_REGION_CREATE | VEK_REGION_EXCL | VEK_REGION_GROUP | VEK_REGION_ROBUST;
constexpr int kNotReadyTries = 500; // 2 ms apart: a second for a starting creator
constexpr int kMaxOpen = 16;

thread_local char t_error[320];

std::mutex g_open_lock;
vek_region *g_open[kMaxOpen];

vek_st_t ok() {
    t_error[0] = '\0';
    return VEK_ST_SUCCESS;
}

[[gnu::format(printf, 3, 4)]] vek_st_t fail(vek_st_t st, const char *name, const char *fmt, ...) {
    int n = std::snprintf(t_error, sizeof t_error, "region '%s': ", name != nullptr ? name : "");
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof t_error) n = 0;
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(t_error + n, sizeof t_error - n, fmt, ap);
    va_end(ap);
    return st;
}

vek_st_t sys_fail(const char *name, const char *call) {
    return fail(VEK_ST_NVM_ERROR, name, "%s: %s", call, std::strerror(errno));
}

std::size_t page_size() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

// The window of default addresses: slots no ASLR placement (x86_64,
// aarch64, s390x, armhf, qemu's guests) nor AddressSanitizer's shadow uses.
struct Window {
    std::uint64_t start, slot, slots;
};
constexpr Window kWindow = sizeof(void *) == 8 ? Window{0x200000000000ull, 0x40000000ull, 0x4000} // 16 Ti, 1 Gi slots
                                               : Window{0x50000000ull, 0x4000000ull, 8};          // 512 Mi, 64 Mi slots
// How many slots a creator tries, from the one its name picks.
constexpr std::uint64_t kProbes = kWindow.slots < 64 ? kWindow.slots : 64;

// The slot a name picks.
std::uint64_t name_slot(const char *name) {
    std::uint64_t h = 1469598103934665603ull;
    for (const char *c = name; *c != '\0'; ++c) h = (h ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
    return h % kWindow.slots;
}

// Where a new region goes: VEK_ROBUST_REGION_BASE when set (`*fixed`), or
// the slot its name picks (the creator moves on to the next slots when
// that one is taken in this process).
vek_st_t creation_base(const char *name, std::size_t size, std::uint64_t *base, bool *fixed) {
    const char *env = std::getenv("VEK_ROBUST_REGION_BASE");
    *fixed = env != nullptr && env[0] != '\0';
    if (!*fixed) {
        *base = kWindow.start + name_slot(name) * kWindow.slot;
        return VEK_ST_SUCCESS;
    }
    char *end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(env, &end, 16);
    const std::uint64_t top = sizeof(void *) == 8 ? 0x800000000000ull : 0x100000000ull;
    if (errno != 0 || end == env || *end != '\0' || v == 0 || v % page_size() != 0 || v >= top || size > top - v) {
        return fail(VEK_ST_INVALID_PARAMETER, name, "VEK_ROBUST_REGION_BASE=%s is not a page-aligned address", env);
    }
    *base = v;
    return VEK_ST_SUCCESS;
}

// Maps the object at `base` or fails naming the range (`*taken` then says
// the range was in use, when asked).
vek_st_t map_at(const char *name, int fd, std::uint64_t base, std::size_t size, unsigned char **out,
                bool *taken = nullptr) {
    void *want = reinterpret_cast<void *>(static_cast<std::uintptr_t>(base));
    void *p = mmap(want, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED_NOREPLACE, fd, 0);
    if (p == MAP_FAILED && errno != EEXIST) p = mmap(want, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p != MAP_FAILED && p != want) {
        munmap(p, size);
        p = MAP_FAILED;
        errno = EEXIST;
    }
    if (p == MAP_FAILED) {
        if (errno == EEXIST) {
            if (taken != nullptr) *taken = true;
            return fail(VEK_ST_NVM_ERROR, name, "address range 0x%llx-0x%llx is taken in this process",
                        static_cast<unsigned long long>(base), static_cast<unsigned long long>(base + size));
        }
        return sys_fail(name, "mmap");
    }
    *out = static_cast<unsigned char *>(p);
    return VEK_ST_SUCCESS;
}

// The object's status: a regular shared-memory object of this user (or of
// this group, when made for the group).
vek_st_t check_object(const char *name, int fd, struct stat *st) {
    if (fstat(fd, st) != 0) return sys_fail(name, "fstat");
    if (!S_ISREG(st->st_mode)) return fail(VEK_ST_NVM_ERROR, name, "not a regular shared-memory object");
    const bool mine = st->st_uid == geteuid();
    const bool group = (st->st_mode & 0060) == 0060 && st->st_gid == getegid();
    if (!mine && !group) {
        return fail(VEK_ST_NVM_ERROR, name, "owned by uid %u, not by this user", static_cast<unsigned>(st->st_uid));
    }
    return VEK_ST_SUCCESS;
}

// The header's fixed part as the object holds it, copied out of it.
struct HeaderCopy {
    alignas(Header) unsigned char bytes[sizeof(Header)];
    const Header &h() const { return *reinterpret_cast<const Header *>(bytes); }
};

bool read_header(int fd, std::uint64_t object_size, HeaderCopy *copy) {
    if (object_size < sizeof(Header)) return false;
    return pread(fd, copy->bytes, sizeof copy->bytes, 0) == static_cast<ssize_t>(sizeof copy->bytes);
}

// Whether the header is past its making: ready, or anything but the states
// of a maker at work (the checks then tell what it is).
bool header_ready(const HeaderCopy &c) {
    std::uint32_t ready = 0;
    std::memcpy(&ready, c.bytes + offsetof(Header, ready), sizeof ready);
    return ready != kFree && ready != kMaking;
}

// Makes the region in `fd` (held under LOCK_EX, not ready).
vek_st_t make(const char *name, int fd, std::size_t size, mode_t mode, bool fresh, Mapping *out) {
    std::uint64_t base = 0;
    bool fixed = false;
    if (const vek_st_t st = creation_base(name, size, &base, &fixed)) return st;
    if (fresh && fchmod(fd, mode) != 0) return sys_fail(name, "fchmod");
    if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) return sys_fail(name, "ftruncate");
    unsigned char *mem = nullptr;
    bool taken = false;
    vek_st_t mapped = map_at(name, fd, base, size, &mem, &taken);
    if (!fixed) {
        // Another region of this process (or anything else) in the name's
        // slot: the next free one, recorded in the header like any base.
        const std::uint64_t first = name_slot(name);
        for (std::uint64_t i = 1; mapped != VEK_ST_SUCCESS && taken && i < kProbes; ++i) {
            taken = false;
            base = kWindow.start + (first + i) % kWindow.slots * kWindow.slot;
            mapped = map_at(name, fd, base, size, &mem, &taken);
        }
    }
    if (mapped != VEK_ST_SUCCESS) return mapped;
    if (!format(mem, size, base, kDirEntries)) {
        munmap(mem, size);
        return fail(VEK_ST_NVM_ERROR, name, "the header could not be made");
    }
    reinterpret_cast<Header *>(mem)->ready.store(kReady);
    *out = Mapping{mem, size, heap_offset(kDirEntries), dir_offset(), kDirEntries};
    return VEK_ST_SUCCESS;
}

// Attaches the ready region in `fd` (held under a flock).
vek_st_t attach(const char *name, int fd, std::uint64_t object_size, const HeaderCopy &c, std::size_t want,
                Mapping *out) {
    char why[200];
    const Header &h = c.h();
    if (const vek_st_t st = validate(h, object_size, h.base, why, sizeof why)) return fail(st, name, "%s", why);
    if (want != 0 && want != h.size) {
        return fail(VEK_ST_INVALID_VALUE, name, "exists with %llu bytes, not %zu",
                    static_cast<unsigned long long>(h.size), want);
    }
    if (sizeof(void *) == 4 && h.base + h.size > 0x100000000ull) {
        return fail(VEK_ST_NVM_ERROR, name, "header base 0x%llx outside the address space",
                    static_cast<unsigned long long>(h.base));
    }
    unsigned char *mem = nullptr;
    if (const vek_st_t st = map_at(name, fd, h.base, h.size, &mem)) return st;
    // What the mapping holds is what was read: no maker can run while the
    // caller holds its flock.
    if (validate(*reinterpret_cast<const Header *>(mem), object_size, reinterpret_cast<std::uintptr_t>(mem), why,
                 sizeof why) != VEK_ST_SUCCESS ||
        reinterpret_cast<const Header *>(mem)->ready.load() != kReady) {
        munmap(mem, h.size);
        return fail(VEK_ST_NVM_ERROR, name, "header ready state unknown");
    }
    *out = Mapping{mem, static_cast<std::size_t>(h.size), static_cast<std::size_t>(h.heap_off),
                   static_cast<std::size_t>(h.dir_off), h.dir_entries};
    return VEK_ST_SUCCESS;
}

// One try at opening: VEK_ST_IN_PROGRESS-like retry is told by `retry`.
vek_st_t open_once(const char *name, const char *path, std::size_t size, std::uint32_t flags, bool *retry, int *fd_out,
                   Mapping *out) {
    *retry = false;
    const bool may_create = (flags & VEK_REGION_CREATE) != 0;
    const mode_t mode = (flags & VEK_REGION_GROUP) != 0 ? 0660 : 0600;
    bool fresh = false;
    int fd = shm_open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0 && errno == ENOENT) {
        if (!may_create) return fail(VEK_ST_INVALID_VALUE, name, "does not exist");
        fd = shm_open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST) {
            *retry = true;
            return VEK_ST_INVALID_VALUE;
        }
        fresh = fd >= 0;
    } else if (fd >= 0 && (flags & VEK_REGION_EXCL) != 0) {
        close(fd);
        return fail(VEK_ST_INVALID_VALUE, name, "exists already");
    }
    if (fd < 0) {
        if (errno == ELOOP) return fail(VEK_ST_NVM_ERROR, name, "/dev/shm%s is a symbolic link", path);
        return sys_fail(name, "shm_open");
    }
    const auto give_up = [fd](vek_st_t st) {
        flock(fd, LOCK_UN);
        close(fd);
        return st;
    };
    if (flock(fd, fresh ? LOCK_EX : LOCK_SH) != 0) return give_up(sys_fail(name, "flock"));
    struct stat st {};
    if (const vek_st_t s = check_object(name, fd, &st)) return give_up(s);
    HeaderCopy copy;
    bool ready = read_header(fd, static_cast<std::uint64_t>(st.st_size), &copy) && header_ready(copy);
    if (!ready && !fresh) {
        // Not ready: a creator is still starting, or died midway. Whoever
        // holds the exclusive lock and still finds it so makes it.
        if (flock(fd, LOCK_EX) != 0) return give_up(sys_fail(name, "flock"));
        if (const vek_st_t s = check_object(name, fd, &st)) return give_up(s);
        ready = read_header(fd, static_cast<std::uint64_t>(st.st_size), &copy) && header_ready(copy);
    }
    vek_st_t result = VEK_ST_SUCCESS;
    if (ready) {
        result = attach(name, fd, static_cast<std::uint64_t>(st.st_size), copy, size, out);
    } else if (!may_create) {
        *retry = true;
        result = fail(VEK_ST_INVALID_VALUE, name, "is not ready (its creator is still at work or died)");
    } else {
        result = make(name, fd, size, mode, fresh, out);
    }
    if (result != VEK_ST_SUCCESS) return give_up(result);
    flock(fd, LOCK_UN);
    *fd_out = fd;
    return VEK_ST_SUCCESS;
}

vek_region *find_open(const char *name) {
    for (vek_region *r : g_open) {
        if (r != nullptr && std::strcmp(r->name, name) == 0) return r;
    }
    return nullptr;
}

vek_st_t reopen(vek_region *r, std::size_t size, std::uint32_t flags, vek_region_t **out) {
    if ((flags & VEK_REGION_EXCL) != 0) return fail(VEK_ST_INVALID_VALUE, r->name, "exists already");
    if (size != 0 && size != r->map.size) {
        return fail(VEK_ST_INVALID_VALUE, r->name, "exists with %zu bytes, not %zu", r->map.size, size);
    }
    if ((flags & VEK_REGION_ROBUST) != 0 && !set_current(&r->map)) {
        return fail(VEK_ST_HANDLE_IN_USE, r->name, "another region serves this process's robust memory");
    }
    ++r->refs;
    *out = r;
    return ok();
}

// The handle's directory entry `i` if it is in use and lies inside the
// mapping (under the region lock).
Entry *entry_in_use(const vek_region *r, std::uint32_t i) {
    Entry *e = r->map.entry(i);
    if (e->state.load() == kFree || !entry_ok(*e, r->map.heap_off, r->map.size)) return nullptr;
    return e;
}

vek_st_t check_handle(const vek_region *r) {
    if (r == nullptr) return fail(VEK_ST_INVALID_PARAMETER, "", "null region handle");
    return VEK_ST_SUCCESS;
}

vek_st_t lock_failed(const vek_region *r) { return fail(VEK_ST_NVM_ERROR, r->name, "the region's lock is unusable"); }

// Finds `name` or claims a free entry for it, under the region lock.
vek_st_t claim(vek_region *r, const char *name, std::size_t size, Entry **out, void **obj_out) {
    const Locked lock(r->map);
    if (!lock.held()) return lock_failed(r);
    for (std::uint32_t i = 0; i < r->map.entries; ++i) {
        Entry *e = r->map.entry(i);
        if (e->state.load() == kFree) {
            void *obj = vek_sal::heap::alloc(r->map.heap(), size);
            if (obj == nullptr) return fail(VEK_ST_NO_MEMORY, r->name, "full: no room for object '%s'", name);
            std::memset(obj, 0, size);
            std::memset(e->name, 0, sizeof e->name);
            std::memcpy(e->name, name, std::strlen(name));
            e->size = size;
            e->off = static_cast<std::uint64_t>(static_cast<unsigned char *>(obj) - r->map.base);
            std::atomic_signal_fence(std::memory_order_seq_cst); // the entry whole before its state says so
            e->state.store(kMaking);
            *out = e;
            *obj_out = obj;
            return VEK_ST_SUCCESS;
        }
        if (entry_in_use(r, i) == nullptr) return fail(VEK_ST_NVM_ERROR, r->name, "object directory broken");
        if (std::strcmp(e->name, name) == 0) {
            if (e->size != size) {
                return fail(VEK_ST_INVALID_VALUE, r->name, "object '%s' has %llu bytes, not %zu", name,
                            static_cast<unsigned long long>(e->size), size);
            }
            *out = e;
            *obj_out = r->map.base + e->off; // checked by entry_in_use()
            return VEK_ST_SUCCESS;
        }
    }
    return fail(VEK_ST_NO_MEMORY, r->name, "object directory full (%u entries)", r->map.entries);
}

} // namespace

extern "C" {

VEK_API vek_st_t vek_region_open(const char *name, size_t size, uint32_t flags, vek_region_t **out) {
    if (!name_ok(name)) return fail(VEK_ST_INVALID_PARAMETER, name, "invalid region name");
    if (out == nullptr) return fail(VEK_ST_INVALID_PARAMETER, name, "null handle pointer");
    if ((flags & ~kAllFlags) != 0) return fail(VEK_ST_INVALID_PARAMETER, name, "unknown flags 0x%x", flags);
    std::size_t want = size;
    if ((flags & VEK_REGION_CREATE) != 0) {
        if (size < VEK_REGION_MIN_SIZE) {
            return fail(VEK_ST_INVALID_PARAMETER, name, "size %zu below the smallest region (%u bytes)", size,
                        VEK_REGION_MIN_SIZE);
        }
        if (size > (sizeof(void *) == 8 ? (1ull << 40) : (1ull << 30))) {
            return fail(VEK_ST_INVALID_PARAMETER, name, "size %zu too large", size);
        }
        want = round_up(size, page_size());
    } else if (size != 0) {
        want = round_up(size, page_size());
    }
    const std::lock_guard<std::mutex> guard(g_open_lock);
    if (vek_region *r = find_open(name)) return reopen(r, want, flags, out);
    int slot = 0;
    while (slot < kMaxOpen && g_open[slot] != nullptr) ++slot;
    if (slot == kMaxOpen) return fail(VEK_ST_NO_MEMORY, name, "too many regions open in this process");
    // Refused before anything is made or mapped (set_current() below still
    // settles a race with the environment's region).
    if ((flags & VEK_REGION_ROBUST) != 0 && has_current()) {
        return fail(VEK_ST_HANDLE_IN_USE, name, "another region serves this process's robust memory");
    }
    char path[VEK_REGION_NAME_MAX + 8];
    std::snprintf(path, sizeof path, "/vek.%s", name);
    auto *r = new (std::nothrow) vek_region{};
    if (r == nullptr) return fail(VEK_ST_NO_MEMORY, name, "no memory for the handle");
    std::snprintf(r->name, sizeof r->name, "%s", name);
    vek_st_t st = VEK_ST_SUCCESS;
    for (int tries = 0;; ++tries) {
        bool retry = false;
        st = open_once(name, path, want, flags, &retry, &r->fd, &r->map);
        if (!retry || tries >= kNotReadyTries) break;
        usleep(2000);
    }
    if (st != VEK_ST_SUCCESS) {
        delete r;
        return st;
    }
    if (!enlist(&r->map)) {
        st = fail(VEK_ST_NO_MEMORY, name, "too many mappings in this process");
    } else if ((flags & VEK_REGION_ROBUST) != 0 && !set_current(&r->map)) {
        delist(&r->map);
        st = fail(VEK_ST_HANDLE_IN_USE, name, "another region serves this process's robust memory");
    }
    if (st != VEK_ST_SUCCESS) {
        munmap(r->map.base, r->map.size);
        close(r->fd);
        delete r;
        return st;
    }
    r->refs = 1;
    g_open[slot] = r;
    *out = r;
    return ok();
}

VEK_API vek_st_t vek_region_close(vek_region_t *region) {
    if (region == nullptr) return ok();
    const std::lock_guard<std::mutex> guard(g_open_lock);
    if (--region->refs > 0) return ok();
    for (vek_region *&r : g_open) {
        if (r == region) r = nullptr;
    }
    clear_current(&region->map);
    delist(&region->map);
    munmap(region->map.base, region->map.size);
    close(region->fd);
    delete region;
    return ok();
}

VEK_API vek_st_t vek_region_remove(const char *name) {
    if (!name_ok(name)) return fail(VEK_ST_INVALID_PARAMETER, name, "invalid region name");
    char path[VEK_REGION_NAME_MAX + 8];
    std::snprintf(path, sizeof path, "/vek.%s", name);
    if (shm_unlink(path) != 0) {
        if (errno == ENOENT) return fail(VEK_ST_INVALID_VALUE, name, "does not exist");
        return sys_fail(name, "shm_unlink");
    }
    return ok();
}

VEK_API const char *vek_region_error(void) { return t_error; }

VEK_API vek_region_t *vek_region_current(void) {
    const Mapping *m = serving();
    const std::lock_guard<std::mutex> guard(g_open_lock);
    for (vek_region *r : g_open) {
        if (r != nullptr && &r->map == m) return r;
    }
    return nullptr;
}

VEK_API vek_st_t vek_region_object(vek_region_t *region, const char *name, size_t size, vek_region_init_fn init,
                                   void *ctx, void **out) {
    if (const vek_st_t st = check_handle(region)) return st;
    if (!name_ok(name)) return fail(VEK_ST_INVALID_PARAMETER, region->name, "invalid object name");
    if (size == 0 || out == nullptr) {
        return fail(VEK_ST_INVALID_PARAMETER, region->name, "object '%s': %s", name,
                    size == 0 ? "size 0" : "null result pointer");
    }
    Entry *e = nullptr;
    void *obj = nullptr;
    if (const vek_st_t st = claim(region, name, size, &e, &obj)) return st;
    if (e->state.load() == kReady) {
        *out = obj;
        return ok();
    }
    // Not ready: become its initialiser, or wait for the one at work.
    const int rc = pthread_mutex_lock(&e->init);
    if (rc != 0 && rc != EOWNERDEAD) return lock_failed(region);
    if (rc == EOWNERDEAD) pthread_mutex_consistent(&e->init);
    if (e->state.load() == kReady) {
        pthread_mutex_unlock(&e->init);
        *out = obj;
        return ok();
    }
    if (rc == EOWNERDEAD) std::memset(obj, 0, size); // what the dead initialiser wrote is dropped
    const vek_st_t st = init != nullptr ? init(obj, size, ctx) : VEK_ST_SUCCESS;
    if (st != VEK_ST_SUCCESS) {
        std::memset(obj, 0, size);
        pthread_mutex_unlock(&e->init);
        return fail(st, region->name, "object '%s': its initialiser failed with status %d", name, static_cast<int>(st));
    }
    e->state.store(kReady);
    pthread_mutex_unlock(&e->init);
    *out = obj;
    return ok();
}

VEK_API vek_st_t vek_region_object_find(vek_region_t *region, const char *name, void **out, size_t *size) {
    if (const vek_st_t st = check_handle(region)) return st;
    if (!name_ok(name) || out == nullptr) {
        return fail(VEK_ST_INVALID_PARAMETER, region->name, "%s",
                    out == nullptr ? "null result pointer" : "invalid object name");
    }
    const Locked lock(region->map);
    if (!lock.held()) return lock_failed(region);
    for (std::uint32_t i = 0; i < region->map.entries; ++i) {
        const Entry *e = entry_in_use(region, i);
        if (e == nullptr) break;
        if (std::strcmp(e->name, name) == 0 && e->state.load() == kReady) {
            *out = region->map.base + e->off;
            if (size != nullptr) *size = e->size;
            return ok();
        }
    }
    return fail(VEK_ST_INVALID_VALUE, region->name, "no ready object '%s'", name);
}

VEK_API vek_st_t vek_region_objects(vek_region_t *region, vek_region_object_fn fn, void *ctx) {
    if (const vek_st_t st = check_handle(region)) return st;
    if (fn == nullptr) return fail(VEK_ST_INVALID_PARAMETER, region->name, "null visitor");
    for (std::uint32_t i = 0; i < region->map.entries; ++i) {
        char name[kNameMax + 1];
        void *obj = nullptr;
        std::size_t size = 0;
        int ready = 0;
        {
            const Locked lock(region->map);
            if (!lock.held()) return lock_failed(region);
            const Entry *e = region->map.entry(i);
            if (e->state.load() == kFree) break;
            if (entry_in_use(region, i) == nullptr) {
                return fail(VEK_ST_NVM_ERROR, region->name, "object directory broken at entry %u", i);
            }
            std::memcpy(name, e->name, sizeof name);
            obj = region->map.base + e->off;
            size = e->size;
            ready = e->state.load() == kReady ? 1 : 0;
        }
        if (fn(name, obj, size, ready, ctx) != 0) break;
    }
    return ok();
}

VEK_API vek_st_t vek_region_info(vek_region_t *region, vek_region_info_t *info) {
    if (const vek_st_t st = check_handle(region)) return st;
    if (info == nullptr) return fail(VEK_ST_INVALID_PARAMETER, region->name, "null info pointer");
    vek_region_info_t out{};
    std::snprintf(out.name, sizeof out.name, "%s", region->name);
    out.layout = kLayout;
    out.base = reinterpret_cast<std::uintptr_t>(region->map.base);
    out.size = region->map.size;
    struct stat st {};
    if (fstat(region->fd, &st) == 0) out.mode = st.st_mode & 07777;
    {
        const Locked lock(region->map);
        if (!lock.held()) return lock_failed(region);
        const vek_sal::heap::Stats s = vek_sal::heap::stats(region->map.heap());
        out.usedBytes = s.used_bytes;
        out.freeBytes = s.free_bytes;
        out.blocksInUse = s.blocks;
        for (std::uint32_t i = 0; i < region->map.entries && entry_in_use(region, i) != nullptr; ++i) ++out.objects;
    }
    *info = out;
    return ok();
}

VEK_API vek_st_t vek_region_check(vek_region_t *region, const char **violation) {
    if (const vek_st_t st = check_handle(region)) return st;
    if (violation == nullptr) return fail(VEK_ST_INVALID_PARAMETER, region->name, "null violation pointer");
    *violation = check_locked(region->map);
    return ok();
}

VEK_API vek_st_t vek_region_alloc(vek_region_t *region, size_t size, void **out) {
    if (const vek_st_t st = check_handle(region)) return st;
    if (out == nullptr) return fail(VEK_ST_INVALID_PARAMETER, region->name, "null result pointer");
    void *p = alloc(region->map, size);
    if (p == nullptr) return fail(VEK_ST_NO_MEMORY, region->name, "full: no block of %zu bytes", size);
    *out = p;
    return ok();
}

VEK_API vek_st_t vek_region_free(vek_region_t *region, void *block) {
    if (const vek_st_t st = check_handle(region)) return st;
    if (block == nullptr) return ok();
    if (owner_of(block) != &region->map) {
        return fail(VEK_ST_INVALID_PARAMETER, region->name, "%p is not a block of this region", block);
    }
    const vek_st_t st = release(region->map, block);
    if (st == VEK_ST_INVALID_PARAMETER) {
        return fail(st, region->name, "%p is not a block of this region", block);
    }
    if (st == VEK_ST_PTHREAD_MUTEX_OWNER_DEAD) {
        return fail(st, region->name, "lock taken over from a dead owner; the block is released");
    }
    return st == VEK_ST_SUCCESS ? ok() : lock_failed(region);
}

} // extern "C"

namespace {

// The region the environment names serves the process's robust memory
// from the moment the library is loaded.
bool parse_size(const char *text, std::size_t *out) {
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text) return false;
    unsigned shift = 0;
    if (*end == 'K' || *end == 'k') shift = 10;
    if (*end == 'M' || *end == 'm') shift = 20;
    if (*end == 'G' || *end == 'g') shift = 30;
    if (shift != 0) ++end;
    if (*end != '\0' || v > (~0ull >> shift)) return false;
    v <<= shift;
    if (v > static_cast<std::size_t>(-1)) return false;
    *out = static_cast<std::size_t>(v);
    return true;
}

[[gnu::constructor]] void open_from_environment() {
    const char *name = std::getenv("VEK_ROBUST_REGION");
    if (name == nullptr) return;
    const char *size_text = std::getenv("VEK_ROBUST_REGION_SIZE");
    const char *mode = std::getenv("VEK_ROBUST_REGION_MODE");
    std::size_t size = 64u << 20;
    const char *why = nullptr;
    if (size_text != nullptr && !parse_size(size_text, &size)) why = "VEK_ROBUST_REGION_SIZE is not a size";
    std::uint32_t flags = VEK_REGION_ROBUST;
    if (mode != nullptr && std::strcmp(mode, "group") == 0) {
        flags |= VEK_REGION_GROUP;
    } else if (mode != nullptr && mode[0] != '\0') {
        why = "VEK_ROBUST_REGION_MODE must be 'group'";
    }
    vek_region_t *r = nullptr;
    if (why == nullptr) {
        // Attach whatever size it has, unless a size was asked for; create when absent.
        vek_st_t st = vek_region_open(name, size_text != nullptr ? size : 0, flags, &r);
        if (st == VEK_ST_INVALID_VALUE && r == nullptr) st = vek_region_open(name, size, flags | VEK_REGION_CREATE, &r);
        if (st != VEK_ST_SUCCESS) why = vek_region_error();
    }
    if (why != nullptr) {
        std::fprintf(stderr, "libVekSalIf: VEK_ROBUST_REGION=%s: %s\n", name, why);
        std::exit(70);
    }
}

} // namespace
