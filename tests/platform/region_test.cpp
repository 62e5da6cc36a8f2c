// Named robust regions: opening, creating and attaching; the header
// refusals, each with its status and message; the object's security; named
// objects created exactly once (racing creators, a dying initialiser);
// a full region; removal while in use; and libvekcommon's registries in a
// region, seen from another program.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <vek/vek_rsrc.h>

#include "../../examples/shared_device.h"
#include "../rsrc/process_support.hpp"
#include "region_image.hpp"
#include "region_support.hpp"
#include "vek_saltest.h"
#include "vektest.hpp"

namespace {

using regiontest::Name;
using regiontest::run_role;
using regiontest::region_violation;
using regiontest::wait_status;
namespace img = vek_sal::region;

constexpr std::size_t kSize = 256 * 1024;

// ---- programs run as fresh processes ----------------------------------------

struct Counter {
    std::atomic<uint32_t> inits;
};

vek_st_t count_init(void *obj, size_t, void *ctx) {
    static_cast<Counter *>(ctx)->inits.fetch_add(1);
    std::memcpy(obj, "ready", 6);
    return VEK_ST_SUCCESS;
}

// "race <name>": open (creating), then the object "once", whose initialiser
// counts in the object "count". Exit 0 when both are as expected.
int role_race(const std::vector<std::string> &a) {
    vek_region_t *r = nullptr;
    if (vek_region_open(a[0].c_str(), kSize, VEK_REGION_CREATE, &r) != VEK_ST_SUCCESS) return 10;
    void *count = nullptr;
    void *once = nullptr;
    if (vek_region_object(r, "count", sizeof(Counter), nullptr, nullptr, &count) != VEK_ST_SUCCESS) return 11;
    if (vek_region_object(r, "once", 16, count_init, count, &once) != VEK_ST_SUCCESS) return 12;
    return std::strcmp(static_cast<char *>(once), "ready") == 0 ? 0 : 13;
}

// "die-in-init <name>": starts initialising "obj" and dies inside.
int role_die_in_init(const std::vector<std::string> &a) {
    vek_region_t *r = nullptr;
    if (vek_region_open(a[0].c_str(), 0, 0, &r) != VEK_ST_SUCCESS) return 10;
    void *obj = nullptr;
    vek_region_object(
        r, "obj", 64,
        [](void *o, size_t, void *) -> vek_st_t {
            std::memset(o, 0x5A, 64);
            _exit(42);
        },
        nullptr, &obj);
    return 11;
}

// "rsrc <name>": robust memory comes from the region the environment names;
// finds the handle the parent stored and allocates 4 identifiers of "ports".
int role_rsrc(const std::vector<std::string> &) {
    vek_region_t *r = vek_region_current();
    if (r == nullptr) return 10;
    void *obj = nullptr;
    if (vek_region_object_find(r, "hdl", &obj, nullptr) != VEK_ST_SUCCESS) return 11;
    auto *hdl = static_cast<vek_hdl_t *>(obj);
    vek_rsrc_t *ports = nullptr;
    if (vek_rsrc_find(hdl, 1, "ports", &ports) != VEK_ST_SUCCESS) return 12;
    uint32_t first = 0;
    if (vek_rsrc_allocate(ports, 4, &first) != VEK_ST_SUCCESS) return 13;
    void *mine = nullptr;
    if (vek_nvm_robust_malloc(100, &mine, VEK_NVM_NO_FILL) != VEK_ST_SUCCESS) return 14;
    const uint64_t lo = reinterpret_cast<uintptr_t>(r) != 0 ? 0 : 1; // handle is private; the block is not
    vek_region_info_t info{};
    vek_region_info(r, &info);
    const auto at = reinterpret_cast<uintptr_t>(mine);
    if (lo != 0 || at < info.base || at >= info.base + info.size) return 15;
    return static_cast<int>(first - 0x100);
}

// "attach <name>": attaches and exits with the status of the open.
int role_attach(const std::vector<std::string> &a) {
    vek_region_t *r = nullptr;
    const vek_st_t st = vek_region_open(a[0].c_str(), 0, 0, &r);
    if (st != VEK_ST_SUCCESS) std::fprintf(stderr, "%s\n", vek_region_error());
    return st == VEK_ST_SUCCESS ? 0 : 1;
}

[[gnu::constructor]] void run_role_if_asked() {
    const char *role = std::getenv("VEK_REGION_TEST_ROLE");
    if (role == nullptr) return;
    const std::vector<std::string> args = regiontest::role_args();
    int rc = 100;
    if (std::strcmp(role, "race") == 0) rc = role_race(args);
    if (std::strcmp(role, "die-in-init") == 0) rc = role_die_in_init(args);
    if (std::strcmp(role, "rsrc") == 0) rc = role_rsrc(args);
    if (std::strcmp(role, "attach") == 0) rc = role_attach(args);
    std::fflush(stdout);
    _exit(rc);
}

// ---- helpers -------------------------------------------------------------

// Edits the header of a closed region through a plain mapping of the object
// (anywhere), recomputing the checksum unless told not to.
void edit_header(const Name &n, const std::function<void(img::Header &)> &edit, bool fix_checksum = true) {
    const int fd = open(n.shm_path().c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    void *m = mmap(nullptr, sizeof(img::Header), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(m, MAP_FAILED);
    auto &h = *static_cast<img::Header *>(m);
    edit(h);
    if (fix_checksum) h.checksum = img::header_checksum(h);
    munmap(m, sizeof(img::Header));
    close(fd);
}

vek_region_t *create(const Name &n, uint32_t flags = 0, std::size_t size = kSize) {
    vek_region_t *r = nullptr;
    EXPECT_EQ(vek_region_open(n.c_str(), size, VEK_REGION_CREATE | flags, &r), VEK_ST_SUCCESS) << vek_region_error();
    return r;
}

std::string hex(uint64_t v) { return vektest::format("0x%llx", static_cast<unsigned long long>(v)); }

// ---- open, create, attach ---------------------------------------------------------

TEST(RegionOpen, CreatesThenAttachesAtTheSameAddress) {
    const Name n("open");
    vek_region_t *r = create(n);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(vek_region_error(), "");
    vek_region_info_t info{};
    ASSERT_EQ(vek_region_info(r, &info), VEK_ST_SUCCESS);
    EXPECT_STREQ(info.name, n.c_str());
    EXPECT_EQ(info.layout, img::kLayout);
    EXPECT_EQ(info.size, kSize);
    EXPECT_EQ(info.blocksInUse, 0u);
    EXPECT_EQ(info.objects, 0u);
    EXPECT_EQ(info.mode, 0600u);
    EXPECT_GT(info.freeBytes, kSize / 2);
    EXPECT_EQ(region_violation(r), "");

    // A second open in this process shares the handle; a size must agree.
    vek_region_t *again = nullptr;
    EXPECT_EQ(vek_region_open(n.c_str(), 0, 0, &again), VEK_ST_SUCCESS);
    EXPECT_EQ(again, r);
    EXPECT_EQ(vek_region_open(n.c_str(), kSize * 2, 0, &again), VEK_ST_INVALID_VALUE);
    EXPECT_EQ(vek_region_error(),
              vektest::format("region '%s': exists with %zu bytes, not %zu", n.c_str(), kSize, kSize * 2));
    EXPECT_EQ(vek_region_close(again), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_region_close(r), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_region_close(nullptr), VEK_ST_SUCCESS);

    // Another program attaches; after closing, this one attaches again at the recorded base.
    EXPECT_EQ(wait_status(run_role("attach", {n.c_str()})), 0);
    ASSERT_EQ(vek_region_open(n.c_str(), kSize, 0, &r), VEK_ST_SUCCESS) << vek_region_error();
    vek_region_info_t info2{};
    ASSERT_EQ(vek_region_info(r, &info2), VEK_ST_SUCCESS);
    EXPECT_EQ(info2.base, info.base);
    EXPECT_EQ(vek_region_close(r), VEK_ST_SUCCESS);
}

TEST(RegionOpen, RefusesBadArguments) {
    const Name n("args");
    vek_region_t *r = nullptr;
    const std::string long_name(VEK_REGION_NAME_MAX + 1, 'a');
    const std::string longest(VEK_REGION_NAME_MAX, 'a');
    struct Case {
        const char *name;
        std::size_t size;
        uint32_t flags;
        bool out;
        vek_st_t status;
        const char *why;
    } const cases[] = {
        {nullptr, kSize, VEK_REGION_CREATE, true, VEK_ST_INVALID_PARAMETER, "region '': invalid region name"},
        {"", kSize, VEK_REGION_CREATE, true, VEK_ST_INVALID_PARAMETER, "region '': invalid region name"},
        {".hidden", kSize, VEK_REGION_CREATE, true, VEK_ST_INVALID_PARAMETER, "region '.hidden': invalid region name"},
        {"a/b", kSize, VEK_REGION_CREATE, true, VEK_ST_INVALID_PARAMETER, "region 'a/b': invalid region name"},
        {long_name.c_str(), kSize, VEK_REGION_CREATE, true, VEK_ST_INVALID_PARAMETER, nullptr},
        {n.c_str(), kSize, VEK_REGION_CREATE, false, VEK_ST_INVALID_PARAMETER, "null handle pointer"},
        {n.c_str(), kSize, 0x10, true, VEK_ST_INVALID_PARAMETER, "unknown flags 0x10"},
        {n.c_str(), 0, VEK_REGION_CREATE, true, VEK_ST_INVALID_PARAMETER,
         "size 0 below the smallest region (65536 bytes)"},
        {n.c_str(), VEK_REGION_MIN_SIZE - 1, VEK_REGION_CREATE, true, VEK_ST_INVALID_PARAMETER,
         "size 65535 below the smallest region (65536 bytes)"},
        {n.c_str(), 0, 0, true, VEK_ST_INVALID_VALUE, "does not exist"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name != nullptr ? c.name : "(null)");
        EXPECT_EQ(vek_region_open(c.name, c.size, c.flags, c.out ? &r : nullptr), c.status);
        EXPECT_EQ(r, nullptr);
        if (c.why != nullptr && c.name != nullptr && c.name[0] != '\0' && c.name[0] != '.' &&
            std::strchr(c.name, '/') == nullptr) {
            EXPECT_EQ(vek_region_error(), vektest::format("region '%s': %s", c.name, c.why));
        } else if (c.why != nullptr) {
            EXPECT_STREQ(vek_region_error(), c.why);
        }
    }
    // The longest name is fine.
    ASSERT_EQ(vek_region_open(longest.c_str(), kSize, VEK_REGION_CREATE, &r), VEK_ST_SUCCESS) << vek_region_error();
    vek_region_close(r);
    EXPECT_EQ(vek_region_remove(longest.c_str()), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_region_remove(longest.c_str()), VEK_ST_INVALID_VALUE);
    EXPECT_EQ(vek_region_error(), "region '" + longest + "': does not exist");
    EXPECT_EQ(vek_region_remove("bad/name"), VEK_ST_INVALID_PARAMETER);
}

TEST(RegionOpen, ExclusiveCreationAndTheEnvironmentsBase) {
    const Name n("excl");
    vek_region_t *r = create(n, VEK_REGION_EXCL);
    ASSERT_NE(r, nullptr);
    vek_region_close(r);
    vek_region_t *again = nullptr;
    EXPECT_EQ(vek_region_open(n.c_str(), kSize, VEK_REGION_CREATE | VEK_REGION_EXCL, &again), VEK_ST_INVALID_VALUE);
    EXPECT_EQ(vek_region_error(), vektest::format("region '%s': exists already", n.c_str()));
    EXPECT_EQ(again, nullptr);

    const Name b("base");
    const uint64_t base = sizeof(void *) == 8 ? 0x2f0000000000ull : 0x7c000000ull;
    setenv("VEK_ROBUST_REGION_BASE", hex(base).c_str(), 1);
    r = create(b);
    unsetenv("VEK_ROBUST_REGION_BASE");
    ASSERT_NE(r, nullptr);
    vek_region_info_t info{};
    vek_region_info(r, &info);
    EXPECT_EQ(info.base, base);
    vek_region_close(r);

    const Name bad("badbase");
    setenv("VEK_ROBUST_REGION_BASE", "0x1234", 1);
    EXPECT_EQ(vek_region_open(bad.c_str(), kSize, VEK_REGION_CREATE, &r), VEK_ST_INVALID_PARAMETER);
    unsetenv("VEK_ROBUST_REGION_BASE");
    EXPECT_EQ(vek_region_error(),
              vektest::format("region '%s': VEK_ROBUST_REGION_BASE=0x1234 is not a page-aligned address", bad.c_str()));
}

// Creates region `n`, closes it and gives its base (0 when it failed).
std::uint64_t created_base(const Name &n) {
    vek_region_t *r = create(n);
    if (r == nullptr) return 0;
    vek_region_info_t info{};
    vek_region_info(r, &info);
    vek_region_close(r);
    return info.base;
}

// A page of this process's own at `at` (MAP_FAILED when that is taken).
void *squat_at(std::uint64_t at) {
    return mmap(reinterpret_cast<void *>(at), 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1,
                0);
}

// The message of a create or attach whose range is taken.
std::string taken_message(const Name &n, std::uint64_t base) {
    return vektest::format("region '%s': address range %s-%s is taken in this process", n.c_str(), hex(base).c_str(),
                           hex(base + kSize).c_str());
}

TEST(RegionOpen, TakenAddressRangeIsNamed) {
    const Name n("taken");
    const std::uint64_t base = created_base(n);
    ASSERT_NE(base, 0u);
    // Something else of this process sits where the region belongs.
    void *squat = squat_at(base + 4096);
    ASSERT_NE(squat, MAP_FAILED);
    vek_region_t *r = nullptr;
    EXPECT_EQ(vek_region_open(n.c_str(), 0, 0, &r), VEK_ST_NVM_ERROR);
    EXPECT_EQ(vek_region_error(), taken_message(n, base));
    munmap(squat, 4096);
    ASSERT_EQ(vek_region_open(n.c_str(), 0, 0, &r), VEK_ST_SUCCESS);
    vek_region_close(r);
}

TEST(RegionOpen, ACreatorWhoseSlotIsTakenTakesTheNextAndRecordsIt) {
    const Name n("slot");
    const std::uint64_t base = created_base(n);
    ASSERT_NE(base, 0u);
    ASSERT_EQ(vek_region_remove(n.c_str()), VEK_ST_SUCCESS);
    // Another region of this process (here: a mapping) in the slot the name picks.
    void *squat = squat_at(base);
    ASSERT_NE(squat, MAP_FAILED);
    vek_region_t *r = create(n);
    ASSERT_NE(r, nullptr);
    vek_region_info_t moved{};
    vek_region_info(r, &moved);
    EXPECT_NE(moved.base, base);
    EXPECT_EQ(region_violation(r), "");
    vek_region_close(r);
    // Other programs attach at the recorded base.
    EXPECT_EQ(wait_status(run_role("attach", {n.c_str()})), 0);
    ASSERT_EQ(vek_region_remove(n.c_str()), VEK_ST_SUCCESS);

    // A base the environment fixes is not moved.
    setenv("VEK_ROBUST_REGION_BASE", hex(base).c_str(), 1);
    EXPECT_EQ(vek_region_open(n.c_str(), kSize, VEK_REGION_CREATE, &r), VEK_ST_NVM_ERROR);
    unsetenv("VEK_ROBUST_REGION_BASE");
    EXPECT_EQ(vek_region_error(), taken_message(n, base));
    munmap(squat, 4096);
}

// ---- header refusals ----------------------------------------------------------

TEST(RegionHeader, EachCorruptedFieldIsRefusedByName) {
    const Name n("hdr");
    vek_region_t *r = create(n);
    ASSERT_NE(r, nullptr);
    vek_region_info_t info{};
    vek_region_info(r, &info);
    vek_region_close(r);
    const std::string base = hex(info.base);
    const char *self = img::arch_name(img::this_arch());
    const unsigned bits = sizeof(void *) * 8;
    const bool little = img::this_byte_order() == img::kLittle;
    struct Case {
        const char *what;
        std::function<void(img::Header &)> edit;
        bool fix_checksum;
        vek_st_t status;
        std::string why;
    } const cases[] = {
        {"magic", [](img::Header &h) { h.magic ^= 1; }, true, VEK_ST_NVM_ERROR, "not a region (bad magic)"},
        {"byte order of the magic", [](img::Header &h) { h.magic = __builtin_bswap64(h.magic); }, true,
         VEK_ST_API_NOT_SUPPORTED,
         vektest::format("made with the other byte order (%s-endian), this is %s-endian", little ? "big" : "little",
                         little ? "little" : "big")},
        {"layout", [](img::Header &h) { h.layout = 7; }, true, VEK_ST_API_NOT_SUPPORTED,
         "layout version 7, this library reads 1"},
        {"byte order", [](img::Header &h) { h.byte_order = 9; }, true, VEK_ST_API_NOT_SUPPORTED,
         vektest::format("byte order mark 9, this is %s-endian", little ? "little" : "big")},
        {"architecture",
         [](img::Header &h) {
             h.arch = img::this_arch() == img::kArchArm ? img::kArchX86_64 : img::kArchArm;
             h.ptr_bits = img::this_arch() == img::kArchArm ? 64 : 32;
         },
         true, VEK_ST_API_NOT_SUPPORTED,
         img::this_arch() == img::kArchArm
             ? vektest::format("created for x86_64 (64-bit), this is armhf (32-bit)")
             : vektest::format("created for armhf (32-bit), this is %s (%u-bit)", self, bits)},
        {"pointer width", [](img::Header &h) { h.ptr_bits = 16; }, true, VEK_ST_API_NOT_SUPPORTED,
         vektest::format("created for %s (16-bit), this is %s (%u-bit)", self, self, bits)},
        {"checksum", [](img::Header &h) { h.heap_off += 64; }, false, VEK_ST_NVM_ERROR, ""},
        {"size", [](img::Header &h) { h.size += 4096; }, true, VEK_ST_NVM_ERROR,
         vektest::format("header says %zu bytes, the object holds %zu", kSize + 4096, kSize)},
        {"base", [](img::Header &h) { h.base += 8; }, true, VEK_ST_NVM_ERROR,
         "header says base " + hex(info.base + 8) + ", not a page address"},
        {"directory offset", [](img::Header &h) { h.dir_off = kSize; }, true, VEK_ST_NVM_ERROR,
         vektest::format("offsets outside the mapping (directory %zu x %u, heap at %zu of %zu bytes)", kSize,
                         img::kDirEntries, img::heap_offset(img::kDirEntries), kSize)},
        {"directory entries", [](img::Header &h) { h.dir_entries = 1u << 30; }, true, VEK_ST_NVM_ERROR,
         vektest::format("offsets outside the mapping (directory %zu x %u, heap at %zu of %zu bytes)",
                         img::dir_offset(), 1u << 30, img::heap_offset(img::kDirEntries), kSize)},
        {"heap offset", [](img::Header &h) { h.heap_off = kSize + 64; }, true, VEK_ST_NVM_ERROR,
         vektest::format("offsets outside the mapping (directory %zu x %u, heap at %zu of %zu bytes)",
                         img::dir_offset(), img::kDirEntries, kSize + 64, kSize)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // Each case starts from the whole header.
        alignas(img::Header) unsigned char saved[sizeof(img::Header)];
        edit_header(
            n, [&](img::Header &h) { std::memcpy(saved, static_cast<const void *>(&h), sizeof saved); }, false);
        edit_header(n, c.edit, c.fix_checksum);
        EXPECT_EQ(vek_region_open(n.c_str(), 0, 0, &r), c.status);
        if (c.why.empty()) {
            EXPECT_EQ(
                std::string(vek_region_error()).rfind(vektest::format("region '%s': header checksum 0x", n.c_str()), 0),
                0u)
                << vek_region_error();
        } else {
            EXPECT_EQ(vek_region_error(), vektest::format("region '%s': ", n.c_str()) + c.why);
        }
        edit_header(
            n, [&](img::Header &h) { std::memcpy(static_cast<void *>(&h), saved, sizeof saved); }, false);
    }
    ASSERT_EQ(vek_region_open(n.c_str(), 0, 0, &r), VEK_ST_SUCCESS) << vek_region_error();
    vek_region_close(r);

    // The object grown behind the header's back.
    ASSERT_EQ(truncate(n.shm_path().c_str(), kSize * 2), 0);
    EXPECT_EQ(vek_region_open(n.c_str(), 0, 0, &r), VEK_ST_NVM_ERROR);
    EXPECT_EQ(vek_region_error(),
              vektest::format("region '%s': header says %zu bytes, the object holds %zu", n.c_str(), kSize, kSize * 2));
    (void)base;
}

// ---- creation race and dead creators ----------------------------------------

TEST(RegionCreate, RacingProgramsEndOnOneRegionAndOneInitialisation) {
    const Name n("race");
    constexpr int kPrograms = 8;
    std::vector<pid_t> pids;
    for (int i = 0; i < kPrograms; ++i) pids.push_back(run_role("race", {n.c_str()}));
    for (pid_t p : pids) EXPECT_EQ(wait_status(p), 0);
    vek_region_t *r = nullptr;
    ASSERT_EQ(vek_region_open(n.c_str(), 0, 0, &r), VEK_ST_SUCCESS) << vek_region_error();
    void *count = nullptr;
    size_t size = 0;
    ASSERT_EQ(vek_region_object_find(r, "count", &count, &size), VEK_ST_SUCCESS);
    EXPECT_EQ(size, sizeof(Counter));
    EXPECT_EQ(static_cast<Counter *>(count)->inits.load(), 1u);
    vek_region_close(r);
}

TEST(RegionCreate, CreatorThatDiedMidwayIsTakenOver) {
    const Name n("deadmaker");
    // What a creator leaves when it dies after O_EXCL: an object, no header.
    const int fd = open(n.shm_path().c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 4096), 0);
    close(fd);
    vek_region_t *r = nullptr;
    EXPECT_EQ(vek_region_open(n.c_str(), 0, 0, &r), VEK_ST_INVALID_VALUE); // no creator: gives up after a while
    EXPECT_EQ(vek_region_error(),
              vektest::format("region '%s': is not ready (its creator is still at work or died)", n.c_str()));
    ASSERT_EQ(vek_region_open(n.c_str(), kSize, VEK_REGION_CREATE, &r), VEK_ST_SUCCESS) << vek_region_error();
    EXPECT_EQ(region_violation(r), "");
    vek_region_close(r);
    EXPECT_EQ(wait_status(run_role("attach", {n.c_str()})), 0);
}

// ---- security ------------------------------------------------------------------

TEST(RegionSecurity, ModeBitsIgnoreTheUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{077}, mode_t{022}}) {
        for (const bool group : {false, true}) {
            SCOPED_TRACE(vektest::format("umask %03o group %d", static_cast<unsigned>(mask), group));
            const Name n("mode");
            const mode_t old = umask(mask);
            vek_region_t *r = create(n, group ? VEK_REGION_GROUP : 0);
            umask(old);
            ASSERT_NE(r, nullptr);
            struct stat st {};
            ASSERT_EQ(stat(n.shm_path().c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, group ? 0660u : 0600u);
            vek_region_info_t info{};
            vek_region_info(r, &info);
            EXPECT_EQ(info.mode, group ? 0660u : 0600u);
            vek_region_close(r);
        }
    }
}

TEST(RegionSecurity, SymbolicLinksAndOtherObjectsAreRefused) {
    const Name target("target");
    const Name link("link");
    vek_region_t *r = create(target);
    ASSERT_NE(r, nullptr);
    vek_region_close(r);
    ASSERT_EQ(symlink(target.shm_path().c_str(), link.shm_path().c_str()), 0);
    EXPECT_EQ(vek_region_open(link.c_str(), 0, 0, &r), VEK_ST_NVM_ERROR);
    EXPECT_EQ(vek_region_error(),
              vektest::format("region '%s': /dev/shm/vek.%s is a symbolic link", link.c_str(), link.c_str()));
    EXPECT_EQ(vek_region_open(link.c_str(), kSize, VEK_REGION_CREATE, &r), VEK_ST_NVM_ERROR);
    unlink(link.shm_path().c_str());

    const Name dir("dir");
    ASSERT_EQ(mkdir(dir.shm_path().c_str(), 0700), 0);
    EXPECT_EQ(vek_region_open(dir.c_str(), 0, 0, &r), VEK_ST_NVM_ERROR);
    EXPECT_EQ(vek_region_error(), vektest::format("region '%s': shm_open: %s", dir.c_str(),
                                                  std::strerror(EINVAL))); // glibc says EINVAL for a directory
    rmdir(dir.shm_path().c_str());

    // A region of another byte layout is not read past its fixed fields.
    const Name junk("junk");
    const int fd = open(junk.shm_path().c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    const std::vector<unsigned char> noise(kSize, 0xEE);
    ASSERT_EQ(write(fd, noise.data(), noise.size()), static_cast<ssize_t>(noise.size()));
    close(fd);
    EXPECT_EQ(vek_region_open(junk.c_str(), 0, 0, &r), VEK_ST_NVM_ERROR);
    EXPECT_EQ(vek_region_error(), vektest::format("region '%s': not a region (bad magic)", junk.c_str()));
    vek_region_remove(junk.c_str());
}

// ---- named objects -------------------------------------------------------------

TEST(RegionObjects, CreatedOnceFoundAndListed) {
    const Name n("objs");
    vek_region_t *r = create(n);
    ASSERT_NE(r, nullptr);
    Counter counter{};
    void *a = nullptr;
    void *b = nullptr;
    ASSERT_EQ(vek_region_object(r, "alpha", 16, count_init, &counter, &a), VEK_ST_SUCCESS);
    ASSERT_EQ(vek_region_object(r, "alpha", 16, count_init, &counter, &b), VEK_ST_SUCCESS);
    EXPECT_EQ(a, b);
    EXPECT_EQ(counter.inits.load(), 1u);
    EXPECT_STREQ(static_cast<char *>(a), "ready");
    void *z = nullptr;
    ASSERT_EQ(vek_region_object(r, "zeroed", 100, nullptr, nullptr, &z), VEK_ST_SUCCESS);
    EXPECT_TRUE(std::all_of(static_cast<char *>(z), static_cast<char *>(z) + 100, [](char c) { return c == 0; }));

    EXPECT_EQ(vek_region_object(r, "alpha", 17, nullptr, nullptr, &b), VEK_ST_INVALID_VALUE);
    EXPECT_EQ(vek_region_error(), vektest::format("region '%s': object 'alpha' has 16 bytes, not 17", n.c_str()));
    EXPECT_EQ(vek_region_object(r, "bad name", 8, nullptr, nullptr, &b), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_region_object(r, "ok", 0, nullptr, nullptr, &b), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_region_object(nullptr, "ok", 8, nullptr, nullptr, &b), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_region_object(r, "ok", 8, nullptr, nullptr, nullptr), VEK_ST_INVALID_PARAMETER);

    // An initialiser's failure leaves the object to the next caller.
    const auto failing = [](void *o, size_t, void *) -> vek_st_t {
        std::memset(o, 1, 8);
        return VEK_ST_NO_MEMORY;
    };
    EXPECT_EQ(vek_region_object(r, "later", 8, failing, nullptr, &b), VEK_ST_NO_MEMORY);
    EXPECT_EQ(vek_region_object_find(r, "later", &b, nullptr), VEK_ST_INVALID_VALUE);
    EXPECT_EQ(vek_region_error(), vektest::format("region '%s': no ready object 'later'", n.c_str()));
    ASSERT_EQ(vek_region_object(r, "later", 8, nullptr, nullptr, &b), VEK_ST_SUCCESS);
    EXPECT_EQ(*static_cast<uint64_t *>(b), 0u);

    size_t size = 0;
    ASSERT_EQ(vek_region_object_find(r, "zeroed", &b, &size), VEK_ST_SUCCESS);
    EXPECT_EQ(b, z);
    EXPECT_EQ(size, 100u);

    std::vector<std::string> seen;
    const auto visit = [](const char *name, void *, size_t sz, int ready, void *ctx) {
        static_cast<std::vector<std::string> *>(ctx)->push_back(vektest::format("%s %zu %d", name, sz, ready));
        return 0;
    };
    ASSERT_EQ(vek_region_objects(r, visit, &seen), VEK_ST_SUCCESS);
    EXPECT_EQ(seen, (std::vector<std::string>{"alpha 16 1", "zeroed 100 1", "later 8 1"}));
    EXPECT_EQ(vek_region_objects(r, nullptr, nullptr), VEK_ST_INVALID_PARAMETER);
    vek_region_info_t info{};
    vek_region_info(r, &info);
    EXPECT_EQ(info.objects, 3u);
    EXPECT_EQ(info.blocksInUse, 3u);
    EXPECT_EQ(region_violation(r), "");
    vek_region_close(r);
}

TEST(RegionObjects, RacingThreadsInitialiseOnce) {
    const Name n("threads");
    vek_region_t *r = create(n);
    ASSERT_NE(r, nullptr);
    Counter counter{};
    std::atomic<int> failures{0};
    std::vector<void *> got(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            if (vek_region_object(
                    r, "shared", 32,
                    [](void *o, size_t s, void *ctx) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                        return count_init(o, s, ctx);
                    },
                    &counter, &got[i]) != VEK_ST_SUCCESS)
                failures.fetch_add(1);
        });
    }
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(counter.inits.load(), 1u);
    for (void *p : got) EXPECT_EQ(p, got[0]);
    vek_region_close(r);
}

