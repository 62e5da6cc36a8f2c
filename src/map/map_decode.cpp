// Reading a map stream through a caller's reader into a destination map.
//
// Entries are appended as they are read (checkForKey 0); a key with dots is
// a path and creates one nested map per dot. The stream is untrusted:
//   - nested maps are walked with a fixed stack (map_codec.hpp); a map that
//     would sit deeper than VEK_MAP_DECODE_MAX_DEPTH levels, counting the
//     levels that dotted keys create, ends the decode with
//     VEK_ST_MAP_INTERNAL_ERROR and a cleared destination;
//   - a key, text or byte-block length of 0xFFFFFFFF, or one that cannot be
//     allocated, ends it with VEK_ST_NO_MEMORY before anything more is read;
//   - reading from memory, a length larger than the bytes left ends it with
//     VEK_ST_MAP_CALLBACK_ERROR before anything is allocated for it.
// Each nested map prints the entry and exit lines of a vek_map_decode_from
// call of its own, as the recursive definition of the stream implies, and
// the calls a level makes print their lines where it makes them: its child
// maps come from vek_map_create; a child that failed is released with
// vek_map_destroy by the level above; a failure that empties the maps
// (VEK_ST_NO_MEMORY, VEK_ST_MAP_INTERNAL_ERROR) clears each level with
// vek_map_clear before that level's exit line; and the set path that
// inserts an entry copies its keys with vek_map_strdup. A child read
// completely that cannot be inserted is released quietly.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/check.hpp"
#include "foundation/memory.hpp"
#include "foundation/trace.hpp"
#include "map/map_codec.hpp"
#include "map/map_internal.hpp"

namespace {

constexpr uint32_t kNoLength = 0xFFFFFFFFu;

// One map being filled: the map, the entries still to read, its level, and
// (below level 0) the key under which it goes into the map above.
struct Frame {
    vek_map_t *map;
    int32_t left;
    int depth;
    char *key;
};

struct Reader {
    vek_map_rdfn_t fn;
    void *arg;
    vek::map::MemReader *mem; // the context of mem_read when reading from memory

