// Paged direct table: key arithmetic, page states and their bitmaps, key
// proposal, deletion, trace lines, allocation failures, and a randomised
// sequence checked against a reference map with the page invariants
// checked after every step.
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "vektest.hpp"

namespace {

using vektest::format;
using vektest::ptr;
using Content = std::map<uint32_t, uintptr_t>;

// Bit id of a bitmap, read from its words (1 = set).
bool bit(const vek_bitmap_t *map, uint32_t id) { return ((map->bits[id / 32] >> (id % 32)) & 1u) != 0; }

// Checks every invariant of the table and returns its content.
Content check_table(const vek_dpt_t *dpt) {
    Content content;
    EXPECT_EQ(dpt->numPages, dpt->tableSize / dpt->pageSize + (dpt->tableSize % dpt->pageSize != 0 ? 1 : 0));
    EXPECT_EQ(dpt->allocatedPages->size, dpt->numPages);
    EXPECT_EQ(dpt->unavailablePages->size, dpt->numPages);
    uint32_t allocated = 0;
    for (uint32_t p = 0; p < dpt->numPages; ++p) {
        const vek_dpt_page_t *page = dpt->pageDir[p];
        EXPECT_EQ(page != nullptr, bit(dpt->allocatedPages, p)) << "page " << p;
        if (page == nullptr) {
            EXPECT_TRUE(bit(dpt->unavailablePages, p)) << "absent page " << p << " marked available";
            continue;
        }
        ++allocated;
        EXPECT_EQ(page->usedSlots->size, dpt->pageSize);
        uint32_t values = 0, bits = 0;
        for (uint32_t s = 0; s < dpt->pageSize; ++s) {
            const uint64_t key = uint64_t{p} * dpt->pageSize + s;
            if (page->values[s] != 0) {
                ++values;
                EXPECT_LT(key, dpt->tableSize) << "value stored past the table";
                content[static_cast<uint32_t>(key)] = page->values[s];
            }
            EXPECT_EQ(page->values[s] != 0, bit(page->usedSlots, s)) << "page " << p << " slot " << s;
            if (bit(page->usedSlots, s)) ++bits;
        }
        EXPECT_EQ(page->numUsed, values) << "page " << p;
        EXPECT_EQ(page->numUsed, bits) << "page " << p;
        EXPECT_NE(page->numUsed, 0u) << "empty page " << p << " kept";
        EXPECT_EQ(bit(dpt->unavailablePages, p), page->numUsed == dpt->pageSize) << "page " << p;
    }
    EXPECT_EQ(dpt->numAllocatedPages, allocated);
    return content;
}

// The key the table should propose for a content: the lowest empty valid
// slot of the lowest page that holds values but is not full, else slot 0
// of the lowest page without values; -1 when there is none.
int64_t expected_pick(const Content &c, uint32_t tableSize, uint32_t pageSize) {
    const uint32_t pages = tableSize / pageSize + (tableSize % pageSize != 0 ? 1 : 0);
    std::vector<uint32_t> used(pages, 0);
    for (const auto &kv : c) used[kv.first / pageSize]++;
    for (uint32_t p = 0; p < pages; ++p) {
        if (used[p] == 0 || used[p] == pageSize) continue;
        for (uint32_t s = 0; s < pageSize; ++s) {
            const uint64_t key = uint64_t{p} * pageSize + s;
            if (c.count(static_cast<uint32_t>(key)) == 0) {
                if (key < tableSize) return static_cast<int64_t>(key);
                break;
            }
        }
        break; // only the lowest open page is tried
    }
    for (uint32_t p = 0; p < pages; ++p) {
        if (used[p] == 0) return int64_t{p} * pageSize;
    }
    return -1;
}

// Only the table's own trace lines (the bitmaps it uses trace as well).
std::string dpt_lines(const std::string &out) {
    std::istringstream in(out);
    std::string line, kept;
    while (std::getline(in, line)) {
        if (line.rfind("vek_dpt_", 0) == 0) kept += line + "\n";
    }
    return kept;
}

class Dpt : public vektest::LeakCheckedTest {
protected:
    void TearDown() override {
        vek_dpt_delete_nodes_and_table(dpt_, nullptr);
        dpt_ = nullptr;
        LeakCheckedTest::TearDown();
    }
    vek_dpt_t *make(uint32_t tableSize, uint32_t pageSize) {
        dpt_ = vek_dpt_create_table(tableSize, pageSize);
        return dpt_;
    }
    void fill(uint32_t from, uint32_t to) { // keys from..to, value key + 0x100
        for (uint32_t k = from; k <= to; ++k) ASSERT_EQ(vek_dpt_put(dpt_, k, k + 0x100, nullptr), 0) << k;
    }
    int64_t pick() {
        uint32_t key = 0xdead;
        const int32_t r = vek_dpt_pick_key(dpt_, &key);
        EXPECT_TRUE(r == 0 || key == 0) << "failed proposal must give key 0";
        return r == 0 ? int64_t{key} : -1;
    }
    vek_dpt_t *dpt_ = nullptr;
};

TEST_F(Dpt, CreateSplitsTheKeyRangeIntoPages) {
    struct Case {
        uint32_t tableSize, pageSize, pages;
    };
    for (const Case &c : {Case{10, 4, 3}, Case{8, 4, 2}, Case{1, 1, 1}, Case{5, 7, 1}, Case{100, 1, 100}}) {
        SCOPED_TRACE(format("%u/%u", c.tableSize, c.pageSize));
        const long before = vek_saltest_robust_live();
        vek_dpt_t *dpt = vek_dpt_create_table(c.tableSize, c.pageSize);
        ASSERT_NE(dpt, nullptr);
        EXPECT_EQ(dpt->tableSize, c.tableSize);
        EXPECT_EQ(dpt->pageSize, c.pageSize);
        EXPECT_EQ(dpt->numPages, c.pages);
        EXPECT_EQ(dpt->numAllocatedPages, 0u);
        for (uint32_t p = 0; p < c.pages; ++p) {
            EXPECT_EQ(dpt->pageDir[p], nullptr);
            EXPECT_FALSE(bit(dpt->allocatedPages, p));
            EXPECT_TRUE(bit(dpt->unavailablePages, p));
        }
        EXPECT_TRUE(check_table(dpt).empty());
        EXPECT_EQ(vek_saltest_robust_live(), before + 6); // header, directory, two bitmaps of two blocks
        vek_dpt_delete_nodes_and_table(dpt, nullptr);
    }
}

TEST_F(Dpt, KeysOfThePartialLastPage) {
    vek_dpt_t *dpt = make(10, 4);
    ASSERT_NE(dpt, nullptr);
    EXPECT_EQ(vek_dpt_put(dpt, 8, 0x80, nullptr), 0);
    EXPECT_EQ(vek_dpt_put(dpt, 9, 0x90, nullptr), 0);
    ASSERT_NE(dpt->pageDir[2], nullptr);
    EXPECT_EQ(dpt->pageDir[2]->values[0], 0x80u);
    EXPECT_EQ(dpt->pageDir[2]->values[1], 0x90u);
    EXPECT_EQ(dpt->pageDir[2]->numUsed, 2u);
    EXPECT_FALSE(bit(dpt->unavailablePages, 2)); // slots 2 and 3 stay empty: open, not full
    EXPECT_EQ(vek_dpt_put(dpt, 10, 0xa0, nullptr), -1);
    EXPECT_EQ(vek_dpt_get(dpt, 9), 0x90u);
    EXPECT_EQ(vek_dpt_get(dpt, 10), 0u);
    EXPECT_EQ(vek_dpt_rem(dpt, 10), 0u);
    EXPECT_EQ(check_table(dpt), (Content{{8, 0x80}, {9, 0x90}}));
}

TEST_F(Dpt, ZeroPageSizeAndZeroTableSizeAreRefused) {
    vektest::TraceLevel level(4);
    std::string out = vektest::capture_stdout([&] { EXPECT_EQ(vek_dpt_create_table(10, 0), nullptr); });
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ANY), 0u);
    EXPECT_EQ(out, "vek_dpt_create_table tableSize=a pageSize=0\nvek_dpt_create_table vekStatus=4 nDpt=0\n");
    // A table of no keys fails on its empty page bitmaps; nothing stays.
    out = vektest::capture_stdout([&] { EXPECT_EQ(vek_dpt_create_table(0, 4), nullptr); });
    EXPECT_EQ(dpt_lines(out), "vek_dpt_create_table tableSize=0 pageSize=4\nvek_dpt_create_table vekStatus=2 nDpt=0\n");
}

