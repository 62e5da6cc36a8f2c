// The robust-memory allocator on an area whose bytes the input overwrites:
// an area is formatted and worked on by allocations and releases, then
// words of its bookkeeping (or of anywhere in it) are overwritten, as a
// process killed mid-store or a stray write would leave them. check() and
// mend() must stay inside the area (the buffer is exactly its size, so
// AddressSanitizer sees any read past it); after mend() an area whose
// format mark and size survived is whole, and further work keeps it whole
// with every block inside it, aligned, and apart from the others.
//
// Input: area size selector, then operations until the end:
//   0x00 size16          alloc of size16 (0x8000 and up: a large block)
//   0x01 index8          release of held block index8 % count
//   0x02 off16 value64   overwrite of the 8-byte word at off16*8 % bytes
//   0x03 off16 value8    overwrite of one byte
//   0x04                 check() (must not crash), mend(), then whole
//   0x05 index8          release of a pointer that is no block (must fail)
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "fuzz_support.hpp"
#include "robust_heap.hpp"

namespace heap = vek_sal::heap;

namespace {

struct Held {
    unsigned char *p;
    std::size_t size;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Input in(data, size);
    const std::size_t bytes = heap::min_area_bytes() + std::size_t{in.u8()} % 32 * 4096 + std::size_t{in.u8()} % 4 * 16;
    // Exactly `bytes`, so that a read past the area is a read past the buffer.
    auto *area = static_cast<unsigned char *>(::operator new (bytes, std::align_val_t{16}));
    FUZZ_CHECK(heap::format(area, bytes));
    FUZZ_WHOLE(heap::check(area, bytes));
    std::vector<Held> held;
    // Overwritten since the last mend: allocations and releases wait (they
    // trust a whole area; only check() and mend() take any bytes).
    bool tampered = false;
    int steps = 0;
    while (!in.empty() && ++steps < 400) {
        const unsigned op = in.u8() % 6;
        if (tampered && (op == 0 || op == 1 || op == 5)) continue;
        switch (op) {
        case 0: {
            const std::size_t code = in.u16();
            const std::size_t want = code >= 0x8000 ? (code - 0x8000) * 8 : code;
            auto *p = static_cast<unsigned char *>(heap::alloc(area, want));
            if (p == nullptr) break;
            const std::size_t n = heap::block_size(area, p);
            FUZZ_CHECK(n >= want);
            FUZZ_CHECK(p >= area && p + n <= area + bytes);
            FUZZ_CHECK(reinterpret_cast<std::uintptr_t>(p) % 16 == 0);
            for (const Held &h : held) FUZZ_CHECK(p + n <= h.p || h.p + h.size <= p);
            std::memset(p, 0xC3, n);
            held.push_back({p, n});
            FUZZ_WHOLE(heap::check(area, bytes));
            break;
        }
        case 1: {
            if (held.empty()) break;
            const std::size_t i = in.u8() % held.size();
            FUZZ_CHECK(heap::release(area, held[i].p));
            FUZZ_WHOLE(heap::check(area, bytes));
            held.erase(held.begin() + static_cast<long>(i));
            break;
        }
        case 2: {
            const std::size_t off = std::size_t{in.u16()} * 8 % (bytes / 8 * 8);
            const std::uint64_t v = in.u64();
            std::memcpy(area + off, &v, 8);
            tampered = true;
            break;
        }
        case 3: {
            const std::size_t off = in.u16() % bytes;
            area[off] = in.u8();
            tampered = true;
            break;
        }
        case 4: {
            heap::check(area, bytes);
            heap::mend(area, bytes);
            const char *broken = heap::check(area, bytes);
            if (broken != nullptr && (std::strcmp(broken, "heap area not formatted") == 0 ||
                                      std::strcmp(broken, "heap area size differs from its mapping") == 0)) {
                // The format mark or the size is gone: no area claims these
                // bytes any more, and mend() leaves them alone.
                held.clear();
                steps = 400;
                break;
            }
            FUZZ_WHOLE(broken);
            // Blocks the overwrites hit may be gone or moved; mend keeps
            // only what it can prove and hands nothing out twice, but the
            // blocks held before are no longer promised.
            if (tampered) held.clear();
            tampered = false;
            break;
        }
        default: {
            // A pointer that starts no block: misaligned, or in the bookkeeping.
            const unsigned k = in.u8();
            unsigned char *p = held.empty() || k % 2 == 0 ? area + k : held[k % held.size()].p + 1 + k % 15;
            const heap::Stats before = heap::stats(area);
            FUZZ_CHECK(!heap::release(area, p));
            FUZZ_CHECK(heap::block_size(area, p) == 0);
            const heap::Stats after = heap::stats(area);
            FUZZ_CHECK(after.blocks == before.blocks && after.used_bytes == before.used_bytes);
            break;
        }
        }
    }
    if (!tampered) {
        for (const Held &h : held) FUZZ_CHECK(heap::release(area, h.p));
        if (!held.empty()) FUZZ_WHOLE(heap::check(area, bytes));
    }
    heap::check(area, bytes);
    heap::mend(area, bytes);
    ::operator delete (area, std::align_val_t{16});
    return 0;
}
