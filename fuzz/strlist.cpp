// List building over fuzzed texts: every item type (and a few undefined
// ones), separator, range mark, custom conversion and comparison, with a
// heap allocation failure at an input-chosen point. The result is checked
// against a model of the documented byte walk: status, item types, values
// and order, and the calls of a caller's comparison (consistent orders and
// ones that are not), which must be exactly the insertion walk's; every
// failure leaves a null list and nothing allocated.
//
// Input: type selector, separator, range mark, flags (1: a caller's
// comparison, 8: one that is no consistent order; 2 and 4 together: the
// wrong conversion argument), failure point, then the text.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.hpp"

namespace {

constexpr size_t kMaxItems = 1500; // larger lists are skipped (quadratic insertion)

struct Item {
    uint32_t type = 0;
    std::string s;
    int64_t i = 0;
};

// Custom conversion: a heap copy of the text, or null for a text starting with '!'.
uintptr_t conv(const char *text) {
    if (text[0] == '!') return 0;
    return reinterpret_cast<uintptr_t>(vek_strlist_strdup(text));
}

int sign(int64_t d) { return (d > 0) - (d < 0); }

// The comparisons' rules, on item values (a null custom value is the empty
// text). `odd` picks the rules that are no consistent order: numbers within
// 1 of each other are equal, texts sharing a byte are equal.
int int_rule(int64_t list_item, int64_t new_item, bool odd) {
    if (odd) return list_item - new_item > 1 || new_item - list_item > 1 ? sign(list_item - new_item) : 0;
    return sign(new_item - list_item); // descending
}
int text_rule(const char *list_item, const char *new_item, bool odd) {
    if (odd && std::strpbrk(list_item, new_item) != nullptr) return 0;
    return sign(std::strcmp(new_item, list_item)); // descending
}
int custom_rule(const char *list_item, const char *new_item, bool odd) {
    if (!odd) return 0; // all custom values equal
    return text_rule(list_item != nullptr ? list_item : "", new_item != nullptr ? new_item : "", true);
}

// The calls a comparison has seen: how many, and a hash of their arguments
// in order.
struct CallLog {
    uint64_t count = 0;
    uint64_t hash = 1469598103934665603ull;

