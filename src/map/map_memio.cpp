// In-memory encoding and decoding of maps, and the deep copy built on them.
//
// The memory writer grows its buffer in steps of 1024 bytes. Its counters
// are signed 32-bit: a stream that would not fit them fails like a failed
// growth, and a failed growth releases the buffer (the encode then hands out
// a null buffer with VEK_ST_MAP_CALLBACK_ERROR, nothing leaked).
#include <cstring>

#include "foundation/trace.hpp"
#include "map/map_codec.hpp"
#include "map/map_internal.hpp"

namespace {

constexpr int32_t kGrowStep = 1024;

struct MemWriter {
    unsigned char *buf;
    int32_t used;
    int32_t cap;
};

void drop_buffer(MemWriter *w) {
    vek_map_free(w->buf);
    w->buf = nullptr;
}

int32_t mem_write(void *arg, const void *data, uint32_t len) {
    auto *w = static_cast<MemWriter *>(arg);
    if (w->buf == nullptr) return -1;
    const uint64_t need = static_cast<uint64_t>(w->used) + len; // must stay below the capacity
    if (need >= static_cast<uint64_t>(w->cap)) {
        const uint64_t steps = (need - static_cast<uint64_t>(w->cap)) / kGrowStep + 1;
        const uint64_t cap = static_cast<uint64_t>(w->cap) + steps * kGrowStep;
        void *grown = cap <= INT32_MAX ? vek_realloc(w->buf, static_cast<size_t>(cap)) : nullptr;
        if (grown == nullptr) {
            drop_buffer(w);
            return -1;
        }
        w->buf = static_cast<unsigned char *>(grown);
        w->cap = static_cast<int32_t>(cap);
    }
    if (len != 0) std::memcpy(w->buf + w->used, data, len);
    w->used += static_cast<int32_t>(len);
    return static_cast<int32_t>(len);
}

} // namespace

extern "C" VEK_API vek_st_t vek_map_encode(vek_map_t *map, void **buf, int32_t *len) {
    static constexpr const char *op = "vek_map_encode";
    vek::trace::line(op, {{"vek_map", map}, {"buf", buf}, {"len", len}});
    vek_st_t st = VEK_ST_NO_MEMORY;
    void *out_buf = nullptr;
    int32_t out_len = 0;
    // Without both out-parameters the buffer could not be handed out.
    if (buf == nullptr || len == nullptr) {
        st = VEK_ST_INVALID_PARAMETER;
        vek::trace::line(op, {{"vekStatus", st}, {"buf", out_buf}, {"len", out_len}});
        return st;
    }
    auto *w = static_cast<MemWriter *>(vek_map_malloc(sizeof(MemWriter)));
    if (w != nullptr) {
        w->buf = static_cast<unsigned char *>(vek_malloc(kGrowStep));
        w->used = 0;
        w->cap = kGrowStep;
        if (w->buf != nullptr) {
            st = vek_map_encode_to(map, mem_write, w);
            out_buf = w->buf;
            out_len = w->used;
            *buf = out_buf;
            *len = out_len;
        }
        vek_map_free(w);
    }
    vek::trace::line(op, {{"vekStatus", st}, {"buf", out_buf}, {"len", out_len}});
    return st;
}

extern "C" VEK_API vek_st_t vek_map_decode(vek_map_t *map, const void *buf, int32_t len) {
    static constexpr const char *op = "vek_map_decode";
    vek::trace::line(op, {{"vek_map", map}, {"len", len}});
    vek_st_t st = VEK_ST_NO_MEMORY;
    auto *r = static_cast<vek::map::MemReader *>(vek_map_malloc(sizeof(vek::map::MemReader)));
    if (r != nullptr) {
        r->start = static_cast<const unsigned char *>(buf);
        r->len = buf != nullptr ? len : 0;
        r->cursor = r->start;
        st = vek::map::decode_from(map, vek::map::mem_read, r, r);
        vek_map_free(r);
    }
    vek::trace::line(op, {{"vekStatus", st}});
    return st;
}

extern "C" VEK_API vek_st_t vek_map_copy(vek_map_t *map, vek_map_t *vek_mapcopy) {
    static constexpr const char *op = "vek_map_copy";
    vek::trace::line(op, {{"vek_map", map}, {"vek_mapcopy", vek_mapcopy}});
    void *buf = nullptr;
    int32_t len = 0;
    vek_st_t st = vek_map_encode(map, &buf, &len);
    if (st == VEK_ST_SUCCESS) st = vek_map_decode(vek_mapcopy, buf, len);
    vek_map_free(buf);
    vek::trace::line(op, {{"vekStatus", st}});
    return st;
}
