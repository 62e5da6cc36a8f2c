#include "text_reader.hpp"

#include "values.hpp"

#include <cstring>
#include <vector>

namespace vekutil {

namespace {

struct Fail {
    std::size_t column; // 0-based
    vek_st_t status;
    std::string what;
};

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

Fail parse_fail(std::size_t col, const std::string &what) { return Fail{col, VEK_ST_PARSE_ERROR, what}; }

// Reads a quoted text starting at line[pos] == '"'; pos ends after the
// closing quote.
std::string read_quoted(const std::string &line, std::size_t &pos) {
    const std::size_t open = pos++;
    std::string out;
    while (true) {
        if (pos >= line.size()) throw parse_fail(open, "a quoted text without its closing '\"'");
        const unsigned char c = static_cast<unsigned char>(line[pos]);
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\') {
            const char e = pos + 1 < line.size() ? line[pos + 1] : '\0';
            switch (e) {
            case '\\':
                out += '\\';
                pos += 2;
                continue;
            case '"':
                out += '"';
                pos += 2;
                continue;
            case 'n':
                out += '\n';
                pos += 2;
                continue;
            case 't':
                out += '\t';
                pos += 2;
                continue;
            case 'r':
                out += '\r';
                pos += 2;
                continue;
            case 'x':
                if (pos + 3 < line.size() && hex_value(line[pos + 2]) >= 0 && hex_value(line[pos + 3]) >= 0) {
                    out += static_cast<char>(hex_value(line[pos + 2]) * 16 + hex_value(line[pos + 3]));
                    pos += 4;
                    continue;
                }
                throw parse_fail(pos, "\\x must be followed by two hexadecimal digits");
            default: throw parse_fail(pos, "unknown escape (use \\\\ \\\" \\n \\t \\r or \\xHH)");
            }
        }
        if (c < 0x20 || c == 0x7f) throw parse_fail(pos, "a control character in a quoted text (write it as \\xHH)");
        out += static_cast<char>(c);
        ++pos;
    }
}

void skip_blanks(const std::string &line, std::size_t &pos) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
}

// Only blanks and an optional comment may follow.
void expect_end(const std::string &line, std::size_t pos, const char *after) {
    skip_blanks(line, pos);
    if (pos < line.size() && line[pos] != '#') throw parse_fail(pos, std::string("unexpected text after ") + after);
}

void check_set(vek_st_t st, std::size_t col, const char *what) {
    if (st != VEK_ST_SUCCESS) throw Fail{col, st, std::string("cannot add the ") + what};
}

class Reader {
public:
    ~Reader() {
        if (root_ != nullptr) vek_map_destroy(root_);
    }

    vek_map_t *run(const std::string &text, TextError &err) {
        if (vek_map_create(&root_) != VEK_ST_SUCCESS) {
            err = TextError{0, 0, VEK_ST_NO_MEMORY, "cannot create a map"};
            return nullptr;
        }
        stack_.push_back(root_);
        std::size_t lineNo = 0;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::size_t stop = end;
            if (stop > start && text[stop - 1] == '\r') --stop;
            ++lineNo;
            line_.assign(text, start, stop - start);
            try {
                one_line();
            } catch (const Fail &f) {
                err = TextError{lineNo, f.column + 1, f.status, f.what};
                return nullptr;
            }
            start = end + 1;
        }
        vek_map_t *done = root_;
        root_ = nullptr;
        return done;
    }

