// vekutil map dump | get | text | encode | json (map set: cmd_map_set.cpp)
#include "commands.hpp"
#include "map_input.hpp"
#include "stream_walk.hpp"
#include "text_reader.hpp"
#include "values.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_set>

namespace vekutil {

namespace {

// ---- dump ------------------------------------------------------------------

int dump_main(int argc, char **argv) {
    bool full = false;
    const int rc = parse_options(kMapDumpCommand, argc, argv, [&](int, const char *) { full = true; });
    if (rc >= 0) return rc;
    if (argc - vek_optind != 1) return usage_error("expected one stream file (or - for standard input)");
    std::string bytes;
    OwnedMap m;
    WalkResult wr;
    const int lrc = load_stream(argv[vek_optind], bytes, m, wr);
    if (lrc >= 0) return lrc;
    bytes = std::string();
    const vek_st_t st = full ? vek_map_dump_full_map(m.map, stdout) : vek_map_dump_to_stream(m.map, stdout);
    if (st != VEK_ST_SUCCESS) return fail_status(st, "cannot dump the map");
    return kExitOk;
}

// ---- get -------------------------------------------------------------------

int get_main(int argc, char **argv) {
    const int rc = parse_options(kMapGetCommand, argc, argv, [](int, const char *) {});
    if (rc >= 0) return rc;
    if (argc - vek_optind != 2) return usage_error("expected a stream file and a key path");
    const std::string path = argv[vek_optind + 1];
    std::string bytes;
    OwnedMap m;
    WalkResult wr;
    const int lrc = load_stream(argv[vek_optind], bytes, m, wr);
    if (lrc >= 0) return lrc;
    vek_map_value_t *node = nullptr;
    const vek_st_t st = vek_map_get_value(m.map, path.c_str(), &node);
    if (st != VEK_ST_SUCCESS) return fail_status(st, path + ": " + path_problem(st));
    std::printf("%s\n", node_text(node).c_str());
    if (node != nullptr && node->type == VEK_MAP_TYPE_MAP && node->payload.map != nullptr) {
        const vek_st_t dst = vek_map_dump_to_stream(node->payload.map, stdout);
        if (dst != VEK_ST_SUCCESS) return fail_status(dst, "cannot dump the map");
    }
    return kExitOk;
}

// ---- text ------------------------------------------------------------------

int text_main(int argc, char **argv) {
    std::string outPath = "-";
    const int rc = parse_options(kMapTextCommand, argc, argv, [&](int, const char *arg) { outPath = arg; });
    if (rc >= 0) return rc;
    if (argc - vek_optind != 1) return usage_error("expected one stream file (or - for standard input)");
    const std::string name = input_name(argv[vek_optind]);
    std::string bytes;
    WalkResult wr;
    {
        OwnedMap m;
        const int lrc = load_stream(argv[vek_optind], bytes, m, wr);
        if (lrc >= 0) return lrc;
    }
    std::string why;
    if (!check_text_form(wr, why)) return fail_status(VEK_ST_INVALID_VALUE, name + ": " + why);
    OutFile out;
    if (!out.open(outPath)) return kExitFail;
    write_text_form(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), out.stream());
    return out.commit() ? kExitOk : kExitFail;
}

// ---- encode ----------------------------------------------------------------

int encode_main(int argc, char **argv) {
    std::string outPath = "-";
    const int rc = parse_options(kMapEncodeCommand, argc, argv, [&](int, const char *arg) { outPath = arg; });
    if (rc >= 0) return rc;
    if (argc - vek_optind != 1) return usage_error("expected one text file (or - for standard input)");
    const std::string file = argv[vek_optind];
    std::string text;
    if (!read_input(file, text)) return kExitFail;
    TextError err;
    OwnedMap m;
    m.map = read_text_form(text, err);
    if (m.map == nullptr) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s:%zu:%zu: %s: %s\n", prog().c_str(), input_name(file).c_str(), err.line, err.column,
                     vek_status_get(err.status), err.what.c_str());
        return kExitFail;
    }
    text = std::string();
    return write_stream(m.map, outPath);
}

// ---- json ------------------------------------------------------------------

class JsonOut {
public:
    explicit JsonOut(FILE *fp) : fp_(fp) {}
    ~JsonOut() { flush(); }
    void put(const std::string &s) {
        buf_ += s;
        if (buf_.size() > 65536) flush();
    }
    void put(char c) { buf_ += c; }
    void flush() {
        std::fwrite(buf_.data(), 1, buf_.size(), fp_);
        buf_.clear();
    }

