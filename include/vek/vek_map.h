/*
 * vek_map.h - typed key/value map forming a tree, addressed by dotted key
 * paths with field selectors; binary encoding, queries and text dumps.
 */
#ifndef VEK_MAP_H
#define VEK_MAP_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include "vek_status.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VEK_MAP_MAGIC        0xABCDu
#define VEK_MAP_TYPE_NONE    (-1)
#define VEK_MAP_TYPE_STR     1
#define VEK_MAP_TYPE_MAP     2
#define VEK_MAP_TYPE_BIN     3
#define VEK_MAP_TYPE_I32     4
#define VEK_MAP_TYPE_I64     5
#define VEK_MAP_TYPE_FLOAT   6
#define VEK_MAP_TYPE_BOOL    7
#define VEK_MAP_TYPE_U32     8
#define VEK_MAP_TYPE_DOUBLE  9
#define VEK_MAP_TYPE_U64     10
#define VEK_MAP_DECODE_MAX_DEPTH 64   /* map levels the decoder accepts below the map it fills */

typedef struct vek_map_s       vek_map_t;
typedef struct vek_map_value_s vek_map_value_t;

struct vek_map_s {
    uint32_t          magic;     /* VEK_MAP_MAGIC */
    int32_t           count;
    char            **keys;
    vek_map_value_t **values;
};

typedef struct vek_map_bin_s {
    void     *data;              /* owned bytes; NULL for length 0 after decoding */
    uint32_t  len;
} vek_map_bin_t;

typedef union vek_map_payload_u {
    char          *str;          /* VEK_MAP_TYPE_STR */
    vek_map_t     *map;          /* VEK_MAP_TYPE_MAP */
    vek_map_bin_t  bin;          /* VEK_MAP_TYPE_BIN */
    int32_t        i32;          /* VEK_MAP_TYPE_I32 */
    int64_t        i64;          /* VEK_MAP_TYPE_I64 */
    float          f32;          /* VEK_MAP_TYPE_FLOAT */
    uint8_t        boolean;      /* VEK_MAP_TYPE_BOOL */
    uint32_t       u32;          /* VEK_MAP_TYPE_U32 */
    double         f64;          /* VEK_MAP_TYPE_DOUBLE */
    uint64_t       u64;          /* VEK_MAP_TYPE_U64 */
} vek_map_payload_t;

struct vek_map_value_s {
    int32_t           type;      /* VEK_MAP_TYPE_* */
    vek_map_payload_t payload;
};

/* -1: failure; any other value: all len bytes taken / delivered */
typedef int32_t (*vek_map_wrfn_t)(void *arg, const void *data, uint32_t len);
typedef int32_t (*vek_map_rdfn_t)(void *arg, void *data, uint32_t len);

/* Model */
VEK_API vek_st_t vek_map_create(vek_map_t **map);
VEK_API vek_st_t vek_map_destroy(vek_map_t *map);
VEK_API vek_st_t vek_map_clear(vek_map_t *map);
VEK_API vek_st_t vek_map_delete(vek_map_t *map, const char *key);
VEK_API vek_st_t vek_map_free_value(vek_map_value_t *value);
VEK_API void    *vek_map_malloc(size_t size);
VEK_API void    *vek_map_realloc(void *ptr, size_t size);
VEK_API void     vek_map_free(void *ptr);
VEK_API char    *vek_map_strdup(const char *str);

