// Internal foundation helpers: trace lines, the status merge rule and the
// mutex guard, and the overflow-checked allocation helpers.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "foundation/memory.hpp"
#include "foundation/status_merge.hpp"
#include "foundation/trace.hpp"
#include "vektest.hpp"

namespace {

struct Opaque; // only pointed to

// ---- trace lines -----------------------------------------------------------

TEST(TraceLine, PrintsNameAndFieldsByteForByte) {
    vektest::TraceLevel level(4);
    const std::string out = vektest::capture_stdout([] {
        vek::trace::line("vek_bitmap_reserve", {{"map", 0x1234u}, {"size", 3u}, {"base", 0xABCDEFu}});
        vek::trace::line("vek_bitmap_reserve", {{"vekStatus", VEK_ST_SUCCESS}, {"base", 5u}});
        vek::trace::line("vek_no_fields", {});
    });
    EXPECT_EQ(out, "vek_bitmap_reserve map=1234 size=3 base=abcdef\n"
                   "vek_bitmap_reserve vekStatus=0 base=5\n"
                   "vek_no_fields\n");
}

struct WidenCase {
    std::string line;
    const char *want;
};

std::string one(const vek::trace::Field &f) {
    return vektest::capture_stdout([&] { vek::trace::write_line("op", {f}); });
}

TEST(TraceLine, WidensEveryValueTo64Bits) {
    enum class Small : int8_t { Minus = -3 };
    enum Plain : unsigned { PlainSeven = 7 };
    const WidenCase cases[] = {
        // Signed values are sign-extended.
        {one({"v", int32_t{-1}}), "op v=ffffffffffffffff\n"},
        {one({"v", int32_t{INT32_MIN}}), "op v=ffffffff80000000\n"},
        {one({"v", int32_t{INT32_MAX}}), "op v=7fffffff\n"},
        {one({"v", int8_t{-2}}), "op v=fffffffffffffffe\n"},
        {one({"v", int16_t{-32768}}), "op v=ffffffffffff8000\n"},
        {one({"v", int64_t{INT64_MIN}}), "op v=8000000000000000\n"},
        {one({"v", -1L}), "op v=ffffffffffffffff\n"},
        {one({"v", Small::Minus}), "op v=fffffffffffffffd\n"},
        // Unsigned values are zero-extended.
        {one({"v", uint8_t{0xFF}}), "op v=ff\n"},
        {one({"v", uint16_t{0xFFFF}}), "op v=ffff\n"},
        {one({"v", uint32_t{0xFFFFFFFFu}}), "op v=ffffffff\n"},
        {one({"v", uint64_t{0xFFFFFFFFFFFFFFFFull}}), "op v=ffffffffffffffff\n"},
        {one({"v", uint64_t{0x0123456789ABCDEFull}}), "op v=123456789abcdef\n"},
        {one({"v", SIZE_MAX}), SIZE_MAX == UINT32_MAX ? "op v=ffffffff\n" : "op v=ffffffffffffffff\n"},
        {one({"v", PlainSeven}), "op v=7\n"},
        {one({"v", true}), "op v=1\n"},
        {one({"v", false}), "op v=0\n"},
        {one({"v", uintptr_t{0}}), "op v=0\n"},
        // A pointer prints its address, zero-extended; null prints 0.
        {one({"p", nullptr}), "op p=0\n"},
        {one({"p", static_cast<const char *>(nullptr)}), "op p=0\n"},
    };
    for (const WidenCase &c : cases) EXPECT_EQ(c.line, c.want);
}

TEST(TraceLine, PointersPrintTheirAddress) {
    int object = 0;
    const char *text = "x";
    const Opaque *none = nullptr;
    const std::string out = vektest::capture_stdout([&] {
        vek::trace::write_line("op", {{"obj", &object}, {"text", text}, {"none", none}});
    });
    EXPECT_EQ(out, vektest::format("op obj=%llx text=%llx none=0\n", vektest::ptr(&object), vektest::ptr(text)));
    // The widening of a pointer never sign-extends, even with the top bit set.
    const auto high = reinterpret_cast<void *>(~uintptr_t{0} - 0xF);
    EXPECT_EQ(vek::trace::widen(high), static_cast<unsigned long long>(~uintptr_t{0} - 0xF));
}

TEST(TraceLine, LongLinesAreWrittenWhole) {
    // Far beyond any line buffer: every field must still be written in order.
    std::string names[60];
    std::string want = "vek_long_operation_name";
    for (int i = 0; i < 60; ++i) {
        names[i] = vektest::format("field_number_%02d", i);
        want += vektest::format(" %s=ffffffffffffff%02x", names[i].c_str(), i);
    }
    want += "\n";
    const std::string out = vektest::capture_stdout([&] {
        // 60 fields given as an initializer list of Field built at run time.
        const uint64_t base = 0xFFFFFFFFFFFFFF00ull;
#define F(i) vek::trace::Field(names[i].c_str(), base + (i))
        vek::trace::write_line("vek_long_operation_name",
                               {F(0),  F(1),  F(2),  F(3),  F(4),  F(5),  F(6),  F(7),  F(8),  F(9),  F(10), F(11),
                                F(12), F(13), F(14), F(15), F(16), F(17), F(18), F(19), F(20), F(21), F(22), F(23),
                                F(24), F(25), F(26), F(27), F(28), F(29), F(30), F(31), F(32), F(33), F(34), F(35),
                                F(36), F(37), F(38), F(39), F(40), F(41), F(42), F(43), F(44), F(45), F(46), F(47),
                                F(48), F(49), F(50), F(51), F(52), F(53), F(54), F(55), F(56), F(57), F(58), F(59)});
#undef F
    });
    EXPECT_GT(out.size(), 1024u);
    EXPECT_EQ(out, want);
}

TEST(TraceLevelMask, OnlyBits4And8EnableTheLines) {
    struct Case {
        uint32_t level;
        bool on;
    };
    const Case cases[] = {
        {0, false},  {1, false},  {2, false},    {3, false},          {16, false},
        {32, false}, {19, false}, {~12u, false}, {4, true},           {8, true},
        {12, true},  {5, true},   {9, true},     {0xFFFFFFFFu, true}, {0x80000004u, true},
    };
    for (const Case &c : cases) {
        vektest::TraceLevel level(c.level);
        EXPECT_EQ(vek::trace::on(), c.on) << c.level;
        const std::string out = vektest::capture_stdout([] {
            vek::trace::line("vek_op", {{"a", 1u}});
            vek::trace::raw("%s raw=%d\n", "vek_op", 42);
        });
        EXPECT_EQ(out, c.on ? "vek_op a=1\nvek_op raw=42\n" : "") << c.level;
    }
}

TEST(TraceLevelMask, WriteLinePrintsRegardlessOfTheLevel) {
    vektest::TraceLevel level(0);
    EXPECT_EQ(vektest::capture_stdout([] { vek::trace::write_line("op", {{"x", 2u}}); }), "op x=2\n");
}

TEST(TraceRaw, FormatsLikePrintf) {
    vektest::TraceLevel level(8);
    const std::string out =
        vektest::capture_stdout([] { vek::trace::raw("%s vekStatus=%llx name=%s\n", "op", 0x68ull, "abc"); });
    EXPECT_EQ(out, "op vekStatus=68 name=abc\n");
}

// ---- status merge ------------------------------------------------------------

TEST(StatusMerge, FirstFailureKeptOwnerDeadWins) {
    constexpr vek_st_t dead = VEK_ST_PTHREAD_MUTEX_OWNER_DEAD;
    struct Case {
        vek_st_t acc, st, want;
    };
    const Case cases[] = {
        {0, 0, 0},
        {0, VEK_ST_MUTEX_POST_ERROR, VEK_ST_MUTEX_POST_ERROR},
        {VEK_ST_MUTEX_POST_ERROR, 0, VEK_ST_MUTEX_POST_ERROR},
        {VEK_ST_MUTEX_POST_ERROR, VEK_ST_MUTEX_DESTROY_ERROR, VEK_ST_MUTEX_POST_ERROR},
        {0, dead, dead},
        {VEK_ST_MUTEX_POST_ERROR, dead, dead},
        {dead, VEK_ST_MUTEX_DESTROY_ERROR, dead},
        {dead, 0, dead},
        {dead, dead, dead},
    };
    for (const Case &c : cases) {
        vek_st_t acc = c.acc;
        vek::merge_status(acc, c.st);
        EXPECT_EQ(acc, c.want) << c.acc << " + " << c.st;
    }

    vek_st_t acc = VEK_ST_SUCCESS;
    for (vek_st_t st : {0u, 307u, 308u, 0u, 8000u, 2u}) vek::merge_status(acc, st);
    EXPECT_EQ(acc, dead);
}

TEST(StatusMerge, LockHeldOnSuccessOrOwnerDead) {
    EXPECT_TRUE(vek::lock_held(VEK_ST_SUCCESS));
    EXPECT_TRUE(vek::lock_held(VEK_ST_PTHREAD_MUTEX_OWNER_DEAD));
    EXPECT_FALSE(vek::lock_held(VEK_ST_MUTEX_WAIT_ERROR));
    EXPECT_FALSE(vek::lock_held(VEK_ST_MUTEX_BUSY));
    EXPECT_FALSE(vek::lock_held(VEK_ST_ERROR));
}

// ---- mutex guard -------------------------------------------------------------

bool held_elsewhere(vek_mutex_t *m) {
    int rc = -1;
    std::thread([&] {
        rc = pthread_mutex_trylock(&m->pmutex);
        if (rc == 0) pthread_mutex_unlock(&m->pmutex);
    }).join();
    return rc == EBUSY;
}

class MutexGuardTest : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        LeakCheckedTest::SetUp();
        ASSERT_EQ(vek_mutex_init(&m_, VEK_MUTEX_SHARED), VEK_ST_SUCCESS);
        vek_saltest_reset();
    }
    void TearDown() override {
        vek_saltest_reset();
        EXPECT_FALSE(held_elsewhere(&m_)) << "guard left the mutex locked";
        EXPECT_EQ(vek_mutex_destroy(&m_), VEK_ST_SUCCESS);
        LeakCheckedTest::TearDown();
    }
    vek_mutex_t m_{};
};