    void string(const char *s, std::size_t len) {
        static const char hex[] = "0123456789abcdef";
        buf_ += '"';
        for (std::size_t i = 0; i < len;) {
            const unsigned char c = static_cast<unsigned char>(s[i]);
            if (c == '"' || c == '\\') {
                buf_ += '\\';
                buf_ += static_cast<char>(c);
                ++i;
            } else if (c == '\n' || c == '\t' || c == '\r') {
                buf_ += c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r";
                ++i;
            } else if (c < 0x20 || c == 0x7f) {
                buf_ += "\\u00";
                buf_ += hex[c >> 4];
                buf_ += hex[c & 15];
                ++i;
            } else if (c < 0x80) {
                buf_ += static_cast<char>(c);
                ++i;
            } else {
                const std::size_t n = utf8_length(s + i, len - i);
                if (n > 0) {
                    buf_.append(s + i, n);
                    i += n;
                } else { // a byte that is not UTF-8: the character of that code
                    buf_ += "\\u00";
                    buf_ += hex[c >> 4];
                    buf_ += hex[c & 15];
                    ++i;
                }
            }
        }
        buf_ += '"';
        if (buf_.size() > 65536) flush();
    }

private:
    static std::size_t utf8_length(const char *p, std::size_t left) {
        const unsigned char c = static_cast<unsigned char>(p[0]);
        std::size_t n;
        uint32_t cp;
        if (c >= 0xc2 && c <= 0xdf) {
            n = 2;
            cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            n = 3;
            cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            n = 4;
            cp = c & 0x07;
        } else {
            return 0;
        }
        if (left < n) return 0;
        for (std::size_t k = 1; k < n; ++k) {
            const unsigned char d = static_cast<unsigned char>(p[k]);
            if ((d & 0xc0) != 0x80) return 0;
            cp = (cp << 6) | (d & 0x3f);
        }
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10ffff)) || (cp >= 0xd800 && cp <= 0xdfff)) {
            return 0;
        }
        return n;
    }

    FILE *fp_;
    std::string buf_;
};

void indent(JsonOut &o, int depth) { o.put(std::string(static_cast<std::size_t>(depth) * 2, ' ')); }

template <typename T>
std::string json_real(T v) {
    if (std::isnan(v)) return "\"nan\"";
    if (std::isinf(v)) return v < 0 ? "\"-inf\"" : "\"inf\"";
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

void json_map(JsonOut &o, vek_map_t *map, int depth);

void json_value(JsonOut &o, const vek_map_value_t *node, int depth) {
    if (node == nullptr) {
        o.put("null");
        return;
    }
    const vek_map_payload_t &p = node->payload;
    switch (node->type) {
    case VEK_MAP_TYPE_I32: o.put(std::to_string(p.i32)); return;
    case VEK_MAP_TYPE_U32: o.put(std::to_string(p.u32)); return;
    case VEK_MAP_TYPE_I64: o.put(std::to_string(p.i64)); return;
    case VEK_MAP_TYPE_U64: o.put(std::to_string(p.u64)); return;
    case VEK_MAP_TYPE_FLOAT: o.put(json_real(p.f32)); return;
    case VEK_MAP_TYPE_DOUBLE: o.put(json_real(p.f64)); return;
    case VEK_MAP_TYPE_BOOL: o.put(p.boolean != 0 ? "true" : "false"); return;
    case VEK_MAP_TYPE_STR:
        if (p.str == nullptr) {
            o.put("\"\"");
        } else {
            o.string(p.str, std::strlen(p.str));
        }
        return;
    case VEK_MAP_TYPE_BIN: {
        const std::string h =
            p.bin.data == nullptr ? std::string() : hex_text(static_cast<const unsigned char *>(p.bin.data), p.bin.len);
        o.string(h.data(), h.size());
        return;
    }
    case VEK_MAP_TYPE_MAP:
        if (p.map == nullptr) {
            o.put("{}");
        } else {
            json_map(o, p.map, depth);
        }
        return;
    default: o.put("null"); return;
    }
}

void json_map(JsonOut &o, vek_map_t *map, int depth) {
    int32_t n = 0;
    if (vek_map_length(map, &n) != VEK_ST_SUCCESS || n == 0) {
        o.put("{}");
        return;
    }
    // An object when no two keys are equal (letter case ignored, as the
    // map compares them); otherwise an array of [key, value] pairs.
    bool repeated = false;
    {
        std::unordered_set<std::string> seen;
        for (int32_t i = 0; i < n && !repeated; ++i) {
            char *key = nullptr;
            vek_map_get_ith_key(map, i, &key);
            std::string lower = key == nullptr ? std::string() : key;
            for (char &ch : lower) {
                if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
            }
            repeated = !seen.insert(lower).second;
        }
    }
    o.put(repeated ? "[\n" : "{\n");
    for (int32_t i = 0; i < n; ++i) {
        char *key = nullptr;
        vek_map_value_t *node = nullptr;
        vek_map_get_ith_key(map, i, &key);
        vek_map_get_ith_value(map, i, &node);
        indent(o, depth + 1);
        if (repeated) o.put('[');
        o.string(key == nullptr ? "" : key, key == nullptr ? 0 : std::strlen(key));
        o.put(repeated ? ", " : ": ");
        json_value(o, node, depth + 1);
        if (repeated) o.put(']');
        o.put(i + 1 < n ? ",\n" : "\n");
    }
    indent(o, depth);
    o.put(repeated ? "]" : "}");
}

int json_main(int argc, char **argv) {
    std::string outPath = "-";
    const int rc = parse_options(kMapJsonCommand, argc, argv, [&](int, const char *arg) { outPath = arg; });
    if (rc >= 0) return rc;
    if (argc - vek_optind != 1) return usage_error("expected one stream file (or - for standard input)");
    std::string bytes;
    OwnedMap m;
    WalkResult wr;
    const int lrc = load_stream(argv[vek_optind], bytes, m, wr);
    if (lrc >= 0) return lrc;
    bytes = std::string();
    OutFile out;
    if (!out.open(outPath)) return kExitFail;
    {
        JsonOut o(out.stream());
        json_map(o, m.map, 0);
        o.put('\n');
    }
    return out.commit() ? kExitOk : kExitFail;
}

} // namespace