private:
    void one_line() {
        const std::string &line = line_;
        std::size_t pos = 0;
        skip_blanks(line, pos);
        if (pos < line.size() && line[pos] == '\t') throw parse_fail(pos, "a tab in the indentation (use spaces)");
        if (pos == line.size() || line[pos] == '#') return;
        if (pos % 4 != 0) throw parse_fail(pos, "the indentation must be a multiple of 4 spaces");
        const std::size_t depth = pos / 4;
        if (depth >= stack_.size()) {
            throw parse_fail(pos,
                             "indented deeper than allowed here (only the entries of a (map) go one level deeper)");
        }
        stack_.resize(depth + 1);
        vek_map_t *map = stack_[depth];

        // Key.
        const std::size_t keyCol = pos;
        std::string key;
        if (line[pos] == '"') {
            key = read_quoted(line, pos);
        } else {
            while (pos < line.size() && (bare_key_char(static_cast<unsigned char>(line[pos])) || line[pos] == '.')) {
                key += line[pos++];
            }
            if (key.empty()) throw parse_fail(pos, "expected a key (quote keys that hold other characters)");
        }
        if (key.find('.') != std::string::npos) {
            throw parse_fail(keyCol, "a key cannot hold '.' (the map takes it as a key path)");
        }
        if (key.find('\0') != std::string::npos) throw parse_fail(keyCol, "a key cannot hold a NUL byte");

        // " = (type)".
        skip_blanks(line, pos);
        if (pos >= line.size() || line[pos] != '=') throw parse_fail(pos, "expected '=' after the key");
        ++pos;
        skip_blanks(line, pos);
        if (pos >= line.size() || line[pos] != '(') throw parse_fail(pos, "expected '(' and a type after '='");
        const std::size_t typeCol = ++pos;
        const std::size_t close = line.find(')', pos);
        if (close == std::string::npos) throw parse_fail(pos, "expected ')' after the type");
        const std::string typeName = line.substr(pos, close - pos);
        int32_t type;
        if (typeName.compare(0, 5, "type ") == 0) {
            int64_t code;
            if (!parse_i64(typeName.substr(5), INT32_MIN, INT32_MAX, code)) {
                throw parse_fail(typeCol + 5, "expected a 32-bit type code after 'type'");
            }
            type = static_cast<int32_t>(code);
        } else if (!type_from_name(typeName, type)) {
            throw parse_fail(typeCol, "unknown type '" + typeName +
                                          "' (str map bin i32 i64 float bool u32 double u64 none, or type N)");
        }
        pos = close + 1;
        add(map, key, type, pos, keyCol);
    }

    // The value token after ") ", for the types that have one.
    std::string value_token(std::size_t &pos, std::size_t &col, const char *typeName) {
        const std::string &line = line_;
        if (pos >= line.size() || line[pos] != ' ') {
            throw parse_fail(pos, std::string("expected a blank and a value after (") + typeName + ")");
        }
        skip_blanks(line, pos);
        col = pos;
        if (pos >= line.size() || line[pos] == '#')
            throw parse_fail(pos, std::string("expected a ") + typeName + " value");
        std::size_t end = line.find(' ', pos);
        if (end == std::string::npos) end = line.size();
        std::string tok = line.substr(pos, end - pos);
        pos = end;
        return tok;
    }

    void add(vek_map_t *map, const std::string &key, int32_t type, std::size_t pos, std::size_t keyCol) {
        const std::string &line = line_;
        const char *k = key.c_str();
        std::size_t col = pos;
        const std::string label = type_label(type);
        switch (type) {
        case VEK_MAP_TYPE_I32:
        case VEK_MAP_TYPE_I64: {
            const bool wide = type == VEK_MAP_TYPE_I64;
            const std::string tok = value_token(pos, col, label.c_str());
            int64_t v;
            if (!parse_i64(tok, wide ? INT64_MIN : INT32_MIN, wide ? INT64_MAX : INT32_MAX, v)) {
                throw parse_fail(col, "not a valid " + label + " value: " + tok);
            }
            expect_end(line, pos, "the value");
            check_set(wide ? vek_map_set_i64_ll(map, k, v, 0) : vek_map_set_i32_ll(map, k, static_cast<int32_t>(v), 0),
                      keyCol, "entry");
            return;
        }
        case VEK_MAP_TYPE_U32:
        case VEK_MAP_TYPE_U64: {
            const bool wide = type == VEK_MAP_TYPE_U64;
            const std::string tok = value_token(pos, col, label.c_str());
            uint64_t v;
            if (!parse_u64(tok, wide ? UINT64_MAX : UINT32_MAX, v)) {
                throw parse_fail(col, "not a valid " + label + " value: " + tok);
            }
            expect_end(line, pos, "the value");
            check_set(wide ? vek_map_set_u64_ll(map, k, v, 0) : vek_map_set_u32_ll(map, k, static_cast<uint32_t>(v), 0),
                      keyCol, "entry");
            return;
        }
        case VEK_MAP_TYPE_FLOAT:
        case VEK_MAP_TYPE_DOUBLE: {
            const std::string tok = value_token(pos, col, label.c_str());
            vek_map_value_t node{};
            node.type = type;
            if (type == VEK_MAP_TYPE_FLOAT) {
                uint32_t bits;
                if (!parse_float(tok, bits)) throw parse_fail(col, "not a valid float value: " + tok);
                std::memcpy(&node.payload.f32, &bits, sizeof bits);
            } else {
                uint64_t bits;
                if (!parse_double(tok, bits)) throw parse_fail(col, "not a valid double value: " + tok);
                std::memcpy(&node.payload.f64, &bits, sizeof bits);
            }
            expect_end(line, pos, "the value");
            add_node(map, k, node, keyCol);
            return;
        }
        case VEK_MAP_TYPE_BOOL: {
            const std::string tok = value_token(pos, col, "bool");
            uint8_t v;
            if (!parse_bool(tok, v)) throw parse_fail(col, "not a valid bool value (TRUE or FALSE): " + tok);
            expect_end(line, pos, "the value");
            check_set(vek_map_set_bool_ll(map, k, v, 0), keyCol, "entry");
            return;
        }
        case VEK_MAP_TYPE_STR: {
            if (pos >= line.size() || line[pos] != ' ')
                throw parse_fail(pos, "expected a blank and a quoted text after (str)");
            skip_blanks(line, pos);
            if (pos >= line.size() || line[pos] != '"') throw parse_fail(pos, "expected a quoted text");
            col = pos;
            const std::string s = read_quoted(line, pos);
            if (s.find('\0') != std::string::npos) throw parse_fail(col, "a text cannot hold a NUL byte");
            expect_end(line, pos, "the text");
            char *copy = vek_map_strdup(s.c_str());
            if (copy == nullptr) throw Fail{keyCol, VEK_ST_NO_MEMORY, "cannot copy the text"};
            const vek_st_t st = vek_map_set_str_ll(map, k, copy, 0);
            if (st != VEK_ST_SUCCESS) vek_map_free(copy);
            check_set(st, keyCol, "entry");
            return;
        }
        case VEK_MAP_TYPE_BIN: {
            std::size_t p = pos;
            skip_blanks(line, p);
            std::string bytes;
            if (p < line.size() && line[p] != '#') {
                const std::string tok = value_token(pos, col, "bin");
                if (!parse_hex(tok, bytes)) {
                    throw parse_fail(col, "not a valid bin value (an even number of hexadecimal digits)");
                }
                expect_end(line, pos, "the value");
            }
            void *data = nullptr;
            if (!bytes.empty()) {
                data = vek_map_malloc(bytes.size());
                if (data == nullptr) throw Fail{keyCol, VEK_ST_NO_MEMORY, "cannot allocate the bytes"};
                std::memcpy(data, bytes.data(), bytes.size());
            }
            const vek_st_t st = vek_map_set_bin_ll(map, k, data, static_cast<uint32_t>(bytes.size()), 0);
            if (st != VEK_ST_SUCCESS) vek_map_free(data);
            check_set(st, keyCol, "entry");
            return;
        }
        case VEK_MAP_TYPE_MAP: {
            expect_end(line, pos, "(map)");
            if (stack_.size() > static_cast<std::size_t>(VEK_MAP_DECODE_MAX_DEPTH)) {
                throw parse_fail(keyCol, "maps nested deeper than " + std::to_string(VEK_MAP_DECODE_MAX_DEPTH) +
                                             " levels (the decoder refuses them)");
            }
            vek_map_t *child = nullptr;
            check_set(vek_map_create(&child), keyCol, "map");
            const vek_st_t st = vek_map_set_map_ll(map, k, child, 0);
            if (st != VEK_ST_SUCCESS) vek_map_destroy(child);
            check_set(st, keyCol, "entry");
            stack_.push_back(child);
            return;
        }
        default: {
            expect_end(line, pos, "the type");
            vek_map_value_t node{};
            node.type = type;
            add_node(map, k, node, keyCol);
            return;
        }
        }
    }

    // Entries whose node the set operations cannot make (exact float bit
    // patterns, type none, unknown codes) go in as a whole node.
    void add_node(vek_map_t *map, const char *key, const vek_map_value_t &proto, std::size_t keyCol) {
        auto *node = static_cast<vek_map_value_t *>(vek_map_malloc(sizeof(vek_map_value_t)));
        if (node == nullptr) throw Fail{keyCol, VEK_ST_NO_MEMORY, "cannot allocate a value"};
        std::memcpy(node, &proto, sizeof *node);
        const vek_st_t st = vek_map_set_value_ll(map, key, node, 0);
        if (st != VEK_ST_SUCCESS) vek_map_free(node);
        check_set(st, keyCol, "entry");
    }

    vek_map_t *root_ = nullptr;
    std::vector<vek_map_t *> stack_;
    std::string line_;
};

} // namespace

vek_map_t *read_text_form(const std::string &text, TextError &err) {
    Reader reader;
    return reader.run(text, err);
}

} // namespace vekutil
