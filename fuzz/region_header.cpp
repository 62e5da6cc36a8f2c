// Region images with fuzzed bytes: a whole image (header, object directory
// with a few objects, allocator area with blocks in use) is patched in the
// header, the directory or the allocator's bytes, then run through the
// attach validation and the region check. Either may refuse, with a status
// of the documented set and a text; neither may crash, hang or read outside
// the image. An image both accept is used: blocks are allocated and
// released, and it must still pass the check.
//
// Input: patches, each [zone][offset lo][offset hi][length][bytes...];
// zone % 3 picks the header, the directory or the allocator's area.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "region_image.hpp"
#include "robust_heap.hpp"

namespace {

namespace r = vek_sal::region;

constexpr std::size_t kImage = 256 * 1024;
alignas(4096) unsigned char g_image[kImage];

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "region_header: %s\n", what);
    std::abort();
}

// A whole image with three objects and some free blocks in between.
void make_image() {
    if (!r::format(g_image, kImage, reinterpret_cast<std::uintptr_t>(g_image), r::kDirEntries)) fail("format");
    auto *h = reinterpret_cast<r::Header *>(g_image);
    void *heap = g_image + h->heap_off;
    const char *names[] = {"ctl", "ports.0", "queue-a"};
    const std::size_t sizes[] = {40, 300, 5000};
    for (int i = 0; i < 3; ++i) {
        void *gap = vek_sal::heap::alloc(heap, 24);
        void *obj = vek_sal::heap::alloc(heap, sizes[i]);
        if (obj == nullptr || gap == nullptr) fail("alloc");
        vek_sal::heap::release(heap, gap);
        auto *e = reinterpret_cast<r::Entry *>(g_image + h->dir_off) + i;
        std::snprintf(e->name, sizeof e->name, "%s", names[i]);
        e->off = static_cast<std::uint64_t>(static_cast<unsigned char *>(obj) - g_image);
        e->size = sizes[i];
        e->state.store(i == 2 ? r::kMaking : r::kReady);
    }
    h->ready.store(r::kReady);
    if (const char *v = r::check(g_image, kImage)) fail(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    make_image();
    auto *h = reinterpret_cast<r::Header *>(g_image);
    const std::size_t zones[3][2] = {
        {0, sizeof(r::Header)},
        {r::dir_offset(), r::kDirEntries * sizeof(r::Entry)},
        {r::heap_offset(r::kDirEntries), 16 * 1024},
    };
    for (std::size_t i = 0; i + 4 <= size;) {
        const auto *z = zones[data[i] % 3];
        const std::size_t off = (data[i + 1] | (data[i + 2] << 8)) % z[1];
        std::size_t len = data[i + 3];
        i += 4;
        if (len > size - i) len = size - i;
        if (len > z[1] - off) len = z[1] - off;
        std::memcpy(g_image + z[0] + off, data + i, len);
        i += len;
    }
    char why[200] = "unset";
    const vek_st_t st = r::validate(*h, kImage, reinterpret_cast<std::uintptr_t>(g_image), why, sizeof why);
    if (st != VEK_ST_SUCCESS) {
        if (st != VEK_ST_NVM_ERROR && st != VEK_ST_API_NOT_SUPPORTED) fail("validation status outside its set");
        if (why[0] == '\0' || std::strlen(why) >= sizeof why) fail("refusal without a text");
    } else if (why[0] != '\0') {
        fail("acceptance with a text");
    }
    const char *violation = r::check(g_image, kImage);
    if (st != VEK_ST_SUCCESS && violation == nullptr) fail("check accepts what validation refused");
    if (violation == nullptr) {
        // An accepted image is usable: blocks come and go, and it stays whole.
        void *heap = g_image + h->heap_off;
        void *a = vek_sal::heap::alloc(heap, 100);
        void *b = vek_sal::heap::alloc(heap, 7000);
        if (a != nullptr && !vek_sal::heap::release(heap, a)) fail("release of a fresh block");
        if (b != nullptr && !vek_sal::heap::release(heap, b)) fail("release of a fresh block");
        if (const char *v = r::check(g_image, kImage)) fail(v);
    } else if (st == VEK_ST_SUCCESS) {
        // Offsets the validation accepted: the allocator's area may be
        // mended and checked again, whatever its bytes say.
        vek_sal::heap::mend(g_image + h->heap_off, kImage - h->heap_off);
        (void)vek_sal::heap::check(g_image + h->heap_off, kImage - h->heap_off);
    }
    return 0;
}
