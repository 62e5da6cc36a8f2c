// vekutil list [--type string|int32|int64] [--sep C] [--range C] TEXT
#include "commands.hpp"

#include <cinttypes>
#include <string>

namespace vekutil {

namespace {

int list_main(int argc, char **argv) {
    std::string typeName = "int32";
    std::string sep = ",";
    std::string range = "-";
    const int rc = parse_options(kListCommand, argc, argv, [&](int c, const char *arg) {
        if (c == 't') typeName = arg;
        if (c == 's') sep = arg;
        if (c == 'r') range = arg;
    });
    if (rc >= 0) return rc;
    vek_strlist_type_t type;
    if (typeName == "string") {
        type = VEK_STRLIST_STRING;
    } else if (typeName == "int32") {
        type = VEK_STRLIST_INT32;
    } else if (typeName == "int64") {
        type = VEK_STRLIST_INT64;
    } else {
        return usage_error("unknown list type '" + typeName + "' (string, int32 or int64)");
    }
    if (sep.size() != 1) return usage_error("--sep takes one character");
    if (range.size() != 1) return usage_error("--range takes one character");
    if (argc - vek_optind != 1) return usage_error("expected one list text (quote it when it holds blanks)");

    vek_strlist_node_t *list = nullptr;
    const vek_st_t st = vek_strlist_list_build(argv[vek_optind], type, sep[0], range[0], nullptr, nullptr, &list);
    if (st != VEK_ST_SUCCESS) {
        const char *why = st == VEK_ST_STRLIST_INV_RANGE ? "a range mark at the start of an item or twice in one, a "
                                                           "range without an end, or one that runs downwards"
                          : st == VEK_ST_STRLIST_ITEM_EXCEED ? "an item of more than 255 characters, or too many items"
                          : st == VEK_ST_NO_MEMORY           ? "out of memory"
                                                             : "cannot build the list";
        return fail_status(st, why);
    }
    if (list == nullptr) return kExitOk;
    vek_strlist_iter_t *it = nullptr;
    vek_st_t ist = vek_strlist_iter_fetch(list, &it);
    if (ist != VEK_ST_SUCCESS) {
        vek_strlist_list_free(list);
        return fail_status(ist, "cannot walk the list");
    }
    while (vek_strlist_iter_hasNext(it)) {
        vek_strlist_node_t *node = vek_strlist_iter_getNext(it);
        if (type == VEK_STRLIST_STRING) {
            const char *s = nullptr;
            ist = vek_strlist_node_val_getString(node, &s);
            if (ist == VEK_ST_SUCCESS) std::printf("%s\n", s);
        } else if (type == VEK_STRLIST_INT32) {
            int32_t v = 0;
            ist = vek_strlist_node_val_getInt32(node, &v);
            if (ist == VEK_ST_SUCCESS) std::printf("%" PRId32 "\n", v);
        } else {
            int64_t v = 0;
            ist = vek_strlist_node_val_getInt64(node, &v);
            if (ist == VEK_ST_SUCCESS) std::printf("%" PRId64 "\n", v);
        }
        if (ist != VEK_ST_SUCCESS) break;
    }
    vek_strlist_iter_free(it);
    vek_strlist_list_free(list);
    if (ist != VEK_ST_SUCCESS) return fail_status(ist, "cannot read an item");
    return kExitOk;
}

} // namespace

const Command kListCommand{"list",
                           {{'t', "type", true}, {'s', "sep", true}, {'r', "range", true}},
                           R"HELP(Usage: vekutil list [--type string|int32|int64] [--sep C] [--range C] TEXT

Parses a one-line list with the library's string-list parser and prints the
items, one a line, in ascending order (duplicates kept). White space is
dropped everywhere, also inside items. Integer lists expand ranges
(1-3 gives 1, 2, 3); an integer item takes the leading digits of its text
(12abc gives 12, abc gives 0) and stops at the 32-bit limits.

Options:
  -t, --type T   item type: string, int32 (default) or int64
  -s, --sep C    item separator (default ',')
  -r, --range C  range mark of integer lists (default '-'; ':' allows
                 negative numbers: -3:-1)
  -T, --trace    turn on the library's trace lines (the parser has none)
  -h, --help     print this help
)HELP",
                           list_main};

} // namespace vekutil
