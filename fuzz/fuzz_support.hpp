// Shared helpers of the fuzz targets: a reader over the fuzzer's bytes, a
// check that aborts with a message, and leak accounting through the
// stand-in platform library's live block counters. The targets are linked
// with the library's objects (vekcommon_internal), so they can call its
// internal structure checks.
//
// Every target defines LLVMFuzzerTestOneInput. Built with clang and
// -fsanitize=fuzzer the targets run under libFuzzer; built normally they are
// linked with replay_main.cpp and replay their corpus as a regression test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <vek/vekcommon.h>

#include "vek_saltest.h"

namespace fuzz {

[[noreturn]] void fail(const char *file, int line, const char *what);

// The standard output stream of the process goes to /dev/null (done once
// at start-up); dumps and trace lines land there. A stream for the dumps
// that take one.
FILE *null_stream();

// Reads the fuzzer's bytes from the front; past the end every read gives 0.
class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    size_t left() const { return empty() ? 0 : size_ - pos_; }

    uint8_t u8() { return empty() ? 0 : data_[pos_++]; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(u8()) << (8 * i);
        return v;
    }
    uint64_t u64() { return static_cast<uint64_t>(u32()) | (static_cast<uint64_t>(u32()) << 32); }

    // A text of at most max_len bytes, ending at a 0 byte (consumed) or at
    // the end of the input; never contains a 0 byte.
    std::string text(size_t max_len) {
        std::string s;
        while (!empty() && s.size() < max_len) {
            const uint8_t c = data_[pos_++];
            if (c == 0) break;
            s.push_back(static_cast<char>(c));
        }
        return s;
    }

    // Everything left, as bytes.
    const uint8_t *rest(size_t *len) {
        *len = left();
        const uint8_t *p = data_ + (empty() ? size_ : pos_);
        pos_ = size_;
        return p;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// Live block counts at construction; check() asserts they are back.
class LeakCheck {
public:
    LeakCheck() : heap_(vek_saltest_heap_live()), robust_(vek_saltest_robust_live()) {}
    void check(const char *file, int line) const {
        if (vek_saltest_heap_live() != heap_) fail(file, line, "heap blocks leaked");
        if (vek_saltest_robust_live() != robust_) fail(file, line, "robust blocks leaked");
    }

private:
    long heap_;
    long robust_;
};

} // namespace fuzz

#define FUZZ_CHECK(cond)                                      \
    do {                                                      \
        if (!(cond)) ::fuzz::fail(__FILE__, __LINE__, #cond); \
    } while (0)

// Equality of two integers, both printed when they differ.
#define FUZZ_CHECK_EQ(a, b)                                                                       \
    do {                                                                                          \
        const long long fuzz_a_ = static_cast<long long>(a), fuzz_b_ = static_cast<long long>(b); \
        if (fuzz_a_ != fuzz_b_) {                                                                 \
            std::fprintf(stderr, "%s = %lld, %s = %lld\n", #a, fuzz_a_, #b, fuzz_b_);             \
            ::fuzz::fail(__FILE__, __LINE__, #a " == " #b);                                       \
        }                                                                                         \
    } while (0)

#define FUZZ_NO_LEAK(leaks) (leaks).check(__FILE__, __LINE__)

// A structure check of the library (containers/verify.hpp, map_internal.hpp,
// ...): it names the first broken property, which ends the run.
#define FUZZ_WHOLE(check)                                                                       \
    do {                                                                                        \
        if (const char *fuzz_broken_ = (check)) ::fuzz::fail(__FILE__, __LINE__, fuzz_broken_); \
    } while (0)