TEST_F(MutexGuardTest, LocksAndReleaseUnlocks) {
    vek::MutexGuard guard(&m_);
    EXPECT_TRUE(guard.held());
    EXPECT_EQ(guard.lock_status(), VEK_ST_SUCCESS);
    EXPECT_TRUE(held_elsewhere(&m_));
    vek_st_t acc = VEK_ST_SUCCESS;
    guard.release(acc);
    EXPECT_EQ(acc, VEK_ST_SUCCESS);
    EXPECT_FALSE(guard.held());
    EXPECT_FALSE(held_elsewhere(&m_));
    guard.release(acc); // a second release does nothing
    EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_UNLOCK), 1u);
}

TEST_F(MutexGuardTest, DestructorUnlocksWhenNotReleased) {
    {
        vek::MutexGuard guard(&m_);
        EXPECT_TRUE(held_elsewhere(&m_));
    }
    EXPECT_FALSE(held_elsewhere(&m_));
    EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_UNLOCK), 1u);
}

TEST_F(MutexGuardTest, OwnerDeadLockHoldsAndUnlocks) {
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_LOCK, 1, 1, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    vek::MutexGuard guard(&m_);
    EXPECT_TRUE(guard.held());
    EXPECT_EQ(guard.lock_status(), VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    EXPECT_TRUE(held_elsewhere(&m_));
    vek_st_t acc = guard.lock_status();
    guard.release(acc);
    EXPECT_EQ(acc, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    EXPECT_FALSE(held_elsewhere(&m_));
    EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_UNLOCK), 1u);
}