TEST(RegionObjects, ADyingInitialiserLeavesItToTheNext) {
    if (!proctest::robust_mutexes_work()) GTEST_SKIP() << "robust mutexes do not report dead owners here";
    const Name n("dying");
    vek_region_t *r = create(n);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(wait_status(run_role("die-in-init", {n.c_str()})), 42);
    std::vector<std::string> seen;
    vek_region_objects(
        r,
        [](const char *name, void *, size_t, int ready, void *ctx) {
            static_cast<std::vector<std::string> *>(ctx)->push_back(vektest::format("%s %d", name, ready));
            return 0;
        },
        &seen);
    EXPECT_EQ(seen, std::vector<std::string>{"obj 0"});
    bool zeroed = false;
    void *obj = nullptr;
    ASSERT_EQ(vek_region_object(
                  r, "obj", 64,
                  [](void *o, size_t s, void *ctx) -> vek_st_t {
                      const auto *c = static_cast<const unsigned char *>(o);
                      *static_cast<bool *>(ctx) = std::all_of(c, c + s, [](unsigned char b) { return b == 0; });
                      return VEK_ST_SUCCESS;
                  },
                  &zeroed, &obj),
              VEK_ST_SUCCESS);
    EXPECT_TRUE(zeroed);
    ASSERT_EQ(vek_region_object_find(r, "obj", &obj, nullptr), VEK_ST_SUCCESS);
    vek_region_close(r);
}