    void byte(uint8_t b) { hash = (hash ^ b) * 1099511628211ull; }
    void number(int64_t v) {
        for (int i = 0; i < 8; ++i) byte(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    }
    // A null text is one tag byte; a text is another, its bytes and a 0.
    void text(const char *t) {
        byte(t == nullptr ? 0 : 1);
        if (t == nullptr) return;
        for (; *t != '\0'; ++t) byte(static_cast<uint8_t>(*t));
        byte(0);
    }
    bool operator==(const CallLog &o) const { return count == o.count && hash == o.hash; }
};

CallLog g_log;
bool g_odd = false;

int cmp_str(const void *list_item, const void *new_item) {
    const char *a = static_cast<const char *>(list_item);
    const char *b = static_cast<const char *>(new_item);
    ++g_log.count;
    g_log.text(a);
    g_log.text(b);
    return text_rule(a, b, g_odd);
}
template <typename T>
int cmp_int(const void *list_item, const void *new_item) {
    const T a = *static_cast<const T *>(list_item);
    const T b = *static_cast<const T *>(new_item);
    ++g_log.count;
    g_log.number(a);
    g_log.number(b);
    return int_rule(a, b, g_odd);
}
int cmp_custom(const void *list_item, const void *new_item) {
    const char *a = reinterpret_cast<const char *>(*static_cast<const uintptr_t *>(list_item));
    const char *b = reinterpret_cast<const char *>(*static_cast<const uintptr_t *>(new_item));
    ++g_log.count;
    g_log.text(a);
    g_log.text(b);
    return custom_rule(a, b, g_odd);
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int32_t to_i32(const std::string &token) {
    const long long v = std::strtoll(token.c_str(), nullptr, 10);
    if (v < INT32_MIN) return INT32_MIN;
    if (v > INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(v);
}

// The documented build, as a model. Returns the status; `items` gets the
// list, `log` the caller's comparison calls of the insertion walk, and
// `boundaries` the log before the first item and after each item (a build
// that fails after some items has made the calls of one of them). `too_big`
// is set (and the walk stops) when the list would exceed kMaxItems.
class Model {
public:
    Model(uint32_t type, char sep, char mark, bool custom_cmp, bool odd)
        : type_(type), sep_(sep), mark_(mark), custom_cmp_(custom_cmp), odd_(odd) {
        boundaries.push_back(log);
    }

    vek_st_t build(const std::string &text) {
        if (text.empty()) return VEK_ST_SUCCESS;
        for (const char c : text) {
            if (too_big) return VEK_ST_SUCCESS;
            if (is_space(c)) continue;
            if (c == sep_) {
                if (token_.empty()) {
                    if (range_open_) return VEK_ST_STRLIST_INV_RANGE;
                    continue;
                }
                const vek_st_t st = end_item();
                if (st != VEK_ST_SUCCESS) return st;
                continue;
            }
            if ((type_ == VEK_STRLIST_INT32 || type_ == VEK_STRLIST_INT64) && c == mark_) {
                if (token_.empty() || range_open_) return VEK_ST_STRLIST_INV_RANGE;
                range_start_ = to_i32(token_);
                range_open_ = true;
                token_.clear();
                continue;
            }
            if (token_.size() >= VEK_STRLIST_MAX_ITEM_LEN) return VEK_ST_STRLIST_ITEM_EXCEED;
            token_.push_back(c);
        }
        if (!token_.empty()) return end_item();
        if (range_open_) return VEK_ST_STRLIST_INV_RANGE;
        return VEK_ST_SUCCESS;
    }

    std::vector<Item> items;
    CallLog log;
    std::vector<CallLog> boundaries;
    bool too_big = false;

private:
    vek_st_t end_item() {
        vek_st_t st = VEK_ST_SUCCESS;
        if (range_open_) {
            const int32_t end = to_i32(token_);
            if (range_start_ > end) {
                st = VEK_ST_STRLIST_INV_RANGE; // a range that runs downwards is refused
            } else if (static_cast<int64_t>(end) - range_start_ + items.size() >= kMaxItems) {
                too_big = true;
            } else {
                for (int64_t v = range_start_; v <= end; ++v) {
                    Item it;
                    it.type = type_;
                    it.i = v;
                    insert(it);
                }
            }
        } else {
            Item it;
            it.type = type_;
            if (type_ == VEK_STRLIST_STRING || type_ == VEK_STRLIST_CUSVAL) it.s = token_;
            if (type_ == VEK_STRLIST_INT32 || type_ == VEK_STRLIST_INT64) it.i = to_i32(token_);
            insert(it);
            if (items.size() >= kMaxItems) too_big = true;
        }
        token_.clear();
        range_open_ = false;
        return st;
    }

    // A custom value as the conversion makes it (a text starting with '!' gives null).
    static const char *custom_value(const Item &it) { return it.s[0] == '!' ? nullptr : it.s.c_str(); }

    // <0, 0, >0 as a sorts before, with, after b, by the comparison in use;
    // a caller's comparison is logged as the library's sees it.
    int compare(const Item &a, const Item &b) {
        if (!custom_cmp_) {
            if (type_ == VEK_STRLIST_STRING) return sign(std::strcmp(a.s.c_str(), b.s.c_str()));
            return sign(a.i - b.i);
        }
        ++log.count;
        if (type_ == VEK_STRLIST_STRING) {
            log.text(a.s.c_str());
            log.text(b.s.c_str());
            return text_rule(a.s.c_str(), b.s.c_str(), odd_);
        }
        if (type_ == VEK_STRLIST_CUSVAL) {
            log.text(custom_value(a));
            log.text(custom_value(b));
            return custom_rule(custom_value(a), custom_value(b), odd_);
        }
        log.number(a.i);
        log.number(b.i);
        return int_rule(a.i, b.i, odd_);
    }

    // Step 7: appended without a comparison; else the walk from the first
    // node, before the first item for which compare(item, new) >= 0.
    void insert(const Item &it) {
        const bool typed = type_ == VEK_STRLIST_STRING || type_ == VEK_STRLIST_INT32 || type_ == VEK_STRLIST_INT64;
        if (!typed && !(type_ == VEK_STRLIST_CUSVAL && custom_cmp_)) {
            items.push_back(it);
        } else {
            size_t at = 0;
            while (at < items.size() && compare(items[at], it) < 0) ++at;
            items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), it);
        }
        boundaries.push_back(log);
    }

    uint32_t type_;
    char sep_;
    char mark_;
    bool custom_cmp_;
    bool odd_;
    std::string token_;
    bool range_open_ = false;
    int32_t range_start_ = 0;
};

const uint32_t kTypes[] = {VEK_STRLIST_STRING,
                           VEK_STRLIST_INT32,
                           VEK_STRLIST_INT64,
                           VEK_STRLIST_CUSVAL,
                           VEK_STRLIST_INT32,
                           VEK_STRLIST_STRING,
                           0,
                           9};
const char kSeps[] = {',', ' ', ';', '-', ':', '\t', 'a', '1'};
const char kMarks[] = {'-', ':', ',', '.', ' ', '1', '-', '~'};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Input in(data, size);
    const uint8_t sel = in.u8();
    const uint32_t type = kTypes[sel & 7];
    const uint8_t s = in.u8();
    const char sep = (s & 0x80) != 0 ? static_cast<char>(s & 0x7F) : kSeps[s & 7];
    const uint8_t m = in.u8();
    const char mark = (m & 0x80) != 0 ? static_cast<char>(m & 0x7F) : kMarks[m & 7];
    const uint8_t flags = in.u8();
    const bool custom_cmp = (flags & 1) != 0;
    const bool odd = (flags & 8) != 0;
    const bool wrong_conv = (flags & 2) != 0 && (flags & 4) != 0;
    const uint8_t fail_at = in.u8();
    const std::string text = in.text(4096);

