/*
 * vek_dpt.h - paged direct table: integer keys to words, pages allocated on
 * first store and released with their last value.
 */
#ifndef VEK_DPT_H
#define VEK_DPT_H

#include <stdint.h>
#include "vek_status.h"
#include "vek_bitmap.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vek_dpt_page_s {
    uintptr_t    *values;      /* pageSize value words */
    uint32_t      numUsed;
    vek_bitmap_t *usedSlots;
} vek_dpt_page_t;

typedef struct vek_dpt_s {
    uint32_t         tableSize;
    uint32_t         pageSize;
    uint32_t         numPages;
    uint32_t         numAllocatedPages;
    vek_dpt_page_t **pageDir;            /* numPages page pointers */
    vek_bitmap_t    *allocatedPages;
    vek_bitmap_t    *unavailablePages;
} vek_dpt_t;

typedef int32_t (*vek_dpt_del_fn_t)(uintptr_t value);                 /* result ignored */
typedef int32_t (*vek_dpt_visit_fn_t)(uint32_t key, uintptr_t value); /* result ignored */

VEK_API vek_dpt_t *vek_dpt_create_table(uint32_t tableSize, uint32_t pageSize);
VEK_API void       vek_dpt_delete_nodes_and_table(vek_dpt_t *dpt, vek_dpt_del_fn_t delFn);
VEK_API uintptr_t  vek_dpt_get(vek_dpt_t *dpt, uint32_t key);
VEK_API int32_t    vek_dpt_put(vek_dpt_t *dpt, uint32_t key, uintptr_t value, uintptr_t *old_value);
VEK_API uintptr_t  vek_dpt_rem(vek_dpt_t *dpt, uint32_t key);
VEK_API int32_t    vek_dpt_pick_key(vek_dpt_t *dpt, uint32_t *outKey);
VEK_API int32_t    vek_dpt_put_pick_key(vek_dpt_t *dpt, uintptr_t value, uint32_t *outKey);
VEK_API void       vek_dpt_traverse(vek_dpt_t *dpt, vek_dpt_visit_fn_t fn);

#ifdef __cplusplus
}
#endif

#endif /* VEK_DPT_H */