TEST(RegionObjects, DirectoryFull) {
    const Name n("dirfull");
    vek_region_t *r = create(n);
    ASSERT_NE(r, nullptr);
    void *o = nullptr;
    for (uint32_t i = 0; i < img::kDirEntries; ++i) {
        ASSERT_EQ(vek_region_object(r, vektest::format("o%u", i).c_str(), 8, nullptr, nullptr, &o), VEK_ST_SUCCESS);
    }
    EXPECT_EQ(vek_region_object(r, "onemore", 8, nullptr, nullptr, &o), VEK_ST_NO_MEMORY);
    EXPECT_EQ(vek_region_error(),
              vektest::format("region '%s': object directory full (%u entries)", n.c_str(), img::kDirEntries));
    EXPECT_EQ(vek_region_object(r, "o5", 8, nullptr, nullptr, &o), VEK_ST_SUCCESS);
    vek_region_close(r);
}

// ---- blocks, a full region, removal ----------------------------------------------

TEST(RegionBlocks, FullRegionChangesNothing) {
    const Name n("full");
    vek_region_t *r = create(n, 0, VEK_REGION_MIN_SIZE);
    ASSERT_NE(r, nullptr);
    std::vector<void *> blocks;
    void *p = nullptr;
    while (vek_region_alloc(r, 1000, &p) == VEK_ST_SUCCESS) blocks.push_back(p);
    EXPECT_GT(blocks.size(), 20u);
    EXPECT_EQ(vek_region_error(), vektest::format("region '%s': full: no block of 1000 bytes", n.c_str()));
    vek_region_info_t before{};
    vek_region_info(r, &before);
    EXPECT_EQ(vek_region_alloc(r, 1000, &p), VEK_ST_NO_MEMORY);
    vek_region_info_t after{};
    vek_region_info(r, &after);
    EXPECT_EQ(after.usedBytes, before.usedBytes);
    EXPECT_EQ(after.blocksInUse, blocks.size());
    int local = 0;
    EXPECT_EQ(vek_region_free(r, &local), VEK_ST_INVALID_PARAMETER);
    EXPECT_EQ(vek_region_free(r, nullptr), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_region_alloc(r, 8, nullptr), VEK_ST_INVALID_PARAMETER);
    for (void *b : blocks) EXPECT_EQ(vek_region_free(r, b), VEK_ST_SUCCESS);
    vek_region_info(r, &after);
    EXPECT_EQ(after.blocksInUse, 0u);
    EXPECT_EQ(region_violation(r), "");
    vek_region_close(r);
}

