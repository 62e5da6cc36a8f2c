// Text dumps of a map tree, one line per entry: indented (console or a
// caller's stream) or with every entry's full dotted path.
//
// All three dumps share the value text of an entry and the identifier
// annotation of a nested map: every i32 entry named "id" (case ignored) of
// the child adds "[<key as stored>=<value>]" after the map's key.
//
//     indented                        full path
//         mtu = (i32) 1500            mtu = (i32) 1500
//         port[id=3] = (map)          port[id=3] = (map)
//             id = (i32) 3            port[id=3].id = (i32) 3
//             name = (str) eth0       port[id=3].name = (str) eth0
//
// (A map line ends with a blank before its newline.) An entry whose node
// has a type code without text, or that holds no node at all, prints its
// key part only: the line stays open and the next output continues on it.
//
// Depth. The printers walk the tree with an explicit stack of fixed size in
// their own frame, not by recursion, so stack use does not grow with the
// tree. They print maps down to VEK_MAP_DECODE_MAX_DEPTH levels below the
// map handed in (every map the encoder accepts); a map deeper than that
// prints its own "(map)" line but not its entries (in the indented dumps its
// trace lines show VEK_ST_MAP_INTERNAL_ERROR), and the dump goes on with the
// next entry.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <vek/vek_map.h>
#include <vek/vek_sal.h>
#include <vek/vek_status.h>

#include "foundation/check.hpp"
#include "foundation/invariant.hpp"
#include "foundation/memory.hpp"
#include "foundation/trace.hpp"
#include "map/map_internal.hpp"

namespace {

using vek::map::is_valid;
using vek::map::kMaxDepth;

bool is_map_node(const vek_map_value_t *node) { return vek::map::node_type(node) == VEK_MAP_TYPE_MAP; }

// The value text of one entry, printed after its key part.
void print_value(std::FILE *out, const vek_map_value_t *node) {
    if (node == nullptr) return;
    const vek_map_payload_t &p = node->payload;
    switch (node->type) {
    case VEK_MAP_TYPE_I32: std::fprintf(out, "(i32) %d\n", static_cast<int>(p.i32)); break;
    case VEK_MAP_TYPE_U32: std::fprintf(out, "(u32) %u\n", static_cast<unsigned>(p.u32)); break;
    case VEK_MAP_TYPE_I64: std::fprintf(out, "(i64) %lld\n", static_cast<long long>(p.i64)); break;
    case VEK_MAP_TYPE_U64: std::fprintf(out, "(u64) %llu\n", static_cast<unsigned long long>(p.u64)); break;
    case VEK_MAP_TYPE_FLOAT: std::fprintf(out, "(float) %f\n", static_cast<double>(p.f32)); break;
    case VEK_MAP_TYPE_DOUBLE: std::fprintf(out, "(double) %e\n", p.f64); break;
    case VEK_MAP_TYPE_STR: std::fprintf(out, "(str) %s\n", p.str != nullptr ? p.str : ""); break;
    // The byte count is unsigned 32-bit and prints as such.
    case VEK_MAP_TYPE_BIN: std::fprintf(out, "(bin) (%u bytes)\n", static_cast<unsigned>(p.bin.len)); break;
    case VEK_MAP_TYPE_BOOL: std::fprintf(out, "(bool) %s\n", p.boolean != 0u ? "TRUE" : "FALSE"); break;
    default: break; // no text: the line stays open
    }
}

// Calls fn(key, id) for each identifier entry of a child map, in entry
// order. An absent or invalid child, and entries without a node, add nothing.
template <typename Fn>
void for_each_id(const vek_map_t *child, Fn fn) {
    if (!is_valid(child)) return;
    for (int32_t i = 0; i < child->count; ++i) {
        const vek_map_value_t *node = child->values[i];
        const char *key = child->keys[i];
        if (vek::map::node_type(node) == VEK_MAP_TYPE_I32 && VEK_ALWAYS(key != nullptr) && vek_stricmp(key, "id") == 0)
            fn(key, node->payload.i32);
    }
}

// ---- indented dumps ---------------------------------------------------

// Console and stream dumps. Each map printed gets an entry and an exit
// trace line under the name of `call` (the recursive printer's), with its
// indentation, as if printed by one call per map; `call` itself stands for
// the top map's.
class IndentedPrinter {
public:
    IndentedPrinter(std::FILE *out, bool console, const vek::trace::Call &call)
        : out_(out), console_(console), call_(call) {}