TEST_F(Dpt, PickKeyFillsOpenPagesFirst) {
    struct Step {
        enum { Put, Rem } op;
        uint32_t from, to;
        int64_t proposal;
    };
    struct Case {
        const char *name;
        uint32_t tableSize, pageSize;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"fresh table, then a new page after a full one", 16, 4, {{Step::Put, 0, 0, 1}, {Step::Put, 1, 3, 4}}},
        {"holes are refilled lowest open page first",
         16,
         4,
         {{Step::Put, 0, 7, 8}, {Step::Rem, 5, 5, 5}, {Step::Rem, 2, 2, 2}}},
        {"an open page wins over a lower absent page", 16, 4, {{Step::Put, 6, 6, 4}}},
        {"page size 1: every page is full at once",
         3,
         1,
         {{Step::Put, 0, 0, 1}, {Step::Put, 2, 2, 1}, {Step::Put, 1, 1, -1}, {Step::Rem, 2, 2, 2}}},
        {"full table", 8, 4, {{Step::Put, 0, 7, -1}, {Step::Rem, 7, 7, 7}}},
        // The last page's free slots past the table are never proposed.
        {"last page with only slots past the table free",
         10,
         4,
         {{Step::Put, 0, 9, -1}, {Step::Rem, 0, 3, 0}, {Step::Put, 0, 2, 3}}},
        {"last page the lowest open page, lower page absent", 10, 4, {{Step::Put, 4, 9, 0}}},
        {"one page larger than the table", 5, 7, {{Step::Put, 0, 4, -1}, {Step::Rem, 3, 3, 3}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        dpt_ = vek_dpt_create_table(c.tableSize, c.pageSize);
        ASSERT_NE(dpt_, nullptr);
        EXPECT_EQ(pick(), 0);
        for (const Step &s : c.steps) {
            for (uint32_t k = s.from; k <= s.to; ++k) {
                if (s.op == Step::Put) {
                    EXPECT_EQ(vek_dpt_put(dpt_, k, k + 0x100, nullptr), 0);
                } else {
                    EXPECT_EQ(vek_dpt_rem(dpt_, k), k + 0x100);
                }
            }
            EXPECT_EQ(pick(), s.proposal) << "after keys " << s.from << ".." << s.to;
            EXPECT_EQ(pick(), s.proposal) << "a proposal reserves nothing";
            EXPECT_EQ(s.proposal, expected_pick(check_table(dpt_), c.tableSize, c.pageSize));
        }
        vek_dpt_delete_nodes_and_table(dpt_, nullptr);
        dpt_ = nullptr;
    }
}

TEST_F(Dpt, SecondStoreReturnsTheFirstValue) {
    vek_dpt_t *dpt = make(16, 4);
    ASSERT_NE(dpt, nullptr);
    uintptr_t old = 0xdead;
    EXPECT_EQ(vek_dpt_put(dpt, 3, 0x33, &old), 0);
    EXPECT_EQ(old, 0u);
    EXPECT_EQ(vek_dpt_put(dpt, 3, 0x34, &old), 0);
    EXPECT_EQ(old, 0x33u);
    EXPECT_EQ(dpt->pageDir[0]->numUsed, 1u);
    EXPECT_EQ(check_table(dpt), (Content{{3, 0x34}}));
}

TEST_F(Dpt, StoringZeroEmptiesTheKey) {
    vek_dpt_t *dpt = make(16, 4);
    ASSERT_NE(dpt, nullptr);
    const long base = vek_saltest_robust_live();
    uintptr_t old = 0xdead;
    // Into an absent page: a success that allocates nothing.
    EXPECT_EQ(vek_dpt_put(dpt, 9, 0, &old), 0);
    EXPECT_EQ(old, 0u);
    EXPECT_EQ(vek_saltest_robust_live(), base);
    EXPECT_EQ(dpt->numAllocatedPages, 0u);

    // Under the only used key of a page: the page is released.
    fill(5, 5);
    EXPECT_EQ(dpt->numAllocatedPages, 1u);
    EXPECT_EQ(vek_dpt_put(dpt, 5, 0, &old), 0);
    EXPECT_EQ(old, 0x105u);
    EXPECT_EQ(dpt->numAllocatedPages, 0u);
    EXPECT_EQ(dpt->pageDir[1], nullptr);
    EXPECT_EQ(vek_dpt_get(dpt, 5), 0u);
    EXPECT_EQ(vek_saltest_robust_live(), base);

    // In a full page: the page opens again and the key is proposed.
    fill(0, 3);
    EXPECT_TRUE(bit(dpt->unavailablePages, 0));
    EXPECT_EQ(vek_dpt_put(dpt, 2, 0, &old), 0);
    EXPECT_EQ(old, 0x102u);
    EXPECT_FALSE(bit(dpt->unavailablePages, 0));
    EXPECT_EQ(pick(), 2);
    // Into an empty slot of an allocated page: nothing changes.
    EXPECT_EQ(vek_dpt_put(dpt, 2, 0, &old), 0);
    EXPECT_EQ(old, 0u);
    EXPECT_EQ(check_table(dpt), (Content{{0, 0x100}, {1, 0x101}, {3, 0x103}}));
}

TEST_F(Dpt, KeysOutOfRangeAreRefused) {
    vek_dpt_t *dpt = make(10, 4);
    ASSERT_NE(dpt, nullptr);
    fill(0, 1);
    for (uint32_t key : {10u, 11u, 12u, 0xFFFFFFFFu}) {
        uintptr_t old = 0xdead;
        EXPECT_EQ(vek_dpt_put(dpt, key, 7, &old), -1);
        EXPECT_EQ(old, 0u);
        EXPECT_EQ(vek_dpt_get(dpt, key), 0u);
        EXPECT_EQ(vek_dpt_rem(dpt, key), 0u);
    }
    EXPECT_EQ(vek_dpt_rem(dpt, 5), 0u); // valid key, absent page
    EXPECT_EQ(vek_dpt_rem(dpt, 3), 0u); // valid key, empty slot of an allocated page
    EXPECT_EQ(check_table(dpt), (Content{{0, 0x100}, {1, 0x101}}));
}

TEST_F(Dpt, PutPickKeyStoresUnderTheProposal) {
    vek_dpt_t *dpt = make(6, 4);
    ASSERT_NE(dpt, nullptr);
    uint32_t key = 0xdead;
    const uint32_t allocs = vek_saltest_alloc_calls(VEK_SALTEST_ANY);
    EXPECT_EQ(vek_dpt_put_pick_key(dpt, 0, &key), -1); // value 0: refused at once
    EXPECT_EQ(key, 0u);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ANY), allocs);
    EXPECT_TRUE(check_table(dpt).empty());
    for (uint32_t want = 0; want < 6; ++want) {
        EXPECT_EQ(vek_dpt_put_pick_key(dpt, 0x500 + want, &key), 0);
        EXPECT_EQ(key, want);
    }
    key = 0xdead;
    EXPECT_EQ(vek_dpt_put_pick_key(dpt, 0x600, &key), -1); // table full: nothing stored
    EXPECT_EQ(key, 0u);
    EXPECT_EQ(vek_dpt_rem(dpt, 4), 0x504u);
    EXPECT_EQ(vek_dpt_put_pick_key(dpt, 0x604, &key), 0);
    EXPECT_EQ(key, 4u);
    EXPECT_EQ(check_table(dpt).size(), 6u);
    EXPECT_EQ(vek_dpt_put_pick_key(dpt, 0x700, nullptr), -1);
    EXPECT_EQ(vek_dpt_pick_key(dpt, nullptr), -1);
}

