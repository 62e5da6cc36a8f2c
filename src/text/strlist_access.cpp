// Accessors of a string-list node's value.
//
// The typed accessors check the node, then its value record, then the type,
// and only then write the payload; the out-parameter is never checked.
#include <vek/vek_strlist.h>

namespace {

// Validates the node for a typed read and returns its record, or a status.
vek_st_t typed_record(vek_strlist_node_t *node, vek_strlist_type_t type, const vek_strlist_val_t **val) {
    if (node == nullptr) return VEK_ST_STRLIST_INV_NODE;
    if (node->value == nullptr) return VEK_ST_STRLIST_INV_VALUE;
    if (node->value->type != type) return VEK_ST_STRLIST_INV_TYPE;
    *val = node->value;
    return VEK_ST_SUCCESS;
}

// Reads one payload member of a node of the given type into *out.
template <vek_strlist_type_t Type, typename T, typename Member>
vek_st_t get_payload(vek_strlist_node_t *node, T *out, Member member) {
    const vek_strlist_val_t *val = nullptr;
    const vek_st_t st = typed_record(node, Type, &val);
    if (st == VEK_ST_SUCCESS) *out = val->payload.*member;
    return st;
}

} // namespace

extern "C" VEK_API vek_st_t vek_strlist_node_val_getString(vek_strlist_node_t *node, const char **value) {
    return get_payload<VEK_STRLIST_STRING>(node, value, &vek_strlist_payload_t::str);
}

extern "C" VEK_API vek_st_t vek_strlist_node_val_getInt32(vek_strlist_node_t *node, int32_t *value) {
    return get_payload<VEK_STRLIST_INT32>(node, value, &vek_strlist_payload_t::i32);
}

extern "C" VEK_API vek_st_t vek_strlist_node_val_getInt64(vek_strlist_node_t *node, int64_t *value) {
    return get_payload<VEK_STRLIST_INT64>(node, value, &vek_strlist_payload_t::i64);
}

extern "C" VEK_API vek_st_t vek_strlist_node_val_getCusval(vek_strlist_node_t *node, uintptr_t *value) {
    return get_payload<VEK_STRLIST_CUSVAL>(node, value, &vek_strlist_payload_t::cusval);
}

// Any type; a node without a value record counts as an invalid node here.
extern "C" VEK_API vek_st_t vek_strlist_node_val_getType(vek_strlist_node_t *node, vek_strlist_type_t *type) {
    if (node == nullptr || node->value == nullptr) return VEK_ST_STRLIST_INV_NODE;
    *type = node->value->type;
    return VEK_ST_SUCCESS;
}
