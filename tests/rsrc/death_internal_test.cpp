// Death at every point: for each registry operation, a forked child sharing
// the registry's robust memory ends (holding whatever it holds) at its nth
// platform call, before or after the call's work, for every n up to the
// operation's number of calls. The parent then goes on with the same
// registry: every mutex the child held gives 8000 once, every structure is
// whole, the identifiers are either as before the operation or as after it,
// what is in use can be freed, and a whole-resource allocation, a create and
// a destroy succeed.
#include <fcntl.h>

#include <set>
#include <string>
#include <vector>

#include "bitmap/bitmap_check.hpp"
#include "process_support.hpp"
#include "rsrc/rsrc_internal.hpp"
#include "vektest.hpp"

namespace {

using vek::rsrc::verify_record;
using vek::rsrc::verify_registry;

constexpr vek_st_t kDead = VEK_ST_PTHREAD_MUTEX_OWNER_DEAD;
constexpr int kDiedThere = 86; // the child's exit status at its death point
constexpr uint32_t kIds = 64;
constexpr uint32_t kBase = 100;
constexpr uint32_t kHeld = 10; // identifiers kBase .. kBase+9 are in use before the operation

// What the parent builds in shared memory before each child: a handle with
// a registry, the resource "shared" with kHeld identifiers in use, a second
// resource "victim", and a second handle without a registry.
struct Shared {
    vek_hdl_t hdl;
    vek_hdl_t bare;
    vek_rsrc_t *shared;
    vek_rsrc_t *victim;
    vek_rsrc_t *made; // where the child's create stores its record
    uint32_t out;
    uint8_t res;
    vek_rsrc_info_t info;
};

struct Op {
    const char *name;
    vek_st_t (*run)(Shared &s);
    // Identifiers of "shared" in use once the operation has done its work.
    std::set<uint32_t> (*after)(std::set<uint32_t> before);
};

std::set<uint32_t> unchanged(std::set<uint32_t> before) { return before; }

const Op kOps[] = {
    {"init", [](Shared &s) { return vek_rsrc_init(&s.bare); }, unchanged},
    {"create", [](Shared &s) { return vek_rsrc_create(&s.hdl, 3, "made", 16, 0, &s.made); }, unchanged},
    {"create_intern", [](Shared &s) { return vek_rsrc_create_intern(&s.hdl, 4, "made", 16, 0, &s.made, 1); },
     unchanged},
    {"destroy", [](Shared &s) { return vek_rsrc_destroy(&s.hdl, s.victim); }, unchanged},
    {"find", [](Shared &s) { return vek_rsrc_find(&s.hdl, 1, "shared", &s.made); }, unchanged},
    {"allocate", [](Shared &s) { return vek_rsrc_allocate(s.shared, 3, &s.out); },
     [](std::set<uint32_t> ids) {
         ids.insert({kBase + 10, kBase + 11, kBase + 12});
         return ids;
     }},
    {"allocate_fixed", [](Shared &s) { return vek_rsrc_allocate_fixed(s.shared, 2, kBase + 40); },
     [](std::set<uint32_t> ids) {
         ids.insert({kBase + 40, kBase + 41});
         return ids;
     }},
    {"free", [](Shared &s) { return vek_rsrc_free(s.shared, kBase + 2, 3); },
     [](std::set<uint32_t> ids) {
         for (uint32_t id = kBase + 2; id < kBase + 5; ++id) ids.erase(id);
         return ids;
     }},
    {"isset", [](Shared &s) { return vek_rsrc_isset(s.shared, kBase + 1) == 1 ? VEK_ST_SUCCESS : VEK_ST_ERROR; },
     unchanged},
    {"issetv2", [](Shared &s) { return vek_rsrc_issetv2(s.shared, kBase + 1, &s.res); }, unchanged},
    {"query", [](Shared &s) { return vek_rsrc_query(s.shared, &s.info); }, unchanged},
    {"dump", [](Shared &s) { return vek_rsrc_dump(&s.hdl, 8); }, unchanged},
    {"release", [](Shared &s) { return vek_rsrc_release(&s.hdl); }, unchanged},
};

std::set<uint32_t> used_ids(const vek_rsrc_t *rec) {
    std::set<uint32_t> out;
    for (uint32_t i = 0; i < rec->numElems; ++i) {
        if (((rec->bitmap->bits[i / 32u] >> (i % 32u)) & 1u) != 0u) out.insert(rec->baseId + i);
    }
    return out;
}

// The first locker of a mutex left by a dead owner gets 8000, every later
// one 0.
class DeathSweep : public ::testing::Test {
protected:
    void SetUp() override {
        if (!proctest::robust_mutexes_work())
            GTEST_SKIP() << "robust mutexes do not report a dead owner on this system";
        vek_saltest_reset();
        vek_trace_level = 0;
    }
    void TearDown() override { vek_saltest_reset(); }