std::vector<std::pair<uint32_t, uintptr_t>> g_visits;
int32_t record_visit(uint32_t key, uintptr_t value) {
    g_visits.emplace_back(key, value);
    return 1;
}

TEST_F(Dpt, TraverseVisitsStoredValuesInKeyOrder) {
    vek_dpt_t *dpt = make(20, 3);
    ASSERT_NE(dpt, nullptr);
    for (uint32_t k : {19u, 4u, 0u, 5u, 13u}) vek_dpt_put(dpt, k, k + 0x100, nullptr);
    g_visits.clear();
    vektest::TraceLevel level(12);
    const std::string out = vektest::capture_stdout([&] { vek_dpt_traverse(dpt, record_visit); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(g_visits, (std::vector<std::pair<uint32_t, uintptr_t>>{
                            {0, 0x100}, {4, 0x104}, {5, 0x105}, {13, 0x10d}, {19, 0x113}}));
    g_visits.clear();
    vek_dpt_traverse(dpt, nullptr);
    vek_dpt_traverse(nullptr, record_visit);
    EXPECT_TRUE(g_visits.empty());
}

vek_dpt_t *g_walked = nullptr;
int32_t remove_visited(uint32_t key, uintptr_t value) {
    g_visits.emplace_back(key, value);
    vek_dpt_rem(g_walked, key);
    return 0;
}

TEST_F(Dpt, TraverseSurvivesAVisitThatEmptiesItsPage) {
    // Not allowed, but it must not read a released page.
    g_walked = make(8, 4);
    ASSERT_NE(g_walked, nullptr);
    fill(1, 1);
    fill(5, 6);
    g_visits.clear();
    vek_dpt_traverse(g_walked, remove_visited);
    EXPECT_EQ(g_visits, (std::vector<std::pair<uint32_t, uintptr_t>>{{1, 0x101}, {5, 0x105}, {6, 0x106}}));
    EXPECT_TRUE(check_table(g_walked).empty());
}

std::vector<uintptr_t> g_deleted;
int32_t record_delete(uintptr_t value) {
    g_deleted.push_back(value);
    return -1;
}

TEST_F(Dpt, DeleteHandsEverySlotOfAllocatedPagesToTheDeleteFunction) {
    vek_dpt_t *dpt = vek_dpt_create_table(16, 4);
    ASSERT_NE(dpt, nullptr);
    vek_dpt_put(dpt, 1, 0x11, nullptr);
    vek_dpt_put(dpt, 14, 0xee, nullptr);
    vek_dpt_put(dpt, 13, 0xdd, nullptr);
    g_deleted.clear();
    vek_dpt_delete_nodes_and_table(dpt, record_delete);
    EXPECT_EQ(g_deleted, (std::vector<uintptr_t>{0, 0x11, 0, 0, 0, 0xdd, 0xee, 0}));
}

TEST_F(Dpt, DeleteReportsReleaseFailures) {
    struct Case {
        uint32_t nth, count;
        vek_st_t status;
        const char *printed;
    };
    // The first failing release is reported, owner-dead wins over it.
    for (const Case &c : {Case{1, 1, VEK_ST_NVM_ERROR, "9"}, Case{1, 0, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD, "1f40"},
                          Case{1, 1, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD, "1f40"}}) {
        vek_dpt_t *dpt = vek_dpt_create_table(16, 4);
        ASSERT_NE(dpt, nullptr);
        vek_dpt_put(dpt, 1, 0x11, nullptr);
        vek_saltest_fail_call(VEK_SALTEST_ROBUST_FREE, c.nth, c.count, c.status);
        vektest::TraceLevel level(4);
        const std::string out = vektest::capture_stdout([&] { vek_dpt_delete_nodes_and_table(dpt, nullptr); });
        vek_saltest_reset();
        EXPECT_EQ(dpt_lines(out), format("vek_dpt_delete_nodes_and_table dpt=%llx delFn=0\n"
                                         "vek_dpt_delete_nodes_and_table vekStatus=%s\n",
                                         ptr(dpt), c.printed));
    }
}

TEST_F(Dpt, NullTableIsHarmless) {
    uintptr_t old = 0xdead;
    uint32_t key = 0xdead;
    EXPECT_EQ(vek_dpt_get(nullptr, 0), 0u);
    EXPECT_EQ(vek_dpt_put(nullptr, 0, 1, &old), -1);
    EXPECT_EQ(old, 0u);
    EXPECT_EQ(vek_dpt_rem(nullptr, 0), 0u);
    EXPECT_EQ(vek_dpt_pick_key(nullptr, &key), -1);
    EXPECT_EQ(key, 0u);
    key = 0xdead;
    EXPECT_EQ(vek_dpt_put_pick_key(nullptr, 1, &key), -1);
    EXPECT_EQ(key, 0u);
    vektest::TraceLevel level(4);
    EXPECT_EQ(vektest::capture_stdout([] { vek_dpt_delete_nodes_and_table(nullptr, nullptr); }),
              "vek_dpt_delete_nodes_and_table dpt=0 delFn=0\nvek_dpt_delete_nodes_and_table vekStatus=0\n");
}

TEST_F(Dpt, TraceLines) {
    vek_dpt_t *dpt = nullptr;
    vektest::TraceLevel level(8);
    std::string out = vektest::capture_stdout([&] { dpt = make(10, 4); });
    ASSERT_NE(dpt, nullptr);
    const unsigned long long d = ptr(dpt);
    EXPECT_EQ(dpt_lines(out),
              format("vek_dpt_create_table tableSize=a pageSize=4\nvek_dpt_create_table vekStatus=0 nDpt=%llx\n", d));

    uintptr_t old = 0;
    uint32_t key = 0;
    out = vektest::capture_stdout([&] {
        vek_dpt_put(dpt, 9, 0xabc, &old);
        vek_dpt_put(dpt, 9, 0xdef, nullptr);
        vek_dpt_put(dpt, 10, 0x1, &old);
        vek_dpt_get(dpt, 9);
        vek_dpt_get(dpt, 10);
        vek_dpt_pick_key(dpt, &key);
        vek_dpt_rem(dpt, 9);
        vek_dpt_rem(dpt, 9);
        vek_dpt_put_pick_key(dpt, 0x77, &key);
        vek_dpt_put_pick_key(dpt, 0, &key);
    });
    EXPECT_EQ(dpt_lines(out), format("vek_dpt_put dpt=%llx key=9, value=abc\n"
                                     "vek_dpt_put vekStatus=0 status=0 old_value=0\n"
                                     "vek_dpt_put dpt=%llx key=9, value=def\n"
                                     "vek_dpt_put vekStatus=0 status=0 old_value=0\n"
                                     "vek_dpt_put dpt=%llx key=a, value=1\n"
                                     "vek_dpt_put vekStatus=4 status=ffffffffffffffff old_value=0\n"
                                     "vek_dpt_get dpt=%llx key=9\n"
                                     "vek_dpt_get vekStatus=0 value=def\n"
                                     "vek_dpt_get dpt=%llx key=a\n"
                                     "vek_dpt_get vekStatus=4 value=0\n"
                                     "vek_dpt_pick_key dpt=%llx\n"
                                     "vek_dpt_pick_key status=0 outKey=8\n"
                                     "vek_dpt_rem dpt=%llx key=9\n"
                                     "vek_dpt_rem value=def\n"
                                     "vek_dpt_rem dpt=%llx key=9\n"
                                     "vek_dpt_rem value=0\n"
                                     "vek_dpt_put_pick_key dpt=%llx value=77\n"
                                     "vek_dpt_pick_key dpt=%llx\n"
                                     "vek_dpt_pick_key status=0 outKey=0\n"
                                     "vek_dpt_put dpt=%llx key=0, value=77\n"
                                     "vek_dpt_put vekStatus=0 status=0 old_value=0\n"
                                     "vek_dpt_put_pick_key status=0 outKey=0\n"
                                     "vek_dpt_put_pick_key dpt=%llx value=0\n"
                                     "vek_dpt_put_pick_key status=ffffffffffffffff outKey=0\n",
                                     d, d, d, d, d, d, d, d, d, d, d, d));

    // The second put above returned the first value through no pointer; with one it shows.
    out = vektest::capture_stdout([&] { vek_dpt_put(dpt, 0, 0x78, &old); });
    EXPECT_EQ(dpt_lines(out), format("vek_dpt_put dpt=%llx key=0, value=78\n"
                                     "vek_dpt_put vekStatus=0 status=0 old_value=77\n",
                                     d));
}

TEST_F(Dpt, CreateFailsCleanlyAtEveryAllocation) {
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_ROBUST, [](uint32_t) {
        vek_dpt_t *dpt = nullptr;
        std::string out;
        {
            vektest::TraceLevel level(4);
            out = vektest::capture_stdout([&] { dpt = vek_dpt_create_table(100, 8); });
        }
        if (vek_saltest_faults_fired() != 0) {
            EXPECT_EQ(dpt, nullptr);
            EXPECT_EQ(dpt_lines(out),
                      "vek_dpt_create_table tableSize=64 pageSize=8\nvek_dpt_create_table vekStatus=2 nDpt=0\n");
        } else {
            ASSERT_NE(dpt, nullptr);
            EXPECT_TRUE(check_table(dpt).empty());
        }
        vek_dpt_delete_nodes_and_table(dpt, nullptr);
    });
    EXPECT_EQ(points, 6u); // header, directory, two bitmaps of two blocks each
}

TEST_F(Dpt, CreateFailureReleasesOnlyWhatWasObtained) {
    // Each robust block obtained before the failing one is released once,
    // and nothing else is handed to the release call.
    vektest::sweep_alloc_failures(VEK_SALTEST_ROBUST, [](uint32_t nth) {
        vek_dpt_t *dpt = vek_dpt_create_table(100, 8);
        if (vek_saltest_faults_fired() != 0) {
            EXPECT_EQ(dpt, nullptr);
            EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_ROBUST_FREE), nth - 1);
        }
        vek_dpt_delete_nodes_and_table(dpt, nullptr);
    });
}