    vek_st_t print(vek_map_t *top) {
        if (!is_valid(top)) return VEK_ST_MAP_INVALID_MAP;
        if (out_ == nullptr) return VEK_ST_INVALID_PARAMETER;
        Level stack[kMaxDepth + 1];
        int32_t depth = 0;
        stack[0] = {top, 0};
        for (;;) {
            Level &level = stack[depth];
            if (level.next >= level.map->count) {
                if (!console_) std::fflush(out_);
                if (depth == 0) return VEK_ST_SUCCESS;
                trace_exit(VEK_ST_SUCCESS);
                --depth;
                continue;
            }
            const int32_t i = level.next++;
            vek_map_t *child = print_entry(level.map, i, depth);
            if (child == nullptr) continue;
            // A child that cannot be printed shows only its own trace lines.
            trace_entry(child, depth + 1);
            if (!is_valid(child)) {
                trace_exit(VEK_ST_MAP_INVALID_MAP);
            } else if (depth == kMaxDepth) {
                trace_exit(VEK_ST_MAP_INTERNAL_ERROR);
            } else {
                stack[++depth] = {child, 0};
            }
        }
    }

    static int32_t indent_of(int32_t depth) { return 4 + 4 * depth; }

private:
    struct Level {
        vek_map_t *map;
        int32_t next;
    };

    // Prints entry i of a map at `depth`; returns the child map pointer to
    // descend into (map entries with a non-null child), else null.
    vek_map_t *print_entry(const vek_map_t *map, int32_t i, int32_t depth) {
        const vek_map_value_t *node = map->values[i];
        std::fprintf(out_, "%*s", static_cast<int>(indent_of(depth)), "");
        if (!is_map_node(node)) {
            std::fprintf(out_, "%s = ", map->keys[i]);
            print_value(out_, node);
            return nullptr;
        }
        vek_map_t *child = node->payload.map;
        std::fputs(map->keys[i], out_);
        for_each_id(child, [this](const char *key, int32_t id) { std::fprintf(out_, "[%s=%d]", key, id); });
        std::fputs(" = (map) \n", out_);
        return child;
    }

    void trace_entry(const vek_map_t *map, int32_t depth) const {
        if (console_) {
            vek::trace::line(call_.op(), {{"vek_map", map}, {"indentBy", indent_of(depth)}});
        } else {
            vek::trace::line(call_.op(), {{"vek_map", map}, {"stream", out_}, {"indentBy", indent_of(depth)}});
        }
    }

    void trace_exit(vek_st_t st) const { vek::trace::line(call_.op(), {{"vekStatus", st}}); }

    std::FILE *out_;
    bool console_;
    const vek::trace::Call &call_;
};

// The recursive printers of the two indented dumps, whose names their trace
// lines carry; the exported entries print no lines of their own.
constexpr const char *kConsoleOp = "dump_to_console"; // printed in trace lines
constexpr const char *kStreamOp = "dump_to_stream";   // printed in trace lines

vek_st_t dump_to_console(vek_map_t *map, int32_t indentBy) {
    const vek::trace::Call call(kConsoleOp, {{"vek_map", map}, {"indentBy", indentBy}});
    const vek_st_t st = IndentedPrinter(stdout, true, call).print(map);
    call.exit({{"vekStatus", st}});
    return st;
}

vek_st_t dump_to_stream(vek_map_t *map, std::FILE *stream, int32_t indentBy) {
    const vek::trace::Call call(kStreamOp, {{"vek_map", map}, {"stream", stream}, {"indentBy", indentBy}});
    const vek_st_t st = IndentedPrinter(stream, false, call).print(map);
    call.exit({{"vekStatus", st}});
    return st;
}

// ---- full-path dump ---------------------------------------------------

// Bytes of one level's path buffer, terminator included.
constexpr std::size_t kPathBytes = 1024;

// The path text of one level in a kPathBytes buffer. Appends that do not fit
// are cut at the buffer's end: the text never exceeds kPathBytes - 1
// characters and nothing is written past the buffer. A path that is too long
// thus prints cut short on its map line, and the deeper levels still print,
// each of their lines starting with that same cut path.
class PathBuffer {
public:
    PathBuffer() = default;
    PathBuffer(char *buf, const char *prefix) : buf_(buf) {
        buf_[0] = '\0';
        append("%s", prefix);
    }

    template <typename... Args>
    void append(const char *fmt, Args... args) {
        const std::size_t room = kPathBytes - len_;
        const int n = std::snprintf(buf_ + len_, room, fmt, args...);
        if (n < 0) {
            buf_[len_] = '\0';
        } else {
            len_ = static_cast<std::size_t>(n) < room ? len_ + static_cast<std::size_t>(n) : kPathBytes - 1;
        }
    }