TEST_F(MutexGuardTest, FailedLockIsNotHeldAndNeverUnlocked) {
    vek_saltest_fail_call(VEK_SALTEST_MUTEX_LOCK, 1, 1, VEK_ST_MUTEX_WAIT_ERROR);
    {
        vek::MutexGuard guard(&m_);
        EXPECT_FALSE(guard.held());
        EXPECT_EQ(guard.lock_status(), VEK_ST_MUTEX_WAIT_ERROR);
        EXPECT_FALSE(held_elsewhere(&m_));
        vek_st_t acc = VEK_ST_SUCCESS;
        guard.release(acc);
        EXPECT_EQ(acc, VEK_ST_SUCCESS);
    }
    EXPECT_EQ(vek_saltest_calls(VEK_SALTEST_MUTEX_UNLOCK), 0u);
}

TEST_F(MutexGuardTest, UnlockFailureIsMerged) {
    struct Case {
        vek_st_t acc, unlock, want;
    };
    const Case cases[] = {
        {VEK_ST_SUCCESS, VEK_ST_MUTEX_POST_ERROR, VEK_ST_MUTEX_POST_ERROR},
        {VEK_ST_INVALID_VALUE, VEK_ST_MUTEX_POST_ERROR, VEK_ST_INVALID_VALUE},
        {VEK_ST_INVALID_VALUE, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD},
    };
    for (const Case &c : cases) {
        vek_saltest_fail_call(VEK_SALTEST_MUTEX_UNLOCK, 1, 1, c.unlock);
        vek::MutexGuard guard(&m_);
        vek_st_t acc = c.acc;
        guard.release(acc);
        EXPECT_EQ(acc, c.want);
        EXPECT_FALSE(held_elsewhere(&m_)); // unlocked all the same
    }
}