    // Builds the shared state in a new arena.
    Shared *build() {
        EXPECT_EQ(vek_saltest_shared_robust_begin(1u << 20), 0);
        Shared *s = nullptr;
        EXPECT_EQ(vek_nvm_robust_malloc(sizeof(Shared), reinterpret_cast<void **>(&s), VEK_NVM_ZERO_FILL),
                  VEK_ST_SUCCESS);
        s->hdl.magic = VEK_HDL_MAGIC;
        s->bare.magic = VEK_HDL_MAGIC;
        EXPECT_EQ(vek_rsrc_init(&s->hdl), VEK_ST_SUCCESS);
        EXPECT_EQ(vek_rsrc_create(&s->hdl, 1, "shared", kIds, kBase, &s->shared), VEK_ST_SUCCESS);
        EXPECT_EQ(vek_rsrc_create(&s->hdl, 2, "victim", 8, 0, &s->victim), VEK_ST_SUCCESS);
        EXPECT_EQ(vek_rsrc_allocate(s->shared, kHeld, &s->out), VEK_ST_SUCCESS);
        return s;
    }

    // Child: dies at the nth platform call of the operation, or exits 0
    // when the operation ends first.
    pid_t run_child(Shared *s, const Op &op, uint32_t nth, int when) {
        return proctest::spawn([&] {
            const int null = open("/dev/null", O_WRONLY);
            if (null >= 0) dup2(null, 1);
            vek_saltest_die_at(nth, when, kDiedThere);
            op.run(*s);
            vek_saltest_die_at(0, when, 0);
            return 0;
        });
    }