    void cut(std::size_t len) {
        len_ = len;
        buf_[len_] = '\0';
    }

    std::size_t length() const { return len_; }
    const char *text() const { return buf_; }
    char *release() { return buf_; }

private:
    char *buf_ = nullptr;
    std::size_t len_ = 0;
};

// One level of the full-path walk: its map, its next entry, and its working
// buffer holding the level's prefix (plus the key of a map entry being
// printed). Each level owns a buffer from vek_malloc for its duration.
struct FullLevel {
    vek_map_t *map;
    int32_t next;
    PathBuffer path;
    std::size_t base; // length of the level's prefix
};

// Opens a level for a valid map: 0, or VEK_ST_NO_MEMORY for its buffer.
vek_st_t open_level(FullLevel *level, vek_map_t *map, const char *prefix) {
    char *buf = static_cast<char *>(vek_malloc(kPathBytes));
    if (buf == nullptr) return VEK_ST_NO_MEMORY;
    level->map = map;
    level->next = 0;
    level->path = PathBuffer(buf, prefix);
    level->base = level->path.length();
    return VEK_ST_SUCCESS;
}

// Prints a map entry's line into the level's buffer and returns the child
// to descend into (null child: none). The buffer keeps "<key>[annotations]."
// for the child's prefix; the caller cuts it back.
vek_map_t *print_map_line(std::FILE *out, FullLevel &level, int32_t i) {
    vek_map_t *child = level.map->values[i]->payload.map;
    PathBuffer &path = level.path;
    path.append("%s", level.map->keys[i]);
    for_each_id(child, [&path](const char *key, int32_t id) { path.append("[%s=%d]", key, id); });
    std::fprintf(out, "%s = (map) \n", path.text());
    path.append("%s", ".");
    return child;
}

// The full-path printer: every line starts with the path of its map. A
// nested map that is invalid, lies too deep, or whose buffer cannot be
// allocated prints nothing below its own line; the parent goes on. No trace.
vek_st_t print_full(vek_map_t *top, std::FILE *out, const char *prefix) {
    if (!is_valid(top)) return VEK_ST_MAP_INVALID_MAP;
    FullLevel stack[kMaxDepth + 1];
    int32_t depth = 0;
    const vek_st_t st = open_level(&stack[0], top, prefix);
    if (st != VEK_ST_SUCCESS) return st;
    while (depth >= 0) {
        FullLevel &level = stack[depth];
        if (level.next >= level.map->count) {
            std::fflush(out);
            vek_free(level.path.release());
            --depth;
            continue;
        }
        const int32_t i = level.next++;
        const vek_map_value_t *node = level.map->values[i];
        if (!is_map_node(node)) {
            std::fprintf(out, "%s%s = ", level.path.text(), level.map->keys[i]);
            print_value(out, node);
            continue;
        }
        vek_map_t *child = print_map_line(out, level, i);
        if (is_valid(child) && depth < kMaxDepth &&
            open_level(&stack[depth + 1], child, level.path.text()) == VEK_ST_SUCCESS) {
            ++depth;
        }
        level.path.cut(level.base);
    }
    return VEK_ST_SUCCESS;
}

// The full-path dump of a valid map on a stream, from an empty prefix.
vek_st_t dump_full(vek_map_t *map, std::FILE *stream) {
    if (!is_valid(map)) return VEK_ST_MAP_INVALID_MAP;
    if (stream == nullptr) return VEK_ST_INVALID_PARAMETER;
    const vek::HeapPtr<char> prefix(static_cast<char *>(vek_malloc(kPathBytes)));
    if (!prefix) return VEK_ST_NO_MEMORY;
    std::memset(prefix.get(), 0, kPathBytes);
    return print_full(map, stream, prefix.get());
}

} // namespace

extern "C" VEK_API vek_st_t vek_map_dump_to_console(vek_map_t *map) {
    const vek_st_t st = dump_to_console(map, IndentedPrinter::indent_of(0));
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}

extern "C" VEK_API vek_st_t vek_map_dump_to_stream(vek_map_t *map, FILE *stream) {
    const vek_st_t st = dump_to_stream(map, stream, IndentedPrinter::indent_of(0));
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}

extern "C" VEK_API vek_st_t vek_map_dump_full_map(vek_map_t *map, FILE *stream) {
    const vek::trace::Call call(__func__, {{"vek_map", map}, {"stream", stream}});
    const vek_st_t st = dump_full(map, stream);
    call.exit({{"vekStatus", st}});
    VEK_CHECK_STRUCTURE(vek::map::verify_if_map(map));
    return st;
}
