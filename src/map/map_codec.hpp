// Private parts of the map's binary encoding shared by the callback
// encoder/decoder and their in-memory variants.
//
// Both directions walk the tree with an explicit stack of fixed size in
// their own frame (never one call per nested map): the map handed in is
// level 0, a map held by one of its entries level 1, and so on. Maps down
// to level VEK_MAP_DECODE_MAX_DEPTH are accepted; a deeper one ends the
// operation with VEK_ST_MAP_INTERNAL_ERROR. When decoding, a key with dots
// creates one level per dot, and those levels count too.
#pragma once

#include <cstdint>
#include <cstring>

#include <vek/vek_map.h>
#include <vek/vek_status.h>

namespace vek::map {

// The result of a walk over a stream: the status, and whether the level
// where it arose prints its exit line (not after a failed write, nor after a
// failed read of a count or key length).
struct Outcome {
    vek_st_t st;
    bool exit_line;
};

// Writing record of the in-memory encoder: a buffer growing in steps of
// kGrowStep bytes, always with room for one byte more than is used.
inline constexpr int32_t kGrowStep = 1024;

struct MemWriter {
    unsigned char *buf;
    int32_t used;
    int32_t cap;
};

// Makes room for `len` more bytes; false (the buffer released and null)
// when the buffer is gone already or cannot grow.
bool mem_grow(MemWriter *w, uint32_t len);

inline bool mem_room(MemWriter *w, uint32_t len) {
    if (w->buf != nullptr && static_cast<uint64_t>(w->used) + len < static_cast<uint64_t>(w->cap)) return true;
    return mem_grow(w, len);
}

// The buffer writer of vek_map_encode (arg is a MemWriter).
int32_t mem_write(void *arg, const void *data, uint32_t len);

// Reading context of the in-memory decoder.
struct MemReader {
    const unsigned char *start;
    int32_t len;
    const unsigned char *cursor;

    // Bytes left between the cursor and the end of the input.
    uint32_t left() const {
        const auto total = static_cast<uint32_t>(len > 0 ? len : 0);
        return total - static_cast<uint32_t>(cursor - start);
    }
};

// The buffer reader of vek_map_decode (arg is a MemReader).
inline int32_t mem_read(void *arg, void *data, uint32_t len) {
    auto *r = static_cast<MemReader *>(arg);
    if (len > r->left()) return -1;
    if (len != 0) std::memcpy(data, r->cursor, len);
    r->cursor += len;
    return static_cast<int32_t>(len);
}

// Reading with mem_read (from vek_map_decode), vek_map_decode_from knows the
// bytes left: a length larger than that ends the decode with
// VEK_ST_MAP_CALLBACK_ERROR before anything is allocated for it.

} // namespace vek::map
