/*
 * vek_strlist.h - parser of one-line lists (separator, integer ranges) into
 * typed, ordered items, with an iterator and accessors.
 */
#ifndef VEK_STRLIST_H
#define VEK_STRLIST_H

#include <stddef.h>
#include <stdint.h>
#include "vek_status.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t vek_strlist_type_t;
#define VEK_STRLIST_STRING        1u
#define VEK_STRLIST_INT32         2u
#define VEK_STRLIST_INT64         3u
#define VEK_STRLIST_CUSVAL        4u
#define VEK_STRLIST_MAX_ITEM_LEN  255u        /* characters of one item, white space removed */
#define VEK_STRLIST_MAX_ITEMS     16777216u   /* items one build may make; more gives VEK_ST_STRLIST_ITEM_EXCEED */

typedef union vek_strlist_payload_u {
    char     *str;               /* VEK_STRLIST_STRING */
    int32_t   i32;               /* VEK_STRLIST_INT32 */
    int64_t   i64;               /* VEK_STRLIST_INT64 */
    uintptr_t cusval;            /* VEK_STRLIST_CUSVAL */
} vek_strlist_payload_t;

typedef struct vek_strlist_val_s {
    vek_strlist_type_t    type;
    vek_strlist_payload_t payload;
} vek_strlist_val_t;

typedef struct vek_strlist_node_s {
    struct vek_strlist_node_s *next;
    vek_strlist_val_t         *value;
} vek_strlist_node_t;

typedef struct vek_strlist_iter_s {
    vek_strlist_node_t *first;
    vek_strlist_node_t *current;
} vek_strlist_iter_t;

/* <0, 0, >0 as listItem sorts before, with, after newItem; strings: the
 * strings; integers and custom values: pointers to the payloads */
typedef int (*vek_strlist_cmp_fn)(const void *listItem, const void *newItem);
typedef uintptr_t (*vek_strlist_conv_fn)(const char *text);

VEK_API vek_st_t vek_strlist_list_build(const char *text, vek_strlist_type_t type, char separator,
                                        char rangeMark, vek_strlist_conv_fn convFn,
                                        vek_strlist_cmp_fn cmpFn, vek_strlist_node_t **outList);
VEK_API vek_st_t vek_strlist_list_free(vek_strlist_node_t *list);
VEK_API vek_st_t vek_strlist_iter_fetch(vek_strlist_node_t *list, vek_strlist_iter_t **outIter);
VEK_API int      vek_strlist_iter_hasNext(vek_strlist_iter_t *iter);
VEK_API vek_strlist_node_t *vek_strlist_iter_getNext(vek_strlist_iter_t *iter);
VEK_API void     vek_strlist_iter_free(vek_strlist_iter_t *iter);
VEK_API vek_st_t vek_strlist_node_val_getString(vek_strlist_node_t *node, const char **value);
VEK_API vek_st_t vek_strlist_node_val_getInt32(vek_strlist_node_t *node, int32_t *value);
VEK_API vek_st_t vek_strlist_node_val_getInt64(vek_strlist_node_t *node, int64_t *value);
VEK_API vek_st_t vek_strlist_node_val_getCusval(vek_strlist_node_t *node, uintptr_t *value);
VEK_API vek_st_t vek_strlist_node_val_getType(vek_strlist_node_t *node, vek_strlist_type_t *type);
VEK_API void    *vek_strlist_malloc(size_t size);
VEK_API void    *vek_strlist_realloc(void *ptr, size_t size);
VEK_API void     vek_strlist_free(void *ptr);
VEK_API char    *vek_strlist_strdup(const char *str);

#ifdef __cplusplus
}
#endif

#endif /* VEK_STRLIST_H */