/* Set operations take over the pointers given to them. */
VEK_API vek_st_t vek_map_set_i32_ll(vek_map_t *map, const char *key, int32_t value, uint8_t checkForKey);
VEK_API vek_st_t vek_map_set_u32_ll(vek_map_t *map, const char *key, uint32_t value, uint8_t checkForKey);
VEK_API vek_st_t vek_map_set_i64_ll(vek_map_t *map, const char *key, int64_t value, uint8_t checkForKey);
VEK_API vek_st_t vek_map_set_u64_ll(vek_map_t *map, const char *key, uint64_t value, uint8_t checkForKey);
VEK_API vek_st_t vek_map_set_float_ll(vek_map_t *map, const char *key, float value, uint8_t checkForKey);
VEK_API vek_st_t vek_map_set_double_ll(vek_map_t *map, const char *key, double value, uint8_t checkForKey);
VEK_API vek_st_t vek_map_set_bool_ll(vek_map_t *map, const char *key, uint8_t value, uint8_t checkForKey);
VEK_API vek_st_t vek_map_set_str_ll(vek_map_t *map, const char *key, char *value, uint8_t checkForKey);
VEK_API vek_st_t vek_map_set_map_ll(vek_map_t *map, const char *key, vek_map_t *value, uint8_t checkForKey);
VEK_API vek_st_t vek_map_set_bin_ll(vek_map_t *map, const char *key, void *value, uint32_t len, uint8_t checkForKey);
VEK_API vek_st_t vek_map_set_value_ll(vek_map_t *map, const char *key, vek_map_value_t *value, uint8_t checkForKey);

/* Get operations hand back the map's own pointers for text, maps and bytes. */
VEK_API vek_st_t vek_map_get_i32(vek_map_t *map, const char *key, int32_t *value);
VEK_API vek_st_t vek_map_get_u32(vek_map_t *map, const char *key, uint32_t *value);
VEK_API vek_st_t vek_map_get_i64(vek_map_t *map, const char *key, int64_t *value);
VEK_API vek_st_t vek_map_get_u64(vek_map_t *map, const char *key, uint64_t *value);
VEK_API vek_st_t vek_map_get_float(vek_map_t *map, const char *key, float *value);
VEK_API vek_st_t vek_map_get_double(vek_map_t *map, const char *key, double *value);
VEK_API vek_st_t vek_map_get_bool(vek_map_t *map, const char *key, uint8_t *value);
VEK_API vek_st_t vek_map_get_str(vek_map_t *map, const char *key, char **value);
VEK_API vek_st_t vek_map_get_map(vek_map_t *map, const char *key, vek_map_t **value);
VEK_API vek_st_t vek_map_get_bin(vek_map_t *map, const char *key, void **value, uint32_t *len);
VEK_API vek_st_t vek_map_get_value(vek_map_t *map, const char *key, vek_map_value_t **value);
VEK_API vek_st_t vek_map_get_type(vek_map_t *map, const char *key, int32_t *type);

/* Binary encoding */
VEK_API vek_st_t vek_map_encode_to(vek_map_t *map, vek_map_wrfn_t wrfn, void *arg);
VEK_API vek_st_t vek_map_decode_from(vek_map_t *map, vek_map_rdfn_t rdfn, void *arg);
VEK_API vek_st_t vek_map_encode(vek_map_t *map, void **buf, int32_t *len);
VEK_API vek_st_t vek_map_decode(vek_map_t *map, const void *buf, int32_t len);
VEK_API vek_st_t vek_map_copy(vek_map_t *map, vek_map_t *vek_mapcopy);

/* Enumeration and queries */
VEK_API vek_st_t vek_map_length(vek_map_t *map, int32_t *length);
VEK_API vek_st_t vek_map_get_ith_key(vek_map_t *map, int32_t i, char **key);
VEK_API vek_st_t vek_map_get_ith_value(vek_map_t *map, int32_t i, vek_map_value_t **value);
VEK_API vek_st_t vek_map_get_ith_type(vek_map_t *map, int32_t i, int32_t *type);
VEK_API vek_st_t vek_map_count_keys(vek_map_t *map, const char *key, uint32_t *nKeysFound);
VEK_API vek_st_t vek_map_get_all_values(vek_map_t *map, const char *key, vek_map_value_t **value,
                                        uint32_t maxValues, uint32_t *nKeysFound, uint32_t keyLength);
VEK_API vek_st_t vek_map_get_ith_key_value(vek_map_t *map, int32_t idx, const char *key, vek_map_value_t **value);

/* Dumps */
VEK_API vek_st_t vek_map_dump_to_console(vek_map_t *map);
VEK_API vek_st_t vek_map_dump_to_stream(vek_map_t *map, FILE *stream);
VEK_API vek_st_t vek_map_dump_full_map(vek_map_t *map, FILE *stream);

#ifdef __cplusplus
}
#endif

#endif /* VEK_MAP_H */