const Command kMapDumpCommand{"map dump",
                              {{'f', "full", false}},
                              R"HELP(Usage: vekutil map dump [--full] FILE|-

Decodes a map stream and prints it with the library's dump: one line per
entry, nested maps indented by 4 more spaces and marked with their i32 "id"
entries ([id=3]). With --full every line carries the entry's whole dotted
key path instead of indentation.

Options:
  -f, --full    print full key paths
  -T, --trace   turn on the library's trace lines
  -h, --help    print this help
)HELP",
                              dump_main};

const Command kMapGetCommand{"map get",
                             {},
                             R"HELP(Usage: vekutil map get FILE|- PATH

Prints the value at a key path with its type, in the value syntax of the
text form: "(u32) 1500", "(str) \"eth0\"", "(bin) 0a0b". A map prints
"(map)" and then its entries with the indented dump. The path is dotted and
may pick one of several like-named maps by a field: port[id=3].speed.
Names and fields are compared without regard to letter case.

Options:
  -T, --trace   turn on the library's trace lines
  -h, --help    print this help
)HELP",
                             get_main};

const Command kMapTextCommand{"map text",
                              {{'o', "output", true}},
                              R"HELP(Usage: vekutil map text FILE|- [-o OUT]

Writes the lossless text form of a map stream: one entry a line, in stream
order, repeated keys kept, nested entries indented by 4 spaces per level:

  KEY = (TYPE) VALUE

KEY is bare when made of letters, digits and _-+/:@$%&!?,;~^|'*<>{},
else quoted. VALUE by TYPE: i32 i64 u32 u64 in decimal; float and double as
the shortest decimal that reads back to the same bits (inf, -inf,
nan(0xBITS)); bool TRUE or FALSE; str quoted with \\ \" \n \t \r \xHH;
bin as hex digits (nothing for no bytes); map, none and "type N" (an
unknown type code) have no value. `vekutil map encode` turns the text back
into the same stream, byte for byte.

Options:
  -o, --output OUT  write the text to OUT instead of standard output
  -T, --trace       turn on the library's trace lines
  -h, --help        print this help
)HELP",
                              text_main};

const Command kMapEncodeCommand{"map encode",
                                {{'o', "output", true}},
                                R"HELP(Usage: vekutil map encode TEXT|- [-o OUT]

Reads the text form written by `vekutil map text` and encodes it into a map
stream with the library. Blank lines and lines starting with '#' are
skipped; a '#' after a value starts a comment. Errors name the line and
column. Without -o the stream goes to standard output (not to a terminal).

Options:
  -o, --output OUT  write the stream to OUT (complete or not at all)
  -T, --trace       turn on the library's trace lines
  -h, --help        print this help
)HELP",
                                encode_main};

const Command kMapJsonCommand{"map json",
                              {{'o', "output", true}},
                              R"HELP(Usage: vekutil map json FILE|- [-o OUT]

Exports a map stream as JSON (UTF-8, 2-space indentation):
  - a map is an object when no two of its keys are equal (letter case
    ignored, as the map compares keys), otherwise an array of
    [key, value] pairs in entry order;
  - i32, u32, i64, u64: numbers (exact decimal; beyond 2^53 a JSON reader
    may round them);
  - float, double: the shortest decimal that reads back to the same value;
    "inf", "-inf" and "nan" as strings;
  - bool: true or false; str: a string (bytes that are not UTF-8 become
    \u00XX); bin: a string of hex digits;
  - entries of type none or of an unknown type code are left out (the
    decoder skips them): no value is ever null.
The export does not keep the type of a value; the text form does.

Options:
  -o, --output OUT  write the JSON to OUT instead of standard output
  -T, --trace       turn on the library's trace lines
  -h, --help        print this help
)HELP",
                              json_main};

} // namespace vekutil