    // Everything the parent checks and does after the child ended. Returns
    // the blocks the child left allocated and unreachable.
    long check_after(Shared *s, const Op &op, const std::string &where) {
        SCOPED_TRACE(where);
        EXPECT_EQ(vek_saltest_shared_robust_check(), nullptr);
        const std::set<uint32_t> before = [] {
            std::set<uint32_t> ids;
            for (uint32_t i = 0; i < kHeld; ++i) ids.insert(kBase + i);
            return ids;
        }();

        // The handle without a registry, used only by init.
        if (s->bare.rsrcRegistry != nullptr) {
            EXPECT_EQ(verify_registry(&s->bare), nullptr);
            EXPECT_EQ(vek_rsrc_release(&s->bare), VEK_ST_SUCCESS);
        }
        EXPECT_EQ(vek_rsrc_init(&s->bare), VEK_ST_SUCCESS);
        EXPECT_EQ(vek_rsrc_release(&s->bare), VEK_ST_SUCCESS);

        if (s->hdl.rsrcRegistry == nullptr) {
            // Only a release that got past unpublishing the registry.
            EXPECT_STREQ(op.name, "release");
            EXPECT_EQ(vek_rsrc_init(&s->hdl), VEK_ST_SUCCESS);
        } else {
            vek_rsrc_registry_t *reg = s->hdl.rsrcRegistry;
            const bool reg_left = proctest::left_by_dead_owner(&reg->mutex);
            vek_rsrc_t *found = nullptr;
            const vek_st_t st = vek_rsrc_find(&s->hdl, 1, "shared", &found);
            if (st == kDead || st == VEK_ST_SUCCESS) {
                EXPECT_EQ(st, reg_left ? kDead : VEK_ST_SUCCESS);
            } else {
                // A release may have torn "shared" down already.
                EXPECT_STREQ(op.name, "release");
                EXPECT_EQ(st, reg_left ? kDead : VEK_ST_INVALID_VALUE);
            }
            EXPECT_EQ(verify_registry(&s->hdl), nullptr);

            // Every record: its first locker sees what the child left, then
            // the record is whole.
            for (vek_rsrc_t *rec = reg->rsrcHead; rec != nullptr; rec = rec->next) {
                const bool left = proctest::left_by_dead_owner(&rec->mutex);
                vek_rsrc_info_t info{};
                EXPECT_EQ(vek_rsrc_query(rec, &info), left ? kDead : VEK_ST_SUCCESS) << rec->name;
                EXPECT_EQ(verify_record(rec), nullptr) << rec->name;
                EXPECT_EQ(vek_rsrc_query(rec, &info), VEK_ST_SUCCESS) << rec->name;
            }

            if (found == s->shared) {
                const std::set<uint32_t> now = used_ids(s->shared);
                EXPECT_TRUE(now == before || now == op.after(before)) << "identifiers neither before nor after";
                // What is in use can be freed, then the whole resource is free.
                for (uint32_t id : now) EXPECT_EQ(vek_rsrc_free(s->shared, id, 1), VEK_ST_SUCCESS) << id;
                uint32_t first = 0;
                EXPECT_EQ(vek_rsrc_allocate(s->shared, kIds, &first), VEK_ST_SUCCESS);
                EXPECT_EQ(first, kBase);
                EXPECT_EQ(vek_rsrc_free(s->shared, kBase, kIds), VEK_ST_SUCCESS);
            }
        }

        // The registry creates, finds and destroys.
        vek_rsrc_t *probe = nullptr, *again = nullptr;
        EXPECT_EQ(vek_rsrc_create(&s->hdl, 7, "probe", 32, 0, &probe), VEK_ST_SUCCESS);
        EXPECT_EQ(vek_rsrc_find(&s->hdl, 7, "probe", &again), VEK_ST_SUCCESS);
        EXPECT_EQ(again, probe);
        EXPECT_EQ(vek_rsrc_destroy(&s->hdl, probe), VEK_ST_SUCCESS);
        EXPECT_EQ(verify_registry(&s->hdl), nullptr);
        EXPECT_EQ(vek_rsrc_release(&s->hdl), VEK_ST_SUCCESS);
        EXPECT_EQ(vek_saltest_shared_robust_check(), nullptr);

        // What is left besides the shared state's own block was allocated by
        // the dead child and never linked anywhere.
        const long left = vek_saltest_shared_robust_live() - 1;
        vek_nvm_robust_free(reinterpret_cast<void **>(&s));
        EXPECT_EQ(vek_saltest_shared_robust_abandon(), left);
        return left;
    }
};

TEST_F(DeathSweep, EveryRegistryOperationAtEveryPlatformCall) {
    for (const Op &op : kOps) {
        for (int when : {VEK_SALTEST_DIE_BEFORE, VEK_SALTEST_DIE_AFTER}) {
            uint32_t points = 0;
            long leaked = 0;
            for (uint32_t nth = 1;; ++nth) {
                Shared *s = build();
                const pid_t pid = run_child(s, op, nth, when);
                ASSERT_GT(pid, 0);
                const std::string end = proctest::wait_for(pid);
                const std::string where = std::string(op.name) +
                                          (when == VEK_SALTEST_DIE_BEFORE ? " before" : " after") + " call " +
                                          std::to_string(nth);
                ASSERT_TRUE(end == "exit 86" || end == "exit 0") << where << ": " << end;
                leaked += check_after(s, op, where);
                if (HasFailure()) return;
                if (end == "exit 0") break; // the operation ended before its nth call
                ++points;
            }
            EXPECT_GT(points, 0u) << op.name;
            std::printf("%-15s %-6s %2u death points, %ld blocks left by the dead\n", op.name,
                        when == VEK_SALTEST_DIE_BEFORE ? "before" : "after", points, leaked);
        }
    }
}

// The death point itself: before a call nothing of it happened, after it
// everything did.
TEST_F(DeathSweep, DiesBeforeOrAfterTheCallsWork) {
    Shared *s = build();
    for (int when : {VEK_SALTEST_DIE_BEFORE, VEK_SALTEST_DIE_AFTER}) {
        const pid_t pid = proctest::spawn([&] {
            vek_saltest_die_at(1, when, kDiedThere);
            vek_mutex_lock(&s->shared->mutex); // the first platform call from now
            return 0;
        });
        EXPECT_EQ(proctest::wait_for(pid), "exit 86");
        EXPECT_EQ(proctest::left_by_dead_owner(&s->shared->mutex), when == VEK_SALTEST_DIE_AFTER);
        EXPECT_EQ(vek_rsrc_query(s->shared, &s->info), when == VEK_SALTEST_DIE_AFTER ? kDead : VEK_ST_SUCCESS);
    }
    const uint32_t calls = vek_saltest_platform_calls();
    vek_rsrc_isset(s->shared, kBase);
    EXPECT_EQ(vek_saltest_platform_calls(), calls + 2); // lock, unlock
    EXPECT_EQ(vek_rsrc_release(&s->hdl), VEK_ST_SUCCESS);
    vek_nvm_robust_free(reinterpret_cast<void **>(&s));
    EXPECT_EQ(vek_saltest_shared_robust_end(), 0);
}

// Deaths between two stores of a critical section, which no platform call
// separates: a child takes the mutex, leaves the structure as an operation
// killed there would, and exits holding it. The next locker repairs it.
struct MidDeath {
    const char *what;
    bool registry;              // the registry's mutex, else the record's of "shared"
    void (*leave)(Shared &s);   // the half-made change
    std::vector<uint32_t> used; // identifiers of "shared" in use after the repair (offsets)
    uint32_t records;           // records in the list after the repair
    bool shared_cut = false;    // "shared" itself is cut off the list
};

void set_bit(vek_bitmap_t *map, uint32_t i) { map->bits[i / 32u] |= 1u << (i % 32u); }
void clear_bit(vek_bitmap_t *map, uint32_t i) { map->bits[i / 32u] &= ~(1u << (i % 32u)); }
std::vector<uint32_t> range(uint32_t from, uint32_t to) {
    std::vector<uint32_t> out;
    for (uint32_t i = from; i < to; ++i) out.push_back(i);
    return out;
}
std::vector<uint32_t> held_and(std::vector<uint32_t> more) {
    std::vector<uint32_t> out = range(0, kHeld);
    out.insert(out.end(), more.begin(), more.end());
    return out;
}

const MidDeath kMidDeaths[] = {
    {"allocate: run set, count not lowered", false,
     [](Shared &s) {
         for (uint32_t i = 10; i < 13; ++i) set_bit(s.shared->bitmap, i);
     },
     held_and({10, 11, 12}), 2},
    {"allocate: run across words half set", false,
     [](Shared &s) {
         set_bit(s.shared->bitmap, 30);
         set_bit(s.shared->bitmap, 31);
     },
     held_and({30, 31}), 2},
    {"allocate: count lowered, run not set", false, [](Shared &s) { s.shared->numElemsFree -= 3; }, range(0, kHeld), 2},
    {"free: run cleared, count not raised",
     false,
     [](Shared &s) {
         for (uint32_t i = 2; i < 5; ++i) clear_bit(s.shared->bitmap, i);
     },
     {0, 1, 5, 6, 7, 8, 9},
     2},
    {"free: hint not lowered",
     false,
     [](Shared &s) {
         clear_bit(s.shared->bitmap, 4);
         s.shared->numElemsFree += 1;
     },
     {0, 1, 2, 3, 5, 6, 7, 8, 9},
     2},
    {"free after a full fixed reservation: hint left at the end", false,
     [](Shared &s) {
         for (uint32_t i = kHeld; i < kIds; ++i) set_bit(s.shared->bitmap, i);
         s.shared->bitmap->firstFree = kIds;
         s.shared->numElemsFree = 0;
         clear_bit(s.shared->bitmap, 63);
     },
     range(0, 63), 2},
    {"create: record linked, count not raised", true, [](Shared &s) { s.hdl.rsrcRegistry->numRsrcs -= 1; },
     range(0, kHeld), 2},
    {"destroy: record unlinked, count not lowered", true,
     [](Shared &s) { s.hdl.rsrcRegistry->rsrcHead = s.victim->next; }, range(0, kHeld), 1},
    {"a list that loops (not a death's doing) is cut", true, [](Shared &s) { s.shared->next = s.victim; },
     range(0, kHeld), 2},
    {"a record that is not whole (not a death's doing) is cut off",
     true,
     [](Shared &s) { s.shared->kind = 99; },
     {},
     1,
     true},
};

TEST_F(DeathSweep, DeathBetweenTwoStoresIsRepaired) {
    for (const MidDeath &c : kMidDeaths) {
        SCOPED_TRACE(c.what);
        Shared *s = build();
        vek_mutex_t *m = c.registry ? &s->hdl.rsrcRegistry->mutex : &s->shared->mutex;
        const pid_t pid = proctest::spawn([&] {
            if (vek_mutex_lock(m) != VEK_ST_SUCCESS) return 1;
            c.leave(*s);
            _exit(kDiedThere);
        });
        ASSERT_EQ(proctest::wait_for(pid), "exit 86");
        ASSERT_TRUE(proctest::left_by_dead_owner(m));
        if (c.registry) {
            vek_rsrc_t *found = nullptr;
            EXPECT_EQ(vek_rsrc_find(&s->hdl, 1, "shared", &found), kDead);
            EXPECT_EQ(found, c.shared_cut ? nullptr : s->shared);
            EXPECT_EQ(verify_registry(&s->hdl), nullptr);
            EXPECT_EQ(s->hdl.rsrcRegistry->numRsrcs, c.records);
            if (c.shared_cut) {
                EXPECT_EQ(vek_rsrc_release(&s->hdl), VEK_ST_SUCCESS);
                vek_nvm_robust_free(reinterpret_cast<void **>(&s));
                EXPECT_EQ(vek_saltest_shared_robust_abandon(), 4); // the record, name, bitmap and words
                continue;
            }
        } else {
            uint8_t res = 0;
            EXPECT_EQ(vek_rsrc_issetv2(s->shared, kBase, &res), kDead);
            EXPECT_EQ(res, 0); // a dead owner's answer is 0, as any failure's
        }
        EXPECT_EQ(verify_record(s->shared), nullptr);
        std::set<uint32_t> expected;
        for (uint32_t i : c.used) expected.insert(kBase + i);
        EXPECT_EQ(used_ids(s->shared), expected);
        for (uint32_t id : expected) EXPECT_EQ(vek_rsrc_free(s->shared, id, 1), VEK_ST_SUCCESS) << id;
        uint32_t first = 0;
        EXPECT_EQ(vek_rsrc_allocate(s->shared, kIds, &first), VEK_ST_SUCCESS);
        EXPECT_EQ(vek_rsrc_free(s->shared, kBase, kIds), VEK_ST_SUCCESS);
        EXPECT_EQ(vek_rsrc_release(&s->hdl), VEK_ST_SUCCESS);
        vek_nvm_robust_free(reinterpret_cast<void **>(&s));
        // A record unlinked by hand stays allocated: record, name, bitmap, words.
        EXPECT_EQ(vek_saltest_shared_robust_abandon(), c.records == 1 ? 4 : 0);
    }
}

} // namespace