// ---- sizes and allocation helpers ------------------------------------------

TEST(ArrayBytes, ComputesProductsOrReportsOverflow) {
    std::size_t bytes = 12345;
    EXPECT_TRUE(vek::array_bytes(0, 8, &bytes));
    EXPECT_EQ(bytes, 0u);
    EXPECT_TRUE(vek::array_bytes(7, 9, &bytes));
    EXPECT_EQ(bytes, 63u);
    EXPECT_TRUE(vek::array_bytes(SIZE_MAX, 1, &bytes));
    EXPECT_EQ(bytes, SIZE_MAX);
    EXPECT_TRUE(vek::array_bytes(SIZE_MAX / 2, 2, &bytes));
    EXPECT_EQ(bytes, SIZE_MAX - 1);
    EXPECT_FALSE(vek::array_bytes(SIZE_MAX / 2 + 1, 2, &bytes));
    EXPECT_FALSE(vek::array_bytes(SIZE_MAX, SIZE_MAX, &bytes));
    const std::size_t half_width = std::size_t{1} << (sizeof(std::size_t) * CHAR_BIT / 2);
    EXPECT_FALSE(vek::array_bytes(half_width, half_width, &bytes));
    EXPECT_TRUE(vek::array_bytes(half_width - 1, half_width, &bytes));
}

struct Record {
    uint32_t a;
    void *p;
};

struct Big {
    unsigned char bytes[1 << 16];
};

using MemoryHelpers = vektest::LeakCheckedTest;