    // Reading from memory the reader is called inline.
    int32_t raw(void *dst, uint32_t len) const {
        return mem != nullptr ? vek::map::mem_read(mem, dst, len) : fn(arg, dst, len);
    }
    bool bytes(void *dst, uint32_t len) const { return raw(dst, len) != -1; }
    bool u32(uint32_t *v) const {
        uint32_t be = 0;
        if (!bytes(&be, sizeof be)) return false;
        *v = vek_ntohl(be);
        return true;
    }
    bool u64(uint64_t *v) const {
        uint64_t be = 0;
        if (!bytes(&be, sizeof be)) return false;
        *v = vek_ntohll(be);
        return true;
    }
    // False when reading `len` more bytes from memory cannot succeed.
    bool backed(uint32_t len) const { return mem == nullptr || len <= mem->left(); }
};

// Rebuilds a float from its IEEE-754 single-precision bit pattern by
// arithmetic on its fields; exponent 255 gives an infinity of the sign.
float float_from_bits(uint32_t bits) {
    const uint32_t e = (bits >> 23) & 0xFFu;
    const uint32_t f = bits & 0x7FFFFFu;
    float v = 0.0f;
    if (e == 0) {
        v = static_cast<float>(2u * f);
        for (int k = 0; k < 150; ++k) v *= 0.5f;
    } else {
        v = static_cast<float>(f + 0x800000u);
        for (uint32_t k = e; k > 150; --k) v *= 2.0f;
        for (uint32_t k = e; k < 150; ++k) v *= 0.5f;
    }
    return (bits & 0x80000000u) != 0 ? 0.0f - v : v;
}

using vek::map::Outcome;

// The decoder's own error line, under trace bit 0 (not the entry and exit
// lines' mask), for a count or key length read with a negative result.
void error_line(const char *op, vek_map_t *map, const Reader &r, int32_t rc) {
    if ((vek_trace_level & VEK_TRACE_DECODE_ERROR) == 0u) return;
    std::printf("%s vek_map=%llx rdfn=%llx arg=%llx rc=%llx errno=%llx\n", op, vek::trace::widen(map),
                vek::trace::widen(r.fn), vek::trace::widen(r.arg), vek::trace::widen(rc), vek::trace::widen(errno));
}

// Reads a count or a key length: −1 is a callback error; another negative
// result is reported on the error line and ends the decode with 102.
bool read_header_word(const char *op, vek_map_t *map, const Reader &r, uint32_t *v, Outcome *fail) {
    uint32_t be = 0;
    const int32_t rc = r.raw(&be, sizeof be);
    if (rc == -1) {
        *fail = {VEK_ST_MAP_CALLBACK_ERROR, false};
        return false;
    }
    if (rc < 0) {
        error_line(op, map, r, rc);
        *fail = {VEK_ST_MAP_INTERNAL_ERROR, true};
        return false;
    }
    *v = vek_ntohl(be);
    return true;
}

// Allocates `len` bytes (plus a terminator when `terminate`) and reads
// them; null with *st set on failure.
void *read_block(const Reader &r, uint32_t len, bool terminate, vek_st_t *st) {
    if (len == kNoLength) {
        *st = VEK_ST_NO_MEMORY;
        return nullptr;
    }
    if (!r.backed(len)) {
        *st = VEK_ST_MAP_CALLBACK_ERROR;
        return nullptr;
    }
    auto *buf = static_cast<char *>(vek_map_malloc(static_cast<size_t>(len) + (terminate ? 1 : 0)));
    if (buf == nullptr) {
        *st = VEK_ST_NO_MEMORY;
        return nullptr;
    }
    if (!r.bytes(buf, len)) {
        vek_map_free(buf);
        *st = VEK_ST_MAP_CALLBACK_ERROR;
        return nullptr;
    }
    if (terminate) buf[len] = '\0';
    return buf;
}

// Reads the value of a non-map entry into `value`. Returns the status.
vek_st_t read_value(const Reader &r, int32_t type, vek_map_payload_t *value) {
    uint32_t w = 0;
    uint64_t d = 0;
    vek_st_t st = VEK_ST_SUCCESS;
    switch (type) {
    case VEK_MAP_TYPE_I32:
    case VEK_MAP_TYPE_U32:
        if (!r.u32(&w)) return VEK_ST_MAP_CALLBACK_ERROR;
        value->u32 = w;
        return VEK_ST_SUCCESS;
    case VEK_MAP_TYPE_I64:
    case VEK_MAP_TYPE_U64:
    case VEK_MAP_TYPE_DOUBLE:
        if (!r.u64(&d)) return VEK_ST_MAP_CALLBACK_ERROR;
        if (type == VEK_MAP_TYPE_DOUBLE) {
            std::memcpy(&value->f64, &d, sizeof d);
        } else {
            value->u64 = d;
        }
        return VEK_ST_SUCCESS;
    case VEK_MAP_TYPE_FLOAT:
        if (!r.u32(&w)) return VEK_ST_MAP_CALLBACK_ERROR;
        value->f32 = float_from_bits(w);
        return VEK_ST_SUCCESS;
    case VEK_MAP_TYPE_BOOL:
        if (!r.u32(&w)) return VEK_ST_MAP_CALLBACK_ERROR;
        value->boolean = w == 1u ? 1 : 0;
        return VEK_ST_SUCCESS;
    case VEK_MAP_TYPE_STR:
    case VEK_MAP_TYPE_BIN: {
        if (!r.u32(&w)) return VEK_ST_MAP_CALLBACK_ERROR;
        void *data = nullptr;
        if (w != 0) {
            data = read_block(r, w, type == VEK_MAP_TYPE_STR, &st);
            if (data == nullptr) return st;
        }
        if (type == VEK_MAP_TYPE_STR) {
            value->str = static_cast<char *>(data);
        } else {
            value->bin.data = data;
            value->bin.len = w;
        }
        return VEK_ST_SUCCESS;
    }
    default: return VEK_ST_SUCCESS;
    }
}

bool is_value_type(int32_t type) { return type >= VEK_MAP_TYPE_STR && type <= VEK_MAP_TYPE_U64; }

int dots_in(const char *key) {
    int n = 0;
    for (const char *p = key; *p != '\0'; ++p) n += *p == '.' ? 1 : 0;
    return n;
}

class Decoder {
public:
    Decoder(vek_map_t *dest, const Reader &r, const vek::trace::Call &call) : r_(r), call_(call) {
        stack_[0] = {dest, 0, 0, nullptr};
    }

