// In-memory encoding and decoding of maps, and the deep copy built on them.
//
// The memory writer grows its buffer in steps of 1024 bytes. Its counters
// are signed 32-bit: a stream that would not fit them fails like a failed
// growth, and a failed growth releases the buffer (the encode then hands out
// a null buffer with VEK_ST_MAP_CALLBACK_ERROR, nothing leaked).
#include <cstring>

#include "foundation/check.hpp"
#include "foundation/memory.hpp"
#include "foundation/trace.hpp"
#include "map/map_codec.hpp"
#include "map/map_internal.hpp"

using vek::map::kGrowStep;
using vek::map::MemWriter;

namespace {

// The buffer and length vek_map_encode hands out; `set` once the buffer
// was set up (then they are handed out whatever the status).
struct Encoded {
    void *buf = nullptr;
    int32_t len = 0;
    bool set = false;
};

vek_st_t encode_to_memory(vek_map_t *map, Encoded *out) {
    const vek::HeapPtr<MemWriter, vek_map_free> w(static_cast<MemWriter *>(vek_map_malloc(sizeof(MemWriter))));
    if (!w) return VEK_ST_NO_MEMORY;
    w.get()->buf = static_cast<unsigned char *>(vek_malloc(kGrowStep));
    if (w.get()->buf == nullptr) return VEK_ST_NO_MEMORY;
    w.get()->used = 0;
    w.get()->cap = kGrowStep;
    const vek_st_t st = vek_map_encode_to(map, vek::map::mem_write, w.get());
    *out = {w.get()->buf, w.get()->used, true};
    return st;
}

vek_st_t decode_from_memory(vek_map_t *map, const void *buf, int32_t len) {
    using vek::map::MemReader;
    const vek::HeapPtr<MemReader, vek_map_free> r(static_cast<MemReader *>(vek_map_malloc(sizeof(MemReader))));
    if (!r) return VEK_ST_NO_MEMORY;
    r.get()->start = static_cast<const unsigned char *>(buf);
    r.get()->len = buf != nullptr ? len : 0;
    r.get()->cursor = r.get()->start;
    return vek_map_decode_from(map, vek::map::mem_read, r.get());
}

vek_st_t copy_map(vek_map_t *map, vek_map_t *dest) {
    void *raw = nullptr;
    int32_t len = 0;
    vek_st_t st = vek_map_encode(map, &raw, &len);
    const vek::HeapPtr<void, vek_map_free> buf(raw);
    if (st == VEK_ST_SUCCESS) st = vek_map_decode(dest, buf.get(), len);
    return st;
}

} // namespace

namespace vek::map {

bool mem_grow(MemWriter *w, uint32_t len) {
    if (w->buf == nullptr) return false;
    const uint64_t need = static_cast<uint64_t>(w->used) + len; // must stay below the capacity
    if (need < static_cast<uint64_t>(w->cap)) return true;
    const uint64_t steps = (need - static_cast<uint64_t>(w->cap)) / kGrowStep + 1;
    const uint64_t cap = static_cast<uint64_t>(w->cap) + steps * kGrowStep;
    void *grown = cap <= INT32_MAX ? vek_realloc(w->buf, static_cast<size_t>(cap)) : nullptr;
    if (grown == nullptr) {
        vek_map_free(w->buf);
        w->buf = nullptr;
        return false;
    }
    w->buf = static_cast<unsigned char *>(grown);
    w->cap = static_cast<int32_t>(cap);
    return true;
}

int32_t mem_write(void *arg, const void *data, uint32_t len) {
    auto *w = static_cast<MemWriter *>(arg);
    if (!mem_room(w, len)) return -1;
    if (len != 0) std::memcpy(w->buf + w->used, data, len);
    w->used += static_cast<int32_t>(len);
    return static_cast<int32_t>(len);
}

} // namespace vek::map

extern "C" VEK_API vek_st_t vek_map_encode(vek_map_t *map, void **buf, int32_t *len) {
    const vek::trace::Call call(__func__, {{"vek_map", map}, {"buf", buf}, {"len", len}});
    Encoded out;
    // Without both out-parameters the buffer could not be handed out.
    const vek_st_t st = buf == nullptr || len == nullptr ? VEK_ST_INVALID_PARAMETER : encode_to_memory(map, &out);
    if (out.set) {
        *buf = out.buf;
        *len = out.len;
    }
    call.exit({{"vekStatus", st}, {"buf", out.buf}, {"len", out.len}});
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}

extern "C" VEK_API vek_st_t vek_map_decode(vek_map_t *map, const void *buf, int32_t len) {
    const vek::trace::Call call(__func__, {{"vek_map", map}, {"len", len}});
    const vek_st_t st = decode_from_memory(map, buf, len);
    call.exit({{"vekStatus", st}});
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}

extern "C" VEK_API vek_st_t vek_map_copy(vek_map_t *map, vek_map_t *vek_mapcopy) {
    const vek::trace::Call call(__func__, {{"vek_map", map}, {"vek_mapcopy", vek_mapcopy}});
    const vek_st_t st = copy_map(map, vek_mapcopy);
    call.exit({{"vekStatus", st}});
    // Both trees: the one read and the one written.
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(vek_mapcopy));
    return st;
}
