// The string-list builder: walks a one-line text byte by byte and turns it
// into a singly linked list of typed items.
//
// White space is dropped wherever it stands, before any other test. The
// separator ends an item; for integer lists the range mark splits an item
// into a start and an end, and the range expands into one item per value.
// Items are kept in the order of the insertion walk from the first node by
// the caller's comparison (or the type's default); a new item goes before
// the first item that does not sort before it.
//
// A caller's comparison is used by that walk as each item is made, so it is
// called exactly as the walk calls it, whatever order it is. The built-in
// comparisons are consistent orders, for which one merge sort of the list
// gives the same list in O(n log n) for any input order: the items are
// appended in input order and sorted once the text is read.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <vek/vek_strlist.h>

#include "foundation/memory.hpp"
#include "text/blank.hpp"
#include "text/strlist_order.hpp"

namespace {

constexpr std::size_t kTokenBytes = VEK_STRLIST_MAX_ITEM_LEN + 1;

using vek::text::is_blank;

bool is_integer_type(vek_strlist_type_t type) { return type == VEK_STRLIST_INT32 || type == VEK_STRLIST_INT64; }

// Leading decimal digits with an optional sign, the rest ignored; no digits
// give 0; values beyond 32 bits stop at the 32-bit limits.
int32_t to_int32(const char *token) {
    const int saved = errno;
    const long v = std::strtol(token, nullptr, 10);
    errno = saved;
    if (v < INT32_MIN) return INT32_MIN;
    if (v > INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(v);
}

int compare_strings(const void *a, const void *b) {
    return std::strcmp(static_cast<const char *>(a), static_cast<const char *>(b));
}

template <typename T>
int compare_numbers(const void *a, const void *b) {
    const T x = *static_cast<const T *>(a);
    const T y = *static_cast<const T *>(b);
    return (x > y) - (x < y);
}

// The type's default comparison; null for types without one.
vek_strlist_cmp_fn default_comparison(vek_strlist_type_t type) {
    switch (type) {
    case VEK_STRLIST_STRING: return compare_strings;
    case VEK_STRLIST_INT32: return compare_numbers<int32_t>;
    case VEK_STRLIST_INT64: return compare_numbers<int64_t>;
    default: return nullptr;
    }
}

// Types whose items are inserted by a comparison; the others are appended.
bool is_ordered_type(vek_strlist_type_t type) { return type >= VEK_STRLIST_STRING && type <= VEK_STRLIST_CUSVAL; }

// The list under construction. With a caller's comparison every item is
// inserted by the walk as it is made; with a built-in one the items are
// appended and the list is sorted once, when it is handed over.
class ListBuilder {
public:
    ListBuilder(vek_strlist_type_t type, vek_strlist_conv_fn convFn, vek_strlist_cmp_fn cmpFn)
        : type_(type), conv_(convFn), walk_(is_ordered_type(type) ? cmpFn : nullptr),
          sort_(walk_ == nullptr ? default_comparison(type) : nullptr) {}
    ~ListBuilder() { vek_strlist_list_free(head_); }
    ListBuilder(const ListBuilder &) = delete;
    ListBuilder &operator=(const ListBuilder &) = delete;

    // One item from a token.
    vek_st_t add_token(const char *token) {
        if (!reserve(1)) return VEK_ST_STRLIST_ITEM_EXCEED;
        vek_strlist_payload_t payload{};
        if (is_integer_type(type_)) set_integer(&payload, to_int32(token));
        return add_item(payload, token);
    }

    // One item per value from start up to and including end.
    vek_st_t add_range(int32_t start, int32_t end) {
        if (end < start) return VEK_ST_STRLIST_INV_RANGE;
        if (!reserve(static_cast<uint64_t>(static_cast<int64_t>(end) - start) + 1)) {
            return VEK_ST_STRLIST_ITEM_EXCEED;
        }
        for (int64_t v = start; v <= end; ++v) {
            vek_strlist_payload_t payload{};
            set_integer(&payload, static_cast<int32_t>(v));
            const vek_st_t st = add_item(payload, nullptr);
            if (st != VEK_ST_SUCCESS) return st;
        }
        return VEK_ST_SUCCESS;
    }

    // Puts the list in order and hands it over; the builder no longer owns it.
    vek_strlist_node_t *release() {
        if (sort_ != nullptr) head_ = vek::text::sort_as_walk(head_, sort_);
        vek_strlist_node_t *list = head_;
        head_ = tail_ = nullptr;
        return list;
    }

private:
    // Counts n more items against the per-build limit.
    bool reserve(uint64_t n) {
        if (n > VEK_STRLIST_MAX_ITEMS - count_) return false;
        count_ += n;
        return true;
    }

    void set_integer(vek_strlist_payload_t *payload, int32_t v) const {
        if (type_ == VEK_STRLIST_INT64) {
            payload->i64 = v;
        } else {
            payload->i32 = v;
        }
    }

    // Allocates the node and its record, fills the payload (string copy or
    // custom value from the token), and inserts it. On failure everything
    // allocated for this item is released and VEK_ST_NO_MEMORY returned.
    vek_st_t add_item(vek_strlist_payload_t payload, const char *token) {
        vek::HeapPtr<vek_strlist_node_t, vek_strlist_free> node(
            static_cast<vek_strlist_node_t *>(vek_strlist_malloc(sizeof(vek_strlist_node_t))));
        vek::HeapPtr<vek_strlist_val_t, vek_strlist_free> val(
            static_cast<vek_strlist_val_t *>(vek_strlist_malloc(sizeof(vek_strlist_val_t))));
        if (!node || !val) return VEK_ST_NO_MEMORY;
        if (type_ == VEK_STRLIST_STRING) {
            payload.str = vek_strlist_strdup(token);
            if (payload.str == nullptr) return VEK_ST_NO_MEMORY;
        } else if (type_ == VEK_STRLIST_CUSVAL) {
            payload.cusval = conv_(token);
        }
        val.get()->type = type_;
        val.get()->payload = payload;
        node.get()->value = val.take();
        node.get()->next = nullptr;
        insert(node.take());
        return VEK_ST_SUCCESS;
    }

    // Inserts the node by the walk, or appends it for release() to sort.
    void insert(vek_strlist_node_t *node) {
        if (walk_ != nullptr) {
            vek::text::insert_by_walk(&head_, node, walk_);
            return;
        }
        if (head_ == nullptr) {
            head_ = node;
        } else {
            tail_->next = node;
        }
        tail_ = node;
    }

    const vek_strlist_type_t type_;
    const vek_strlist_conv_fn conv_;
    const vek_strlist_cmp_fn walk_; // the caller's comparison, used by the walk
    const vek_strlist_cmp_fn sort_; // else the type's default, used by the sort
    vek_strlist_node_t *head_ = nullptr;
    vek_strlist_node_t *tail_ = nullptr; // the last node appended (no walk)
    uint64_t count_ = 0;
};

// The byte walk over the text.
vek_st_t parse(const char *text, vek_strlist_type_t type, char separator, char rangeMark, ListBuilder *list) {
    char token[kTokenBytes];
    std::size_t len = 0;
    bool range_open = false;
    int32_t range_start = 0;
    const bool ranges = is_integer_type(type);

    // Ends the item in the token buffer (nothing when it is empty).
    auto end_item = [&]() -> vek_st_t {
        if (len == 0) return range_open ? VEK_ST_STRLIST_INV_RANGE : VEK_ST_SUCCESS;
        token[len] = '\0';
        const vek_st_t st = range_open ? list->add_range(range_start, to_int32(token)) : list->add_token(token);
        len = 0;
        range_open = false;
        return st;
    };

    for (const char *p = text; *p != '\0'; ++p) {
        const char c = *p;
        if (is_blank(static_cast<unsigned char>(c))) continue;
        if (c == separator) {
            const vek_st_t st = end_item();
            if (st != VEK_ST_SUCCESS) return st;
            continue;
        }
        if (ranges && c == rangeMark) {
            if (len == 0 || range_open) return VEK_ST_STRLIST_INV_RANGE;
            token[len] = '\0';
            range_start = to_int32(token);
            range_open = true;
            len = 0;
            continue;
        }
        if (len == VEK_STRLIST_MAX_ITEM_LEN) return VEK_ST_STRLIST_ITEM_EXCEED;
        token[len++] = c;
    }
    return end_item();
}

} // namespace

extern "C" VEK_API vek_st_t vek_strlist_list_build(const char *text, vek_strlist_type_t type, char separator,
                                                   char rangeMark, vek_strlist_conv_fn convFn, vek_strlist_cmp_fn cmpFn,
                                                   vek_strlist_node_t **outList) {
    if (text == nullptr) return VEK_ST_STRLIST_INV_VALUE;
    if (outList == nullptr) return VEK_ST_STRLIST_INV_LIST;
    if ((type == VEK_STRLIST_CUSVAL) != (convFn != nullptr)) return VEK_ST_STRLIST_INV_CONV;

    *outList = nullptr;
    ListBuilder list(type, convFn, cmpFn);
    const vek_st_t st = parse(text, type, separator, rangeMark, &list);
    if (st != VEK_ST_SUCCESS) return st; // the builder releases the partial list
    *outList = list.release();
    return VEK_ST_SUCCESS;
}
