#include "stream_edit.hpp"

#include "map_input.hpp"
#include "stream_walk.hpp"
#include "values.hpp"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace vekutil {

namespace {

bool kept_type(int32_t type) { return type >= VEK_MAP_TYPE_STR && type <= VEK_MAP_TYPE_U64; }

// Where an entry lies in the stream.
struct Span {
    int32_t type = VEK_MAP_TYPE_MAP;
    std::size_t typeAt = 0;            // the type word
    std::size_t end = 0;               // after the value; a map entry: after its last entry
    std::vector<std::size_t> children; // a map: its entries, those the decoder skips included
};

// The spans of every entry; spans[0] stands for the top map.
class SpanBuilder : public WalkVisitor {
public:
    SpanBuilder(const unsigned char *base, std::vector<Span> &spans) : base_(base), spans_(spans) {
        spans_.assign(1, Span{});
        open_.assign(1, 0);
    }

    void entry(const WalkEntry &e) override {
        Span s;
        s.type = e.type;
        s.typeAt = static_cast<std::size_t>(reinterpret_cast<const unsigned char *>(e.key) - base_) + e.keyLen;
        if (e.type == VEK_MAP_TYPE_MAP) {
            s.end = s.typeAt + 12; // type, filler, count; the entries are added below
        } else if (kept_type(e.type)) {
            s.end = static_cast<std::size_t>(e.value - base_) + e.valueLen;
        } else {
            s.end = s.typeAt + 4;
        }
        if (open_.size() > static_cast<std::size_t>(e.depth) + 1) open_.resize(static_cast<std::size_t>(e.depth) + 1);
        const std::size_t index = spans_.size();
        spans_[open_.back()].children.push_back(index);
        spans_.push_back(std::move(s));
        if (e.type == VEK_MAP_TYPE_MAP) open_.push_back(index);
    }

private:
    const unsigned char *base_;
    std::vector<Span> &spans_;
    std::vector<std::size_t> open_; // the maps whose entries may follow, innermost last
};

std::vector<Span> spans_of(const std::string &stream) {
    std::vector<Span> spans;
    const auto *base = reinterpret_cast<const unsigned char *>(stream.data());
    SpanBuilder builder(base, spans);
    walk_stream(base, stream.size(), &builder);
    // A map ends where its last entry ends; children come after their map.
    for (std::size_t i = spans.size(); i-- > 1;) {
        if (!spans[i].children.empty()) spans[i].end = spans[spans[i].children.back()].end;
    }
    spans[0].end = stream.size();
    return spans;
}

// Offset of a map's entry count.
std::size_t count_at(const std::vector<Span> &spans, std::size_t map) { return map == 0 ? 0 : spans[map].typeAt + 8; }

uint32_t be32_at(const std::string &s, std::size_t at) {
    const auto *p = reinterpret_cast<const unsigned char *>(s.data() + at);
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void put_be32(std::string &out, uint32_t v) {
    out += static_cast<char>(v >> 24);
    out += static_cast<char>((v >> 16) & 0xff);
    out += static_cast<char>((v >> 8) & 0xff);
    out += static_cast<char>(v & 0xff);
}

// The child of a map span that the decoder made its idx-th entry; npos
// when there is none.
std::size_t decoded_child(const std::vector<Span> &spans, std::size_t map, int32_t idx) {
    int32_t seen = 0;
    for (std::size_t c : spans[map].children) {
        if (!kept_type(spans[c].type)) continue;
        if (seen++ == idx) return c;
    }
    return std::string::npos;
}

// Index of node among the entries of map; -1 when it is not one of them.
int32_t index_of(vek_map_t *map, const vek_map_value_t *node) {
    int32_t n = 0;
    if (vek_map_length(map, &n) != VEK_ST_SUCCESS) return -1;
    for (int32_t i = 0; i < n; ++i) {
        vek_map_value_t *v = nullptr;
        if (vek_map_get_ith_value(map, i, &v) == VEK_ST_SUCCESS && v == node) return i;
    }
    return -1;
}

// One component of a key path, split as the library splits it:
// name[field=text], the text ending at the first ']'.
struct Component {
    std::string name;
    bool selector = false;
    std::string field;
    std::string text;
};

Component component_of(const std::string &part) {
    Component c;
    const std::size_t bracket = part.find('[');
    c.name = part.substr(0, bracket);
    if (bracket == std::string::npos) return c;
    const std::string inside = part.substr(bracket + 1, part.find(']', bracket) - bracket - 1);
    const std::size_t eq = inside.find('=');
    c.selector = true;
    c.field = inside.substr(0, eq);
    c.text = eq == std::string::npos ? std::string() : inside.substr(eq + 1);
    return c;
}

// The selector's field in a map the edit adds, so that the selector finds
// it: an i32 when the library's reading of the text (base 0, as strtol)
// takes the whole text and it fits, else the text itself.
vek_st_t add_field(vek_map_t *map, const Component &c) {
    const char *text = c.text.c_str();
    if (!c.text.empty() && std::isspace(static_cast<unsigned char>(text[0])) == 0) {
        errno = 0;
        char *end = nullptr;
        const long long v = std::strtoll(text, &end, 0);
        if (errno == 0 && *end == '\0' && v >= INT32_MIN && v <= INT32_MAX) {
            return vek_map_set_i32_ll(map, c.field.c_str(), static_cast<int32_t>(v), 0);
        }
    }
    char *copy = vek_map_strdup(text);
    if (copy == nullptr) return VEK_ST_NO_MEMORY;
    const vek_st_t st = vek_map_set_str_ll(map, c.field.c_str(), copy, 0);
    if (st != VEK_ST_SUCCESS) vek_map_free(copy);
    return st;
}

// Appends to map the entry for parts[from..]: a map for every part but
// the last (holding its selector's field first, unless the next part is
// that very field, which then gets the value), the new value at the last.
vek_st_t build_chain(vek_map_t *map, const std::vector<std::string> &parts, std::size_t from, const EditRequest &req) {
    const Component c = component_of(parts[from]);
    const bool last = from + 1 == parts.size();
    if (last && req.type != VEK_MAP_TYPE_MAP) return req.setValue(map, c.name.c_str());
    vek_map_t *child = nullptr;
    vek_st_t st = vek_map_create(&child);
    if (st != VEK_ST_SUCCESS) return st;
    const bool nextIsField = !last && from + 2 == parts.size() && req.type != VEK_MAP_TYPE_MAP && c.selector &&
                             vek_stricmp(component_of(parts[from + 1]).name.c_str(), c.field.c_str()) == 0;
    if (c.selector && !nextIsField) st = add_field(child, c);
    if (st == VEK_ST_SUCCESS && !last) st = build_chain(child, parts, from + 1, req);
    if (st == VEK_ST_SUCCESS) st = vek_map_set_map_ll(map, c.name.c_str(), child, 0);
    if (st != VEK_ST_SUCCESS) vek_map_destroy(child);
    return st;
}

// The library's encoding of a map, or the status.
vek_st_t encode(vek_map_t *map, std::string &out) {
    void *buf = nullptr;
    int32_t len = 0;
    const vek_st_t st = vek_map_encode(map, &buf, &len);
    if (st == VEK_ST_SUCCESS && buf != nullptr && len > 0)
        out.assign(static_cast<const char *>(buf), static_cast<std::size_t>(len));
    if (buf != nullptr) vek_map_free(buf);
    return st;
}

// What an entry holds, for messages: the value as `map get` prints it
// (long ones shortened), a map with its number of entries.
std::string found_text(const vek_map_value_t *node) {
    if (node != nullptr && node->type == VEK_MAP_TYPE_MAP) {
        int32_t n = 0;
        if (node->payload.map != nullptr) vek_map_length(node->payload.map, &n);
        std::string s = "(map) of ";
        s += std::to_string(n);
        s += n == 1 ? " entry" : " entries";
        return s;
    }
    std::string s = node_text(node);
    constexpr std::size_t kLongest = 60;
    if (s.size() > kLongest) {
        s.resize(kLongest - 3);
        s += "...";
    }
    return s;
}

class Editor {
public:
    Editor(const std::string &stream, vek_map_t *decoded, const EditRequest &req)
        : stream_(stream), decoded_(decoded), req_(req), spans_(spans_of(stream)) {
        std::size_t from = 0;
        for (;;) {
            const std::size_t dot = req.path.find('.', from);
            parts_.push_back(req.path.substr(from, dot == std::string::npos ? std::string::npos : dot - from));
            ends_.push_back(dot == std::string::npos ? req.path.size() : dot);
            if (dot == std::string::npos) break;
            from = dot + 1;
        }
    }

    EditResult run() {
        const std::size_t n = parts_.size();
        for (const std::string &part : parts_) {
            // A '[' starts a selector, which needs a ']' and a '=' before it.
            const std::size_t bracket = part.find('[');
            const std::size_t close = part.find(']', bracket);
            if (bracket != std::string::npos && (close == std::string::npos || part.find('=', bracket) > close)) {
                return failure(VEK_ST_MAP_INVALID_SEARCH, req_.path + ": " + path_problem(VEK_ST_MAP_INVALID_SEARCH));
            }
        }
        if (component_of(parts_.back()).selector && req_.type != VEK_MAP_TYPE_MAP) {
            return failure(VEK_ST_MAP_INVALID_TYPE, req_.path +
                                                        ": a selector picks a map, so the value at this path "
                                                        "can only be of type map, not " +
                                                        type_label(req_.type));
        }
        const int deepest = static_cast<int>(n) - 1 + (req_.type == VEK_MAP_TYPE_MAP ? 1 : 0);
        std::size_t map = 0; // span of the map searched for the next part
        vek_map_t *in = decoded_;
        for (std::size_t k = 0; k < n; ++k) {
            vek_map_value_t *node = nullptr;
            const vek_st_t st = vek_map_get_value(decoded_, prefix(k).c_str(), &node);
            if (st == VEK_ST_MAP_KEY_NOT_EXIST) return add_missing(k, map, in, deepest);
            if (st != VEK_ST_SUCCESS) return failure(st, req_.path + ": " + path_problem(st));
            const std::size_t entry = decoded_child(spans_, map, index_of(in, node));
            if (entry == std::string::npos) return internal();
            if (k + 1 == n) return replace_found(entry, node, deepest);
            if (node == nullptr || node->type != VEK_MAP_TYPE_MAP || node->payload.map == nullptr) {
                return through_value(k, entry, node, deepest);
            }
            map = entry;
            in = node->payload.map;
        }
        return internal();
    }

private:
    std::string prefix(std::size_t k) const { return req_.path.substr(0, ends_[k]); }

    static EditResult failure(vek_st_t st, const std::string &message) {
        EditResult r;
        r.status = st;
        r.message = message;
        return r;
    }

    EditResult internal() const {
        return failure(VEK_ST_MAP_INTERNAL_ERROR, req_.path + ": the entry cannot be located in the stream");
    }

    // Maps nest at most as deep as the decoder reads them.
    EditResult check_depth(int deepest) const {
        if (deepest > VEK_MAP_DECODE_MAX_DEPTH) {
            return failure(VEK_ST_MAP_INTERNAL_ERROR,
                           req_.path + ": the value would put a map " + std::to_string(deepest) +
                               " levels deep, and the decoder reads maps at most " +
                               std::to_string(VEK_MAP_DECODE_MAX_DEPTH) + " levels below the top map");
        }
        return EditResult{};
    }

    // The entries that --create adds for parts[k..], checked to be what the
    // path names: built in a map of their own, the path from part k must
    // find the new value there (it finds it the same way in the stream,
    // where part k matched nothing before).
    EditResult build_new(std::size_t k, const std::string &key, std::string &encoded) const {
        OwnedMap t;
        vek_st_t st = vek_map_create(&t.map);
        if (st == VEK_ST_SUCCESS) {
            std::vector<std::string> parts(parts_.begin() + static_cast<std::ptrdiff_t>(k), parts_.end());
            if (!key.empty()) parts.insert(parts.begin(), key);
            st = build_chain(t.map, parts, 0, req_);
            if (st == VEK_ST_SUCCESS) {
                std::string sub = key.empty() ? std::string() : key + ".";
                sub += req_.path.substr(k == 0 ? 0 : ends_[k - 1] + 1);
                vek_map_value_t *node = nullptr;
                if (vek_map_get_value(t.map, sub.c_str(), &node) != VEK_ST_SUCCESS || node == nullptr ||
                    node->type != req_.type) {
                    return failure(VEK_ST_INVALID_VALUE,
                                   req_.path + ": the entries that --create would add do not match the path's "
                                               "selectors (the value set is a selector's own field)");
                }
                st = encode(t.map, encoded);
            }
        }
        if (st != VEK_ST_SUCCESS) return failure(st, req_.path + ": cannot build the new entries");
        return EditResult{};
    }

    // Part k matches nothing in `in` (span `map`).
    EditResult add_missing(std::size_t k, std::size_t map, vek_map_t *in, int deepest) const {
        const Component c = component_of(parts_[k]);
        if (!req_.create) {
            // Appended, not "'" + prefix: gcc 12 -O3 reports a false overlap there.
            std::string where = "the top map";
            if (k > 0) {
                where = "'";
                where += prefix(k - 1);
                where += '\'';
            }
            uint32_t named = 0;
            if (c.selector) vek_map_count_keys(in, c.name.c_str(), &named);
            if (named == 0) {
                return failure(VEK_ST_MAP_KEY_NOT_EXIST,
                               req_.path + ": " + where + " has no entry '" + c.name + "' (--create adds it)");
            }
            return failure(VEK_ST_MAP_KEY_NOT_EXIST, req_.path + ": " + where + " has " + std::to_string(named) +
                                                         (named == 1 ? " entry '" : " entries '") + c.name +
                                                         "', none a map whose '" + c.field + "' is " + c.text +
                                                         " (--create adds one)");
        }
        if (EditResult r = check_depth(deepest); !r.message.empty()) return r;
        std::string encoded;
        if (EditResult r = build_new(k, std::string(), encoded); !r.message.empty()) return r;
        const std::size_t at = count_at(spans_, map);
        const auto count = static_cast<int32_t>(be32_at(stream_, at));
        if (count == INT32_MAX) return failure(VEK_ST_NO_MEMORY, req_.path + ": the map holds too many entries");
        const std::size_t insertAt = spans_[map].end;
        std::string out = stream_.substr(0, at);
        put_be32(out, static_cast<uint32_t>(count < 0 ? 1 : count + 1));
        out.append(stream_, at + 4, insertAt - at - 4);
        out.append(encoded, 4, std::string::npos); // the one entry, without the count
        out.append(stream_, insertAt, std::string::npos);
        return done(std::move(out));
    }

    // Part k found a value where the path needs a map.
    EditResult through_value(std::size_t k, std::size_t entry, const vek_map_value_t *node, int deepest) const {
        if (!(req_.create && req_.retype)) {
            return failure(VEK_ST_MAP_INVALID_TYPE, req_.path + ": '" + prefix(k) + "' holds " + found_text(node) +
                                                        ", not a map (--create --retype replace it by a map)");
        }
        if (EditResult r = check_depth(deepest); !r.message.empty()) return r;
        std::string encoded;
        if (EditResult r = build_new(k + 1, "v", encoded); !r.message.empty()) return r;
        return replace_value(entry, encoded.substr(9)); // after the count and the key "v"
    }

    // The path found an entry.
    EditResult replace_found(std::size_t entry, const vek_map_value_t *node, int deepest) const {
        const int32_t old = node != nullptr ? node->type : VEK_MAP_TYPE_NONE;
        if (old != req_.type) {
            const std::string what = req_.path + ": the entry holds " + found_text(node) + ", not " +
                                     (req_.type == VEK_MAP_TYPE_I32 || req_.type == VEK_MAP_TYPE_I64 ? "an " : "a ") +
                                     type_label(req_.type);
            if ((old == VEK_MAP_TYPE_MAP || old == VEK_MAP_TYPE_STR) && !(req_.create && req_.retype)) {
                return failure(VEK_ST_MAP_INVALID_TYPE,
                               what + " (--create --retype replace a map or a text by another kind of value)");
            }
            if (!req_.retype) return failure(VEK_ST_MAP_INVALID_TYPE, what + " (--retype changes its type)");
        }
        if (EditResult r = check_depth(deepest); !r.message.empty()) return r;
        std::string value;
        if (req_.type == VEK_MAP_TYPE_MAP) {
            // An empty map; one picked by a selector keeps the field it was
            // picked by (its bytes as they were), so the path still finds it.
            put_be32(value, VEK_MAP_TYPE_MAP);
            put_be32(value, 0);
            std::size_t field = std::string::npos;
            const Component c = component_of(parts_.back());
            if (c.selector && old == VEK_MAP_TYPE_MAP) field = field_entry(entry, node->payload.map, c.field);
            if (field == std::string::npos) {
                put_be32(value, 0);
            } else {
                put_be32(value, 1);
                const std::size_t start = field_start(entry, field);
                value.append(stream_, start, spans_[field].end - start);
            }
        } else {
            OwnedMap t;
            std::string encoded;
            vek_st_t st = vek_map_create(&t.map);
            if (st == VEK_ST_SUCCESS) st = req_.setValue(t.map, "v");
            if (st == VEK_ST_SUCCESS) st = encode(t.map, encoded);
            if (st != VEK_ST_SUCCESS) return failure(st, req_.path + ": cannot set the value");
            value = encoded.substr(9); // after the count and the key "v"
        }
        return replace_value(entry, value);
    }

    // The span of the first entry named `field` in the map of span `entry`
    // (decoded as `child`): the entry a selector compares.
    std::size_t field_entry(std::size_t entry, vek_map_t *child, const std::string &field) const {
        int32_t n = 0;
        if (child == nullptr || vek_map_length(child, &n) != VEK_ST_SUCCESS) return std::string::npos;
        for (int32_t i = 0; i < n; ++i) {
            char *key = nullptr;
            if (vek_map_get_ith_key(child, i, &key) == VEK_ST_SUCCESS && key != nullptr &&
                vek_stricmp(key, field.c_str()) == 0) {
                return decoded_child(spans_, entry, i);
            }
        }
        return std::string::npos;
    }

    // Where an entry starts: its key length word. The entries of a map
    // follow each other, the first right after the map's count.
    std::size_t field_start(std::size_t map, std::size_t child) const {
        std::size_t start = count_at(spans_, map) + 4;
        for (std::size_t c : spans_[map].children) {
            if (c == child) break;
            start = spans_[c].end;
        }
        return start;
    }

    EditResult replace_value(std::size_t entry, const std::string &value) const {
        std::string out = stream_.substr(0, spans_[entry].typeAt);
        out += value;
        out.append(stream_, spans_[entry].end, std::string::npos);
        return done(std::move(out));
    }

    // The new stream, checked to read back as the old one did.
    EditResult done(std::string out) const {
        const WalkResult wr = walk_stream(reinterpret_cast<const unsigned char *>(out.data()), out.size(), nullptr);
        OwnedMap check;
        bool reads =
            wr.ok && out.size() <= static_cast<std::size_t>(INT32_MAX) && vek_map_create(&check.map) == VEK_ST_SUCCESS;
        reads = reads && vek_map_decode(check.map, out.data(), static_cast<int32_t>(out.size())) == VEK_ST_SUCCESS;
        if (!reads) {
            return failure(VEK_ST_MAP_INTERNAL_ERROR, req_.path + ": the changed stream would not read back (" +
                                                          (wr.ok ? std::string("decoder") : walk_message(wr)) +
                                                          "): nothing is written");
        }
        EditResult r;
        r.ok = true;
        r.bytes = std::move(out);
        return r;
    }

    const std::string &stream_;
    vek_map_t *decoded_;
    const EditRequest &req_;
    std::vector<Span> spans_;
    std::vector<std::string> parts_;
    std::vector<std::size_t> ends_; // where part k ends in the path
};

} // namespace

EditResult set_in_stream(const std::string &stream, vek_map_t *decoded, const EditRequest &req) {
    return Editor(stream, decoded, req).run();
}

} // namespace vekutil