TEST(RegionBlocks, RemovedWhileInUseKeepsWorking) {
    const Name n("removed");
    vek_region_t *r = create(n);
    ASSERT_NE(r, nullptr);
    void *p = nullptr;
    ASSERT_EQ(vek_region_alloc(r, 64, &p), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_region_remove(n.c_str()), VEK_ST_SUCCESS);
    EXPECT_EQ(wait_status(run_role("attach", {n.c_str()})), 1);
    void *q = nullptr;
    ASSERT_EQ(vek_region_alloc(r, 64, &q), VEK_ST_SUCCESS);
    std::memset(q, 7, 64);
    EXPECT_EQ(vek_region_free(r, p), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_region_free(r, q), VEK_ST_SUCCESS);
    vek_region_close(r);
}

// ---- robust memory through a region -----------------------------------------------

TEST(RegionRouting, RegistriesInARegionAreSharedWithAnotherProgram) {
    const Name n("rsrc");
    const long live = vek_saltest_robust_live();
    vek_region_t *r = create(n, VEK_REGION_ROBUST);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(vek_region_current(), r);
    vek_region_t *other = nullptr;
    const Name n2("rsrc2");
    EXPECT_EQ(vek_region_open(n2.c_str(), kSize, VEK_REGION_CREATE | VEK_REGION_ROBUST, &other), VEK_ST_HANDLE_IN_USE);
    EXPECT_EQ(vek_region_error(),
              vektest::format("region '%s': another region serves this process's robust memory", n2.c_str()));
    EXPECT_EQ(other, nullptr);
    EXPECT_NE(access(n2.shm_path().c_str(), F_OK), 0) << "a refused open made the region";

    vek_hdl_t *hdl = nullptr;
    ASSERT_EQ(vek_shared_device(r, "hdl", &hdl), VEK_ST_SUCCESS);
    vek_rsrc_t *ports = nullptr;
    ASSERT_EQ(vek_rsrc_create(hdl, 1, "ports", 64, 0x100, &ports), VEK_ST_SUCCESS);
    uint32_t first = 0;
    ASSERT_EQ(vek_rsrc_allocate(ports, 4, &first), VEK_ST_SUCCESS);
    EXPECT_EQ(first, 0x100u);
    vek_region_info_t info{};
    vek_region_info(r, &info);
    const auto at = reinterpret_cast<uintptr_t>(ports);
    EXPECT_TRUE(at >= info.base && at < info.base + info.size);

    // Another program, given the region by its environment, allocates the next 4.
    EXPECT_EQ(wait_status(run_role("rsrc", {}, {"VEK_ROBUST_REGION=" + std::string(n.c_str())})), 4);
    ASSERT_EQ(vek_rsrc_allocate(ports, 4, &first), VEK_ST_SUCCESS);
    EXPECT_EQ(first, 0x108u);

    // Private blocks made before stay private and are released where they belong.
    EXPECT_EQ(vek_rsrc_release(hdl), VEK_ST_SUCCESS);
    vek_region_close(r);
    EXPECT_EQ(vek_region_current(), nullptr);
    EXPECT_EQ(vek_saltest_robust_live(), live + 0);
}

