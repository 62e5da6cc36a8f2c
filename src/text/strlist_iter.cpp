// Iterator over a string list: a heap record that refers to the list's nodes
// without owning them.
#include <vek/vek_strlist.h>

extern "C" VEK_API vek_st_t vek_strlist_iter_fetch(vek_strlist_node_t *list, vek_strlist_iter_t **outIter) {
    if (list == nullptr) return VEK_ST_STRLIST_INV_LIST;
    if (outIter == nullptr) return VEK_ST_STRLIST_INV_ITER;
    auto *iter = static_cast<vek_strlist_iter_t *>(vek_strlist_malloc(sizeof(vek_strlist_iter_t)));
    *outIter = iter;
    if (iter == nullptr) return VEK_ST_NO_MEMORY;
    iter->first = list;
    iter->current = list;
    return VEK_ST_SUCCESS;
}

extern "C" VEK_API int vek_strlist_iter_hasNext(vek_strlist_iter_t *iter) {
    return (iter != nullptr && iter->current != nullptr) ? 1 : 0;
}

extern "C" VEK_API vek_strlist_node_t *vek_strlist_iter_getNext(vek_strlist_iter_t *iter) {
    if (iter == nullptr || iter->current == nullptr) return nullptr;
    vek_strlist_node_t *node = iter->current;
    iter->current = node->next;
    return node;
}

extern "C" VEK_API void vek_strlist_iter_free(vek_strlist_iter_t *iter) {
    if (iter == nullptr) return;
    iter->first = nullptr;
    iter->current = nullptr;
    vek_strlist_free(iter);
}