    // Decodes the stream; returns the status and whether the top-level
    // exit line is printed.
    Outcome run();

private:
    Outcome read_count(vek_map_t *map, int32_t *count);
    Outcome read_entry();
    Outcome finish_child();
    vek_st_t insert(vek_map_t *map, char *&key, int32_t type, const vek_map_payload_t &value);
    // Unwinds every level after a failure at the top of the stack.
    Outcome unwind(Outcome at_top);

    Reader r_;
    const vek::trace::Call &call_; // nested maps print their lines under its name
    Frame stack_[vek::map::kMaxDepth + 1];
    int top_ = 0;
};

Outcome Decoder::read_count(vek_map_t *map, int32_t *count) {
    uint32_t raw = 0;
    Outcome fail{VEK_ST_SUCCESS, true};
    if (!read_header_word(call_.op(), map, r_, &raw, &fail)) return fail;
    *count = static_cast<int32_t>(raw);
    return fail;
}

Outcome Decoder::run() {
    int32_t count = 0;
    if (Outcome f = read_count(stack_[0].map, &count); f.st != VEK_ST_SUCCESS) return unwind(f);
    stack_[0].left = count > 0 ? count : 0;
    for (;;) {
        Frame &f = stack_[top_];
        Outcome res{VEK_ST_SUCCESS, true};
        if (f.left > 0) {
            --f.left;
            res = read_entry();
        } else if (top_ == 0) {
            return {VEK_ST_SUCCESS, true};
        } else {
            res = finish_child();
        }
        if (res.st != VEK_ST_SUCCESS) return unwind(res);
    }
}

// Reads one entry of the map on top of the stack. A map value pushes a new
// child, which finish_child inserts once its entries are read.
Outcome Decoder::read_entry() {
    Frame &f = stack_[top_];
    uint32_t key_len = 0;
    Outcome fail{VEK_ST_SUCCESS, true};
    if (!read_header_word(call_.op(), f.map, r_, &key_len, &fail)) return fail;
    vek_st_t st = VEK_ST_SUCCESS;
    vek::HeapPtr<char, vek_map_free> key(static_cast<char *>(read_block(r_, key_len, true, &st)));
    if (!key) return {st, true};
    uint32_t type_word = 0;
    if (!r_.u32(&type_word)) return {VEK_ST_MAP_CALLBACK_ERROR, true};
    const auto type = static_cast<int32_t>(type_word);
    if (!is_value_type(type)) return {VEK_ST_SUCCESS, true};
    const int depth = f.depth + dots_in(key.get()) + (type == VEK_MAP_TYPE_MAP ? 1 : 0);
    if (depth > vek::map::kMaxDepth) return {VEK_ST_MAP_INTERNAL_ERROR, true};
    if (type == VEK_MAP_TYPE_MAP) {
        uint32_t filler = 0;
        if (!r_.u32(&filler)) return {VEK_ST_MAP_CALLBACK_ERROR, true};
        vek_map_t *child = nullptr;
        if (const vek_st_t cst = vek_map_create(&child); cst != VEK_ST_SUCCESS) return {cst, true};
        stack_[++top_] = {child, 0, depth, key.take()};
        vek::trace::line(call_.op(), {{"vek_map", child}, {"rdfn", r_.fn}, {"arg", r_.arg}});
        int32_t count = 0;
        if (Outcome cf = read_count(child, &count); cf.st != VEK_ST_SUCCESS) return cf;
        stack_[top_].left = count > 0 ? count : 0;
        return {VEK_ST_SUCCESS, true};
    }
    vek_map_payload_t value{};
    st = read_value(r_, type, &value);
    if (st != VEK_ST_SUCCESS) return {st, true};
    char *k = key.get();
    st = insert(f.map, k, type, value);
    if (k == nullptr) key.take(); // the entry's key now
    return {st, true};
}

// The map on top of the stack is complete: print its exit line and insert
// it into the map above.
Outcome Decoder::finish_child() {
    vek::trace::line(call_.op(), {{"vekStatus", VEK_ST_SUCCESS}});
    Frame done = stack_[top_--];
    vek_map_payload_t value{};
    value.map = done.map;
    const vek_st_t st = insert(stack_[top_].map, done.key, VEK_MAP_TYPE_MAP, value);
    vek_map_free(done.key);
    return {st, true};
}

// Inserts an entry of `type` holding `value` under `key` (a path) into
// `map`, taking over the value's storage; on failure the storage (a child
// map with its tree) is released quietly. When the key block read from the
// stream becomes the entry's key, `key` is set to null.
vek_st_t Decoder::insert(vek_map_t *map, char *&key, int32_t type, const vek_map_payload_t &value) {
    vek_st_t st = VEK_ST_NO_MEMORY;
    // trace-only: the set path copies the key (its vek_map_malloc, vek_map_strdup
    // and vek_map_free lines print the addresses of those copies); quietly, a key
    // without '.' is stored as read from the stream, in the same entry arrays.
    if (!vek::trace::on() && std::strchr(key, '.') == nullptr) {
        vek_map_value_t *node = vek::map::new_node();
        if (node != nullptr) {
            node->payload = value;
            node->type = type;
            st = vek::map::append_owned(map, key, node);
            if (st == VEK_ST_SUCCESS) {
                key = nullptr;
                return st;
            }
            vek_map_free(node); // its payload goes below
        }
    } else {
        vek_map_value_t *node = nullptr;
        st = vek::map::alloc_value(map, key, 0, &node);
        if (st == VEK_ST_SUCCESS) {
            node->payload = value;
            node->type = type;
            return st;
        }
    }
    vek_map_value_t lost{type, value};
    vek::map::release_payload(&lost);
    return st;
}

Outcome Decoder::unwind(Outcome at_top) {
    const vek_st_t st = at_top.st;
    const bool clears = st == VEK_ST_NO_MEMORY || st == VEK_ST_MAP_INTERNAL_ERROR;
    for (; top_ > 0; --top_) {
        Frame &f = stack_[top_];
        if (clears) vek_map_clear(f.map);
        if (at_top.exit_line) vek::trace::line(call_.op(), {{"vekStatus", st}});
        at_top.exit_line = true; // levels above pass the failure on with their exit line
        vek_map_destroy(f.map);  // the map above releases its failed child
        vek_map_free(f.key);
    }
    if (clears) vek_map_clear(stack_[0].map);
    return at_top;
}

} // namespace

namespace {

vek_st_t decode_stream(vek_map_t *map, vek_map_rdfn_t rdfn, void *arg, const vek::trace::Call &call) {
    if (!vek::map::is_valid(map)) {
        call.exit({{"vekStatus", VEK_ST_MAP_INVALID_MAP}});
        return VEK_ST_MAP_INVALID_MAP;
    }
    if (rdfn == nullptr) return VEK_ST_SUCCESS; // no exit line
    // Reading from memory (vek_map_decode) the bytes left are known.
    auto *mem = rdfn == vek::map::mem_read ? static_cast<vek::map::MemReader *>(arg) : nullptr;
    Decoder decoder(map, Reader{rdfn, arg, mem}, call);
    const Outcome out = decoder.run();
    if (out.exit_line) call.exit({{"vekStatus", out.st}});
    return out.st;
}

} // namespace

extern "C" VEK_API vek_st_t vek_map_decode_from(vek_map_t *map, vek_map_rdfn_t rdfn, void *arg) {
    const vek::trace::Call call(__func__, {{"vek_map", map}, {"rdfn", rdfn}, {"arg", arg}});
    const vek_st_t st = decode_stream(map, rdfn, arg, call);
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}