TEST(RegionRouting, FullRegionFailsARobustAllocationAndAMisconfiguredEnvironmentEndsTheProgram) {
    const Name n("robustfull");
    vek_region_t *r = create(n, VEK_REGION_ROBUST, VEK_REGION_MIN_SIZE);
    ASSERT_NE(r, nullptr);
    const long live = vek_saltest_robust_live();
    void *p = nullptr;
    EXPECT_EQ(vek_nvm_robust_malloc(VEK_REGION_MIN_SIZE, &p, VEK_NVM_NO_FILL), VEK_ST_NO_MEMORY);
    EXPECT_EQ(vek_saltest_robust_live(), live);
    ASSERT_EQ(vek_nvm_robust_malloc(64, &p, VEK_NVM_ZERO_FILL), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_saltest_robust_live(), live + 1);
    void *q = nullptr;
    ASSERT_EQ(vek_nvm_robust_realloc(p, 128, &q), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_nvm_robust_free(&q), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_saltest_robust_live(), live);
    vek_region_close(r);

    // A region the environment names that cannot be opened: exit 70.
    EXPECT_EQ(wait_status(run_role("attach", {n.c_str()}, {"VEK_ROBUST_REGION=bad/name"})), 70);
    EXPECT_EQ(wait_status(run_role("attach", {n.c_str()},
                                   {"VEK_ROBUST_REGION=" + std::string(n.c_str()), "VEK_ROBUST_REGION_SIZE=12Q"})),
              70);
}

