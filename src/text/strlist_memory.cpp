// Heap wrappers of the string lists and the release of a whole list.
//
// Every block of a list (nodes, value records, string copies) comes from the
// platform heap through these wrappers, so a list can be released by any
// code that links the library.
#include <vek/vek_sal.h>
#include <vek/vek_strlist.h>

#include "foundation/memory.hpp"

extern "C" VEK_API void *vek_strlist_malloc(size_t size) { return vek_malloc(size); }

extern "C" VEK_API void *vek_strlist_realloc(void *ptr, size_t size) { return vek_realloc(ptr, size); }

extern "C" VEK_API void vek_strlist_free(void *ptr) { vek_free(ptr); }

extern "C" VEK_API char *vek_strlist_strdup(const char *str) {
    return str != nullptr ? vek::heap_copy_text(str) : nullptr;
}

// Releases each node's owned payload (string copy or custom value), then its
// value record, then the node itself, walking from the first node.
extern "C" VEK_API vek_st_t vek_strlist_list_free(vek_strlist_node_t *list) {
    while (list != nullptr) {
        vek_strlist_node_t *next = list->next;
        vek_strlist_val_t *val = list->value;
        if (val != nullptr) {
            if (val->type == VEK_STRLIST_STRING && val->payload.str != nullptr) {
                vek_strlist_free(val->payload.str);
            } else if (val->type == VEK_STRLIST_CUSVAL && val->payload.cusval != 0) {
                vek_strlist_free(reinterpret_cast<void *>(val->payload.cusval));
            }
            vek_strlist_free(val);
        }
        vek_strlist_free(list);
        list = next;
    }
    return VEK_ST_SUCCESS;
}