TEST_F(MemoryHelpers, OverflowingProductsFailWithoutCallingTheAllocator) {
    const std::size_t too_many_records = SIZE_MAX / sizeof(Record) + 1;
    const std::size_t too_many_bigs = SIZE_MAX / sizeof(Big) + 1;

    EXPECT_EQ(vek::heap_alloc_array<Record>(too_many_records), nullptr);
    EXPECT_EQ(vek::heap_alloc_array<Big>(too_many_bigs), nullptr);
    EXPECT_EQ(vek::heap_alloc_array<uint64_t>(SIZE_MAX), nullptr);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_HEAP), 0u);

    Record *old = vek::heap_alloc_array<Record>(2);
    ASSERT_NE(old, nullptr);
    old[1].a = 77;
    vek_saltest_reset(); // counts only the calls below
    EXPECT_EQ(vek::heap_realloc_array(old, too_many_records), nullptr);
    EXPECT_EQ(old[1].a, 77u); // old block intact

    Record *sentinel = old;
    Record *out = sentinel;
    EXPECT_EQ(vek::robust_alloc_array<Record>(too_many_records, &out, VEK_NVM_ZERO_FILL), VEK_ST_NO_MEMORY);
    EXPECT_EQ(out, sentinel); // untouched on failure
    Big *big = nullptr;
    EXPECT_EQ(vek::robust_alloc_array<Big>(too_many_bigs, &big, VEK_NVM_NO_FILL), VEK_ST_NO_MEMORY);
    EXPECT_EQ(big, nullptr);

    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_HEAP), 0u);
    EXPECT_EQ(vek_saltest_alloc_calls(VEK_SALTEST_ROBUST), 0u);
    vek_free(old);
}

TEST_F(MemoryHelpers, ArraysOfTheRightSizeAreAllocated) {
    auto *words = vek::heap_alloc_array<uint32_t>(4);
    ASSERT_NE(words, nullptr);
    for (uint32_t i = 0; i < 4; ++i) words[i] = i * 3;
    words = vek::heap_realloc_array(words, 1000);
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(words[3], 9u);
    words[999] = 1; // the whole new size is usable (checked under ASan)
    vek_free(words);

    Record *records = nullptr;
    ASSERT_EQ(vek::robust_alloc_array<Record>(5, &records, VEK_NVM_ZERO_FILL), VEK_ST_SUCCESS);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(records[i].a, 0u);
        EXPECT_EQ(records[i].p, nullptr);
    }
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_ + 1);
    EXPECT_EQ(vek::robust_free(&records), VEK_ST_SUCCESS);
    EXPECT_EQ(records, nullptr);

    Record *one_record = nullptr;
    ASSERT_EQ(vek::robust_alloc(&one_record, VEK_NVM_ZERO_FILL), VEK_ST_SUCCESS);
    EXPECT_EQ(one_record->a, 0u);
    EXPECT_EQ(vek::robust_free(&one_record), VEK_ST_SUCCESS);
    EXPECT_EQ(one_record, nullptr);
}

TEST_F(MemoryHelpers, AllocationFailuresArePassedOn) {
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 1);
    EXPECT_EQ(vek::heap_alloc_array<Record>(3), nullptr);

    Record sentinel{};
    Record *out = &sentinel;
    vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
    EXPECT_EQ(vek::robust_alloc_array<Record>(3, &out, VEK_NVM_NO_FILL), VEK_ST_NO_MEMORY);
    EXPECT_EQ(out, &sentinel);
    EXPECT_EQ(vek_saltest_faults_fired(), 2u);
}

TEST_F(MemoryHelpers, RobustFreeNullsTheHolderAndPassesTheStatusOn) {
    Record *r = nullptr;
    EXPECT_EQ(vek::robust_free(&r), VEK_ST_SUCCESS); // a null holder is accepted
    ASSERT_EQ(vek::robust_alloc(&r, VEK_NVM_NO_FILL), VEK_ST_SUCCESS);
    vek_saltest_fail_call(VEK_SALTEST_ROBUST_FREE, 1, 1, VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    EXPECT_EQ(vek::robust_free(&r), VEK_ST_PTHREAD_MUTEX_OWNER_DEAD);
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(vek_saltest_robust_live(), robust_at_start_); // released all the same
}

} // namespace