TEST(RegionRouting, FreeAfterADeadLockOwnerSays8000) {
    if (!proctest::robust_mutexes_work()) GTEST_SKIP() << "robust mutexes do not report dead owners here";
    const Name n("deadlock");
    vek_region_t *r = create(n, VEK_REGION_ROBUST);
    ASSERT_NE(r, nullptr);
    void *p = nullptr;
    ASSERT_EQ(vek_nvm_robust_malloc(64, &p, VEK_NVM_NO_FILL), VEK_ST_SUCCESS);
    vek_region_info_t info{};
    vek_region_info(r, &info);
    auto *h = reinterpret_cast<img::Header *>(info.base);
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        pthread_mutex_lock(&h->lock);
        _exit(0);
    }
    ASSERT_EQ(wait_status(pid), 0);
    EXPECT_EQ(vek_nvm_robust_free(&p), VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    EXPECT_EQ(p, nullptr);
    ASSERT_EQ(vek_nvm_robust_malloc(64, &p, VEK_NVM_NO_FILL), VEK_ST_SUCCESS);
    EXPECT_EQ(vek_nvm_robust_free(&p), VEK_ST_SUCCESS);
    vek_region_close(r);
}

// A forked child ends at each platform call of a registry create and
// destroy in turn (before or after its work); each time the region stays
// whole and serves the parent.
TEST(RegionRouting, DeathAtEveryPlatformCallLeavesTheRegionWhole) {
    if (!proctest::robust_mutexes_work()) GTEST_SKIP() << "robust mutexes do not report dead owners here";
    const Name n("deathpoints");
    vek_region_t *r = create(n, VEK_REGION_ROBUST, 1u << 20);
    ASSERT_NE(r, nullptr);
    vek_hdl_t *hdl = nullptr;
    ASSERT_EQ(vek_shared_device(r, "hdl", &hdl), VEK_ST_SUCCESS);
    constexpr int kDied = 86;
    for (const int when : {VEK_SALTEST_DIE_BEFORE, VEK_SALTEST_DIE_AFTER}) {
        bool finished = false;
        for (uint32_t nth = 1; !finished && nth < 400; ++nth) {
            SCOPED_TRACE(vektest::format("call %u, %s", nth, when == VEK_SALTEST_DIE_BEFORE ? "before" : "after"));
            std::fflush(stdout);
            const pid_t pid = fork();
            if (pid == 0) {
                vek_saltest_die_at(nth, when, kDied);
                vek_rsrc_t *res = nullptr;
                vek_st_t st = vek_rsrc_create(hdl, 2, "victim", 32, 0, &res);
                if (st == VEK_ST_SUCCESS || st == VEK_ST_PTHREAD_MUTEX_OWNER_DEAD) st = vek_rsrc_destroy(hdl, res);
                _exit(0);
            }
            const int status = wait_status(pid);
            ASSERT_TRUE(status == 0 || status == kDied) << status;
            finished = status == 0;
            ASSERT_EQ(region_violation(r), "");
            // What the child left is found and destroyed, or absent.
            vek_rsrc_t *left = nullptr;
            vek_st_t st = vek_rsrc_find(hdl, 2, "victim", &left);
            if (st == VEK_ST_PTHREAD_MUTEX_OWNER_DEAD) st = vek_rsrc_find(hdl, 2, "victim", &left);
            if (st == VEK_ST_SUCCESS) {
                st = vek_rsrc_destroy(hdl, left);
                EXPECT_TRUE(st == VEK_ST_SUCCESS || st == VEK_ST_PTHREAD_MUTEX_OWNER_DEAD) << st;
            }
            void *p = nullptr;
            ASSERT_EQ(vek_nvm_robust_malloc(64, &p, VEK_NVM_NO_FILL), VEK_ST_SUCCESS);
            const vek_st_t freed = vek_nvm_robust_free(&p);
            EXPECT_TRUE(freed == VEK_ST_SUCCESS || freed == VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
        }
        EXPECT_TRUE(finished);
    }
    EXPECT_EQ(vek_rsrc_release(hdl), VEK_ST_SUCCESS);
    vek_region_close(r);
}

} // namespace
