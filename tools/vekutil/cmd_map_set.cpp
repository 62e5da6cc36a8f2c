// vekutil map set: one value of a stream changed in its bytes.
#include "commands.hpp"
#include "map_input.hpp"
#include "stream_edit.hpp"
#include "stream_walk.hpp"
#include "values.hpp"

#include <climits>
#include <cstring>
#include <string>

namespace vekutil {

namespace {

// Parses VALUE as TYPE and returns the setter that puts it into a map;
// false for a value that is not one of TYPE.
bool value_setter(int32_t type, const std::string &value, ValueSetter &out) {
    switch (type) {
    case VEK_MAP_TYPE_I32:
    case VEK_MAP_TYPE_I64: {
        int64_t v;
        const bool wide = type == VEK_MAP_TYPE_I64;
        if (!parse_i64(value, wide ? INT64_MIN : INT32_MIN, wide ? INT64_MAX : INT32_MAX, v)) return false;
        out = [v, wide](vek_map_t *m, const char *k) {
            return wide ? vek_map_set_i64_ll(m, k, v, 0) : vek_map_set_i32_ll(m, k, static_cast<int32_t>(v), 0);
        };
        return true;
    }
    case VEK_MAP_TYPE_U32:
    case VEK_MAP_TYPE_U64: {
        uint64_t v;
        const bool wide = type == VEK_MAP_TYPE_U64;
        if (!parse_u64(value, wide ? UINT64_MAX : UINT32_MAX, v)) return false;
        out = [v, wide](vek_map_t *m, const char *k) {
            return wide ? vek_map_set_u64_ll(m, k, v, 0) : vek_map_set_u32_ll(m, k, static_cast<uint32_t>(v), 0);
        };
        return true;
    }
    case VEK_MAP_TYPE_FLOAT: {
        uint32_t bits;
        if (!parse_float(value, bits)) return false;
        out = [bits](vek_map_t *m, const char *k) {
            float f;
            std::memcpy(&f, &bits, sizeof f);
            return vek_map_set_float_ll(m, k, f, 0);
        };
        return true;
    }
    case VEK_MAP_TYPE_DOUBLE: {
        uint64_t bits;
        if (!parse_double(value, bits)) return false;
        out = [bits](vek_map_t *m, const char *k) {
            double d;
            std::memcpy(&d, &bits, sizeof d);
            return vek_map_set_double_ll(m, k, d, 0);
        };
        return true;
    }
    case VEK_MAP_TYPE_BOOL: {
        uint8_t b;
        if (!parse_bool(value, b)) return false;
        out = [b](vek_map_t *m, const char *k) { return vek_map_set_bool_ll(m, k, b, 0); };
        return true;
    }
    case VEK_MAP_TYPE_STR:
        out = [value](vek_map_t *m, const char *k) {
            char *copy = vek_map_strdup(value.c_str());
            if (copy == nullptr) return VEK_ST_NO_MEMORY;
            const vek_st_t st = vek_map_set_str_ll(m, k, copy, 0);
            if (st != VEK_ST_SUCCESS) vek_map_free(copy);
            return st;
        };
        return true;
    case VEK_MAP_TYPE_BIN: {
        std::string raw;
        if (!parse_hex(value, raw)) return false;
        out = [raw](vek_map_t *m, const char *k) {
            void *data = nullptr;
            if (!raw.empty()) {
                data = vek_map_malloc(raw.size());
                if (data == nullptr) return VEK_ST_NO_MEMORY;
                std::memcpy(data, raw.data(), raw.size());
            }
            const vek_st_t st = vek_map_set_bin_ll(m, k, data, static_cast<uint32_t>(raw.size()), 0);
            if (st != VEK_ST_SUCCESS) vek_map_free(data);
            return st;
        };
        return true;
    }
    default: return true; // map: no value
    }
}

int set_main(int argc, char **argv) {
    std::string outPath;
    EditRequest req;
    const int rc = parse_options(kMapSetCommand, argc, argv, [&](int c, const char *arg) {
        if (c == 'c') {
            req.create = true;
        } else if (c == 'r') {
            req.retype = true;
        } else {
            outPath = arg;
        }
    });
    if (rc >= 0) return rc;
    const int nargs = argc - vek_optind;
    if (nargs < 3 || nargs > 4) return usage_error("expected FILE PATH TYPE VALUE");
    const std::string file = argv[vek_optind];
    req.path = argv[vek_optind + 1];
    const std::string typeName = argv[vek_optind + 2];
    if (!type_from_name(typeName, req.type) || req.type == VEK_MAP_TYPE_NONE) {
        return usage_error("unknown type '" + typeName + "' (i32 u32 i64 u64 float double bool str bin map)");
    }
    if (nargs == 3 && req.type != VEK_MAP_TYPE_MAP && req.type != VEK_MAP_TYPE_BIN && req.type != VEK_MAP_TYPE_STR) {
        return usage_error("expected a value after the type");
    }
    const std::string value = nargs == 4 ? argv[vek_optind + 3] : "";
    if (req.type == VEK_MAP_TYPE_MAP && !value.empty()) {
        return usage_error("type map takes no value (it sets an empty map)");
    }
    if (!value_setter(req.type, value, req.setValue)) {
        return fail_status(VEK_ST_INVALID_VALUE, "not a valid " + typeName + " value: '" + value + "'");
    }
    if (outPath.empty()) outPath = file;

    std::string bytes;
    OwnedMap m;
    WalkResult wr;
    const int lrc = load_stream(file, bytes, m, wr);
    if (lrc >= 0) return lrc;
    if (wr.dottedKeys != 0) {
        return fail_status(
            VEK_ST_INVALID_VALUE,
            input_name(file) + ": " + std::to_string(wr.dottedKeys) +
                " key(s) hold a '.', which the decoder takes as a key path: the entries of the "
                "stream and of the decoded map differ, and map set cannot tell which bytes a path names");
    }
    const EditResult r = set_in_stream(bytes, m.map, req);
    if (!r.ok) return fail_status(r.status, r.message);
    return write_stream_bytes(r.bytes, outPath);
}

} // namespace

const Command kMapSetCommand{"map set",
                             {{'c', "create", false}, {'r', "retype", false}, {'o', "output", true}},
                             R"HELP(Usage: vekutil map set [--create] [--retype] FILE PATH TYPE VALUE [-o OUT]

Changes one value of the map stream FILE and writes the stream back to
FILE, or to OUT. PATH is found as `vekutil map get` finds it: dotted, names
compared without regard to letter case, port[id=2] picks the first map
port whose id is 2, the first match counts. Only the bytes of that value
change; every other byte stays as it was, entries the decoder skips and
exact float bits included. The file is written to a temporary file beside
it and renamed.

By default PATH must name an existing value of TYPE; anything else fails
with exit status 1 and changes nothing. Options allow more:
  --create   add what is missing: the entry goes at the end of the map
             that lacks it, with the maps on its path; a map added for
             name[field=value] holds that field first
  --retype   give an existing value another type
Replacing a map or a text by another kind of value, and a value on the
path by a map, needs both. A path that ends in a selector names a map:
its TYPE can only be map.

TYPE and VALUE:
  i32 i64       a decimal number with an optional '-', or 0x and hex digits
  u32 u64       a decimal number, or 0x and hex digits
  float double  a decimal or hex float, inf, -inf, nan or nan(0xBITS)
  bool          TRUE, FALSE, true, false, 1 or 0
  str           the text as given (may be empty or left out)
  bin           hexadecimal digits, two per byte (may be left out)
  map           no value: an empty map (one picked by a selector keeps
                the field it was picked by)

Options:
  -c, --create      add missing entries and maps
  -r, --retype      allow another type
  -o, --output OUT  write the stream to OUT (- for standard output)
  -T, --trace       turn on the library's trace lines
  -h, --help        print this help
)HELP",
                             set_main};

} // namespace vekutil