    const bool with_conv = type == VEK_STRLIST_CUSVAL ? !wrong_conv : wrong_conv;
    vek_strlist_cmp_fn cmp = nullptr;
    if (custom_cmp) {
        cmp = type == VEK_STRLIST_STRING  ? cmp_str
              : type == VEK_STRLIST_INT32 ? cmp_int<int32_t>
              : type == VEK_STRLIST_INT64 ? cmp_int<int64_t>
                                          : cmp_custom;
    }
    g_odd = odd;

    Model model(type, sep, mark, custom_cmp, odd);
    vek_st_t expect = model.build(text);
    if (model.too_big) return 0;
    if ((type == VEK_STRLIST_CUSVAL) != with_conv) expect = VEK_ST_STRLIST_INV_CONV;

    const fuzz::LeakCheck leaks;
    vek_strlist_node_t *sentinel = reinterpret_cast<vek_strlist_node_t *>(&sentinel);
    vek_strlist_node_t *list = sentinel;
    vek_saltest_reset();
    g_log = CallLog{};
    if (fail_at != 0) vek_saltest_fail_alloc(VEK_SALTEST_HEAP, fail_at, 1);
    const vek_st_t st = vek_strlist_list_build(text.c_str(), type, sep, mark, with_conv ? conv : nullptr, cmp, &list);
    const bool fired = vek_saltest_faults_fired() != 0;
    vek_saltest_reset();

