// Writing a map tree as a big-endian stream through a caller's writer.
//
// Stream of one map: count (4 bytes, signed), then per entry the key length
// (4), the key bytes, the type code (4) and the value (see write_value). A
// map value is 4 zero bytes followed by the child map's own stream. Entries
// with no node, or with a code outside 1..10, end after their type code
// (an entry without a node is written with VEK_MAP_TYPE_NONE). A byte
// block without storage is written as length 0 whatever its length field.
//
// Nested maps are walked with a fixed stack (map_codec.hpp); each nested
// map still prints the entry and exit lines of a vek_map_encode_to call of
// its own, as the recursive definition of the stream implies.
#include <cstring>

#include "foundation/check.hpp"
#include "foundation/trace.hpp"
#include "map/map_codec.hpp"
#include "map/map_internal.hpp"

namespace {

// The caller's writer: one call per field.
struct Writer {
    vek_map_wrfn_t fn;
    void *arg;

    bool bytes(const void *data, uint32_t len) const { return fn(arg, data, len) != -1; }
    bool u32(uint32_t v) const {
        const uint32_t be = vek_htonl(v);
        return bytes(&be, sizeof be);
    }
    bool u64(uint64_t v) const {
        const uint64_t be = vek_htonll(v);
        return bytes(&be, sizeof be);
    }
    // A length field followed by that many bytes (none written for 0).
    bool block(const void *data, uint32_t len) const { return u32(len) && (len == 0 || bytes(data, len)); }
};

// The memory writer of vek_map_encode written inline: the same growth and
// the same bytes as a call of mem_write per field, without the calls.
struct MemSink {
    vek::map::MemWriter *w;
    static constexpr vek_map_wrfn_t fn = vek::map::mem_write; // for the trace lines
    void *arg;

    explicit MemSink(vek::map::MemWriter *writer) : w(writer), arg(writer) {}

    template <typename T>
    bool field(T be) const {
        if (!vek::map::mem_room(w, sizeof be)) return false;
        std::memcpy(w->buf + w->used, &be, sizeof be);
        w->used += static_cast<int32_t>(sizeof be);
        return true;
    }
    bool bytes(const void *data, uint32_t len) const {
        if (!vek::map::mem_room(w, len)) return false;
        if (len != 0) std::memcpy(w->buf + w->used, data, len);
        w->used += static_cast<int32_t>(len);
        return true;
    }
    bool u32(uint32_t v) const { return field(vek_htonl(v)); }
    bool u64(uint64_t v) const { return field(vek_htonll(v)); }
    bool block(const void *data, uint32_t len) const { return u32(len) && (len == 0 || bytes(data, len)); }
};

// Writes the value of a non-map node.
template <class W>
bool write_value(const W &w, const vek_map_value_t *node) {
    if (node == nullptr) return true;
    const vek_map_payload_t &p = node->payload;
    switch (node->type) {
    case VEK_MAP_TYPE_I32:
    case VEK_MAP_TYPE_U32: return w.u32(p.u32);
    case VEK_MAP_TYPE_I64:
    case VEK_MAP_TYPE_U64: return w.u64(p.u64);
    case VEK_MAP_TYPE_FLOAT: {
        uint32_t bits = 0;
        std::memcpy(&bits, &p.f32, sizeof bits);
        return w.u32(bits);
    }
    case VEK_MAP_TYPE_DOUBLE: {
        uint64_t bits = 0;
        std::memcpy(&bits, &p.f64, sizeof bits);
        return w.u64(bits);
    }
    case VEK_MAP_TYPE_BOOL: return w.u32(p.boolean != 0 ? 1u : 0u);
    case VEK_MAP_TYPE_STR:
        return p.str == nullptr ? w.u32(0) : w.block(p.str, static_cast<uint32_t>(vek_strlen(p.str)));
    case VEK_MAP_TYPE_BIN: return p.bin.data == nullptr ? w.u32(0) : w.block(p.bin.data, p.bin.len);
    default: return true;
    }
}

struct Frame {
    const vek_map_t *map;
    int32_t next;
};

using vek::map::Outcome;

// Writes the tree of a valid map. Each nested map prints the entry and exit
// lines of the call it stands for, under the name of `call`. A write failure
// or a nested map's failure leaves the top level without its exit line.
template <class W>
Outcome encode_tree(const vek_map_t *root, const W &w, const vek::trace::Call &call) {
    Frame stack[vek::map::kMaxDepth + 1];
    int top = 0;
    stack[0] = {root, 0};
    if (!w.u32(static_cast<uint32_t>(root->count))) return {VEK_ST_MAP_CALLBACK_ERROR, false};
    for (;;) {
        Frame &f = stack[top];
        if (f.next >= f.map->count) {
            if (top == 0) return {VEK_ST_SUCCESS, true};
            vek::trace::line(call.op(), {{"vekStatus", VEK_ST_SUCCESS}});
            --top;
            continue;
        }
        const int32_t i = f.next++;
        const char *key = f.map->keys[i];
        const vek_map_value_t *node = f.map->values[i];
        const int32_t type = vek::map::node_type(node);
        const auto key_len = static_cast<uint32_t>(vek_strlen(key));
        if (!w.u32(key_len) || !w.bytes(key, key_len) || !w.u32(static_cast<uint32_t>(type))) {
            return {VEK_ST_MAP_CALLBACK_ERROR, false};
        }
        if (type != VEK_MAP_TYPE_MAP) {
            if (!write_value(w, node)) return {VEK_ST_MAP_CALLBACK_ERROR, false};
            continue;
        }
        if (!w.u32(0)) return {VEK_ST_MAP_CALLBACK_ERROR, false};
        const vek_map_t *child = node->payload.map;
        vek::trace::line(call.op(), {{"vek_map", child}, {"wrfn", w.fn}, {"arg", w.arg}});
        vek_st_t st = VEK_ST_SUCCESS;
        if (!vek::map::is_valid(child)) {
            st = VEK_ST_MAP_INVALID_MAP;
        } else if (top == vek::map::kMaxDepth) {
            st = VEK_ST_MAP_INTERNAL_ERROR;
        }
        if (st != VEK_ST_SUCCESS) {
            vek::trace::line(call.op(), {{"vekStatus", st}});
            return {st, false};
        }
        if (!w.u32(static_cast<uint32_t>(child->count))) return {VEK_ST_MAP_CALLBACK_ERROR, false};
        stack[++top] = {child, 0};
    }
}

} // namespace

extern "C" VEK_API vek_st_t vek_map_encode_to(vek_map_t *map, vek_map_wrfn_t wrfn, void *arg) {
    const vek::trace::Call call(__func__, {{"vek_map", map}, {"wrfn", wrfn}, {"arg", arg}});
    Outcome out{VEK_ST_SUCCESS, true};
    if (!vek::map::is_valid(map)) {
        out.st = VEK_ST_MAP_INVALID_MAP;
    } else if (wrfn != nullptr) {
        // Writing to memory (vek_map_encode) the writer is inlined.
        out = wrfn == vek::map::mem_write ? encode_tree(map, MemSink(static_cast<vek::map::MemWriter *>(arg)), call)
                                          : encode_tree(map, Writer{wrfn, arg}, call);
    }
    if (out.exit_line) call.exit({{"vekStatus", out.st}});
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return out.st;
}