TEST_F(Dpt, CreateFailureOnTheDirectoryReportsOnlyTheHeaderRelease) {
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 2, 1); // the directory
    vek_saltest_fail_call(VEK_SALTEST_ROBUST_FREE, 2, 1, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    vektest::TraceLevel level(4);
    const std::string out = vektest::capture_stdout([&] { EXPECT_EQ(make(100, 8), nullptr); });
    EXPECT_EQ(out, "vek_dpt_create_table tableSize=64 pageSize=8\nvek_dpt_create_table vekStatus=2 nDpt=0\n");
    EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_ROBUST_FREE), 1u);
}

TEST_F(Dpt, CreateFailureReportsOwnerDeadFromARelease) {
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 3, 1); // the first bitmap's header
    vek_saltest_fail_call(VEK_SALTEST_ROBUST_FREE, 1, 0, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    vektest::TraceLevel level(4);
    const std::string out = vektest::capture_stdout([&] { EXPECT_EQ(make(100, 8), nullptr); });
    EXPECT_EQ(dpt_lines(out),
              "vek_dpt_create_table tableSize=64 pageSize=8\nvek_dpt_create_table vekStatus=1f40 nDpt=0\n");
}

TEST_F(Dpt, PageAllocationFailureChangesNothing) {
    vek_dpt_t *dpt = make(40, 8);
    ASSERT_NE(dpt, nullptr);
    fill(0, 2);
    const Content before = check_table(dpt);
    const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_ROBUST, [&](uint32_t) {
        uintptr_t old = 0xdead;
        std::string out;
        int32_t r = 0;
        {
            vektest::TraceLevel level(4);
            out = vektest::capture_stdout([&] { r = vek_dpt_put(dpt, 17, 0x71, &old); });
        }
        if (vek_saltest_faults_fired() != 0) {
            EXPECT_EQ(r, -1);
            EXPECT_EQ(old, 0u);
            EXPECT_EQ(dpt_lines(out), format("vek_dpt_put dpt=%llx key=11, value=71\n"
                                             "vek_dpt_put vekStatus=2 status=ffffffffffffffff old_value=0\n",
                                             ptr(dpt)));
            EXPECT_EQ(dpt->pageDir[2], nullptr);
            EXPECT_EQ(check_table(dpt), before);
            EXPECT_EQ(pick(), 3);
        } else {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(vek_dpt_rem(dpt, 17), 0x71u); // back to where the run began
        }
    });
    EXPECT_EQ(points, 4u); // page record, values, usedSlots bitmap of two blocks
    EXPECT_EQ(check_table(dpt), before);
}