    if (expect == VEK_ST_STRLIST_INV_CONV) {
        FUZZ_CHECK(st == expect && list == sentinel);
        FUZZ_CHECK(g_log.count == 0);
        FUZZ_NO_LEAK(leaks);
        return 0;
    }
    if (fired) {
        FUZZ_CHECK(st == expect || st == VEK_ST_NO_MEMORY);
    } else {
        FUZZ_CHECK_EQ(st, expect);
    }
    // The comparison was called exactly as the walk calls it: for every
    // item, or, when an allocation of the builder failed, for the items made
    // before. (A failed copy inside the conversion is no failure: it only
    // nulls one custom value, which the model does not know, and the build
    // goes on to whatever status the text gives.)
    if (!fired) {
        FUZZ_CHECK(g_log == model.log);
    } else if (st == VEK_ST_NO_MEMORY) {
        bool at_boundary = false;
        for (const CallLog &b : model.boundaries) at_boundary = at_boundary || b == g_log;
        FUZZ_CHECK(at_boundary);
    }
    // With a comparison that looks at custom values, such a null moves items.
    const bool order_known = !(fired && type == VEK_STRLIST_CUSVAL && custom_cmp && odd);
    if (st != VEK_ST_SUCCESS) {
        FUZZ_CHECK(list == nullptr);
        FUZZ_NO_LEAK(leaks);
        return 0;
    }

    // Walk the list with an iterator and check every item.
    vek_strlist_iter_t *iter = reinterpret_cast<vek_strlist_iter_t *>(&iter);
    const vek_st_t fetched = vek_strlist_iter_fetch(list, &iter);
    if (list == nullptr) {
        FUZZ_CHECK(fetched == VEK_ST_STRLIST_INV_LIST);
        FUZZ_CHECK(model.items.empty());
        FUZZ_NO_LEAK(leaks);
        return 0;
    }
    FUZZ_CHECK(fetched == VEK_ST_SUCCESS && iter != nullptr);
    size_t n = 0;
    while (vek_strlist_iter_hasNext(iter) != 0) {
        vek_strlist_node_t *node = vek_strlist_iter_getNext(iter);
        FUZZ_CHECK(node != nullptr && n < model.items.size());
        if (!order_known) {
            ++n;
            continue;
        }
        const Item &want = model.items[n];
        vek_strlist_type_t t = 0;
        FUZZ_CHECK(vek_strlist_node_val_getType(node, &t) == VEK_ST_SUCCESS && t == type);
        const char *str = nullptr;
        int32_t i32 = 0;
        int64_t i64 = 0;
        uintptr_t cus = 0;
        const vek_st_t sst = vek_strlist_node_val_getString(node, &str);
        const vek_st_t ist = vek_strlist_node_val_getInt32(node, &i32);
        const vek_st_t lst = vek_strlist_node_val_getInt64(node, &i64);
        const vek_st_t cst = vek_strlist_node_val_getCusval(node, &cus);
        FUZZ_CHECK((sst == VEK_ST_SUCCESS) == (type == VEK_STRLIST_STRING));
        FUZZ_CHECK((ist == VEK_ST_SUCCESS) == (type == VEK_STRLIST_INT32));
        FUZZ_CHECK((lst == VEK_ST_SUCCESS) == (type == VEK_STRLIST_INT64));
        FUZZ_CHECK((cst == VEK_ST_SUCCESS) == (type == VEK_STRLIST_CUSVAL));
        if (sst != VEK_ST_SUCCESS) FUZZ_CHECK(sst == VEK_ST_STRLIST_INV_TYPE);
        switch (type) {
        case VEK_STRLIST_STRING: FUZZ_CHECK(str != nullptr && want.s == str); break;
        case VEK_STRLIST_INT32: FUZZ_CHECK(i32 == want.i); break;
        case VEK_STRLIST_INT64: FUZZ_CHECK(i64 == want.i); break;
        case VEK_STRLIST_CUSVAL: {
            const char *c = reinterpret_cast<const char *>(cus);
            // A failed copy inside the conversion is stored as null.
            if (want.s[0] == '!' || (fired && c == nullptr)) FUZZ_CHECK(c == nullptr);
            else FUZZ_CHECK(c != nullptr && want.s == c);
            break;
        }
        default: FUZZ_CHECK(node->value->payload.i64 == 0); break;
        }
        ++n;
    }
    FUZZ_CHECK(n == model.items.size());
    FUZZ_CHECK(vek_strlist_iter_getNext(iter) == nullptr);
    vek_strlist_iter_free(iter);
    FUZZ_CHECK(vek_strlist_list_free(list) == VEK_ST_SUCCESS);
    FUZZ_NO_LEAK(leaks);
    return 0;
}