TEST_F(Dpt, PutPickKeyReportsThePickedKeyWhenThePageCannotBeAllocated) {
    vek_dpt_t *dpt = make(40, 8);
    ASSERT_NE(dpt, nullptr);
    fill(0, 7);
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
    uint32_t key = 0;
    EXPECT_EQ(vek_dpt_put_pick_key(dpt, 0x99, &key), -1);
    EXPECT_EQ(key, 8u);
    EXPECT_EQ(dpt->numAllocatedPages, 1u);
    EXPECT_EQ(check_table(dpt).size(), 8u);
}

TEST_F(Dpt, RandomisedAgainstAReference) {
    struct Config {
        uint32_t tableSize, pageSize;
    };
    std::mt19937 rng(7u);
    for (const Config &cfg : {Config{50, 4}, Config{64, 8}, Config{7, 1}, Config{33, 32}, Config{5, 7}}) {
        SCOPED_TRACE(format("%u/%u", cfg.tableSize, cfg.pageSize));
        vek_dpt_t *dpt = make(cfg.tableSize, cfg.pageSize);
        ASSERT_NE(dpt, nullptr);
        Content ref;
        for (int step = 0; step < 1500; ++step) {
            const uint32_t key = rng() % (cfg.tableSize + 2); // a few keys out of range
            const uintptr_t value = rng() % 5 == 0 ? 0 : 1 + rng() % 1000;
            const auto it = ref.find(key);
            const uintptr_t held = it == ref.end() ? 0 : it->second;
            switch (rng() % 5) {
            case 0:
            case 1: {
                uintptr_t old = 0xdead;
                const int32_t r = vek_dpt_put(dpt, key, value, &old);
                EXPECT_EQ(r, key < cfg.tableSize ? 0 : -1);
                EXPECT_EQ(old, held);
                if (r == 0 && value != 0) ref[key] = value;
                if (r == 0 && value == 0) ref.erase(key);
                break;
            }
            case 2:
                EXPECT_EQ(vek_dpt_rem(dpt, key), held);
                ref.erase(key);
                break;
            case 3: EXPECT_EQ(vek_dpt_get(dpt, key), held); break;
            default: {
                const int64_t want = expected_pick(ref, cfg.tableSize, cfg.pageSize);
                uint32_t picked = 0xdead;
                const int32_t r = vek_dpt_put_pick_key(dpt, value | 1, &picked);
                EXPECT_EQ(r, want < 0 ? -1 : 0);
                EXPECT_EQ(int64_t{picked}, want < 0 ? 0 : want);
                if (r == 0) ref[picked] = value | 1;
                break;
            }
            }
            ASSERT_EQ(check_table(dpt), ref) << "step " << step;
            ASSERT_EQ(pick(), expected_pick(ref, cfg.tableSize, cfg.pageSize)) << "step " << step;
        }
        vek_dpt_delete_nodes_and_table(dpt, nullptr);
        dpt_ = nullptr;
    }
}

} // namespace
