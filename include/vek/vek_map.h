/**
 * @file vek_map.h
 * @brief Typed key/value map forming a tree, addressed by dotted key paths
 *        with field selectors; binary encoding, queries and text dumps.
 *
 * A map is an ordered list of entries (key, value node). Keys are compared
 * ignoring ASCII case. A value node holds one typed value (VEK_MAP_TYPE_*);
 * a node of type ::VEK_MAP_TYPE_MAP holds a child map, so maps form a tree.
 * An entry may also hold no node at all (vek_map_set_value_ll() with NULL):
 * it reads as ::VEK_MAP_TYPE_NONE.
 *
 * @par Key paths
 * The set and get operations take a key path: components separated by '.',
 * each resolved in the map reached so far.
 * - "mtu" is the entry named mtu of the map given;
 * - "port.speed" is entry speed of the map held by entry port;
 * - "port[id=0x3].speed": among the entries named port whose value is a map,
 *   the first whose child map's first entry named id matches 0x3, then its
 *   entry speed. The selector value is converted as the matched field's type
 *   asks: an I32 field with strtol (base 0: decimal, 0x hex, 0 octal), a U32
 *   field with strtoul (base 0), both with 32-bit saturation on every
 *   platform; a STR field compares case-insensitively; other types never
 *   match. An entry named port that holds no map makes the lookup fail with
 *   ::VEK_ST_MAP_INVALID_MAP.
 * A selector without '=' or without its closing ']' gives
 * ::VEK_ST_MAP_INVALID_SEARCH; a missing key ::VEK_ST_MAP_KEY_NOT_EXIST; a
 * component reached through an entry that is not a map
 * ::VEK_ST_MAP_INTERNAL_ERROR (on a get). Paths of any length are resolved
 * without recursion.
 *
 * @par checkForKey
 * Set operations take checkForKey. Non-zero: each component is looked up
 * first (selectors included) and an existing entry is reused (its value
 * replaced). 0: no lookup: every component appends a new entry, so setting
 * "a" twice makes two entries named a (the first one found is the one gets
 * return), and a selector text becomes part of the new key as written. Both
 * modes create the maps a path needs (an entry that holds another type on
 * the way is turned into a map, its old value released).
 *
 * @par Ownership and allocators
 * All map memory comes from the ordinary heap of the platform layer (see
 * vek_sal.h) through vek_map_malloc(), vek_map_strdup(), vek_map_realloc() and
 * vek_map_free():
 * - a text, byte block, child map or node handed to a set operation is taken
 *   over on success: it must come from vek_map_strdup() / vek_map_malloc()
 *   (vek_map_create() for maps) and must not be used or freed by the caller
 *   afterwards; the map releases it when the entry is replaced, deleted,
 *   cleared or destroyed. On failure it stays the caller's;
 * - get operations hand back the map's own pointers (texts, byte blocks,
 *   child maps, nodes): valid until that entry changes; never free them;
 * - keys are copied by the set operations;
 * - the buffer of vek_map_encode() is the caller's, released with
 *   vek_map_free().
 * Do not pass a set operation the map's own stored text, byte block or child
 * map for the same entry: the old storage is released first.
 *
 * @par Failure leaves nothing behind
 * A set that fails changes nothing (whatever its path added is taken back); a
 * null key or out-parameter gives ::VEK_ST_INVALID_PARAMETER after the map
 * check (::VEK_ST_MAP_INVALID_MAP for a null or invalid map).
 *
 * @par Thread-safety
 * None: a map tree may be used by one thread at a time (readers included,
 * when another thread may write). Distinct trees are independent.
 *
 * @par Trace lines
 * With ::VEK_TRACE_API_MASK bits set in ::vek_trace_level, operations print
 * entry and exit lines; operations that call other exported operations print
 * those calls' lines nested (e.g. vek_map_strdup() for each key a set copies,
 * vek_map_free_value() for each node released). A get whose path cannot be
 * resolved prints no exit line. vek_map_malloc(), vek_map_realloc() and
 * vek_map_free() print none.
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

/** Magic word of a valid map (first field of ::vek_map_t). */
#define VEK_MAP_MAGIC 0xABCDu
/** Type of an entry that holds no value node (and of unknown nodes for the getters of the type). */
#define VEK_MAP_TYPE_NONE (-1)
/** Text: payload.str, a NUL-terminated heap string. */
#define VEK_MAP_TYPE_STR 1
/** Child map: payload.map. */
#define VEK_MAP_TYPE_MAP 2
/** Byte block: payload.bin (heap bytes and their count). */
#define VEK_MAP_TYPE_BIN 3
/** Signed 32-bit integer: payload.i32. */
#define VEK_MAP_TYPE_I32 4
/** Signed 64-bit integer: payload.i64. */
#define VEK_MAP_TYPE_I64 5
/** Single-precision float: payload.f32. */
#define VEK_MAP_TYPE_FLOAT 6
/** Boolean (0 or not 0): payload.boolean. */
#define VEK_MAP_TYPE_BOOL 7
/** Unsigned 32-bit integer: payload.u32. */
#define VEK_MAP_TYPE_U32 8
/** Double-precision float: payload.f64. */
#define VEK_MAP_TYPE_DOUBLE 9
/** Unsigned 64-bit integer: payload.u64. */
#define VEK_MAP_TYPE_U64 10
/**
 * Nesting limit: the decoder accepts maps down to 64 levels below the map it
 * fills (levels made by dotted keys count) and ends with
 * ::VEK_ST_MAP_INTERNAL_ERROR, destination cleared, at level 65; the encoder
 * (and so copy) refuses such a tree with the same status; the dumps print
 * entries down to this depth.
 */
#define VEK_MAP_DECODE_MAX_DEPTH 64

/** A map; create with vek_map_create(), end with vek_map_destroy(). */
typedef struct vek_map_s vek_map_t;
/** A value node; see struct vek_map_value_s. */
typedef struct vek_map_value_s vek_map_value_t;

/** A map: parallel arrays of keys and value nodes. Read it through the functions. */
struct vek_map_s {
    uint32_t magic;           /**< ::VEK_MAP_MAGIC in a valid map. */
    int32_t count;            /**< Number of entries. */
    char **keys;              /**< count key strings (heap copies), in entry order. */
    vek_map_value_t **values; /**< count value nodes (NULL: the entry holds no node). */
};

/** A byte block held by a map. */
typedef struct vek_map_bin_s {
    void *data;   /**< Heap bytes owned by the map; NULL for length 0 after decoding. */
    uint32_t len; /**< Number of bytes. */
} vek_map_bin_t;

/** The value of a node; the member read is chosen by the node's type. */
typedef union vek_map_payload_u {
    char *str;         /**< ::VEK_MAP_TYPE_STR */
    vek_map_t *map;    /**< ::VEK_MAP_TYPE_MAP */
    vek_map_bin_t bin; /**< ::VEK_MAP_TYPE_BIN */
    int32_t i32;       /**< ::VEK_MAP_TYPE_I32 */
    int64_t i64;       /**< ::VEK_MAP_TYPE_I64 */
    float f32;         /**< ::VEK_MAP_TYPE_FLOAT */
    uint8_t boolean;   /**< ::VEK_MAP_TYPE_BOOL */
    uint32_t u32;      /**< ::VEK_MAP_TYPE_U32 */
    double f64;        /**< ::VEK_MAP_TYPE_DOUBLE */
    uint64_t u64;      /**< ::VEK_MAP_TYPE_U64 */
} vek_map_payload_t;

/** A value node (heap block of vek_map_malloc()); released with vek_map_free_value(). */
struct vek_map_value_s {
    int32_t type;              /**< One of the VEK_MAP_TYPE_* codes. */
    vek_map_payload_t payload; /**< The value. */
};

/**
 * Writer of vek_map_encode_to(): takes the next bytes of the stream.
 * @param arg  The caller's pointer given to vek_map_encode_to().
 * @param data The bytes.
 * @param len  Their count.
 * @return -1 on failure (the encoding stops with ::VEK_ST_MAP_CALLBACK_ERROR);
 *         any other value means all @p len bytes were taken.
 */
typedef int32_t (*vek_map_wrfn_t)(void *arg, const void *data, uint32_t len);
/**
 * Reader of vek_map_decode_from(): delivers the next bytes of the stream.
 * @param arg  The caller's pointer given to vek_map_decode_from().
 * @param data Where to put the bytes.
 * @param len  How many are wanted.
 * @return -1 on failure or end of data (::VEK_ST_MAP_CALLBACK_ERROR); another
 *         negative value while reading a count or key length ends the decode
 *         with ::VEK_ST_MAP_INTERNAL_ERROR (and prints the decoder's error line
 *         when ::VEK_TRACE_DECODE_ERROR is set); any other value means all
 *         @p len bytes were delivered.
 */
typedef int32_t (*vek_map_rdfn_t)(void *arg, void *data, uint32_t len);

/**
 * Creates an empty map.
 * @param[out] map Receives the map; NULL gives ::VEK_ST_INVALID_PARAMETER
 *                 without allocating. Not written on failure.
 * @return ::VEK_ST_SUCCESS, ::VEK_ST_INVALID_PARAMETER (7) or ::VEK_ST_NO_MEMORY (2).
 *         The map is the caller's: end it with vek_map_destroy(), or hand it to
 *         vek_map_set_map_ll() (which takes it over).
 */
VEK_API vek_st_t vek_map_create(vek_map_t **map);
/**
 * Clears a map (vek_map_clear()) and releases the map object itself. Any
 * depth, no recursion.
 * @param map The map; must not be used afterwards.
 * @return ::VEK_ST_SUCCESS or ::VEK_ST_MAP_INVALID_MAP (103, nothing done).
 */
VEK_API vek_st_t vek_map_destroy(vek_map_t *map);
/**
 * Removes every entry of a map, releasing keys, nodes and everything below
 * (child maps included, any depth, without recursion). The map stays valid
 * and empty.
 * @param map The map.
 * @return ::VEK_ST_SUCCESS or ::VEK_ST_MAP_INVALID_MAP (103).
 *
 * Prints vek_map_free_value() lines nested for every entry.
 */
VEK_API vek_st_t vek_map_clear(vek_map_t *map);
/**
 * Deletes one entry of the map given (one component: no dotted path; a
 * selector is allowed) and releases its key and node. The last entry moves
 * into its place (entry order changes).
 * @param map The map.
 * @param key The entry's key (case ignored), optionally with a selector.
 * @return ::VEK_ST_SUCCESS; 103; ::VEK_ST_INVALID_PARAMETER (7) NULL key;
 *         ::VEK_ST_NO_MEMORY (2); ::VEK_ST_MAP_KEY_NOT_EXIST (104);
 *         ::VEK_ST_MAP_INVALID_SEARCH (107). Nothing changes on failure.
 */
VEK_API vek_st_t vek_map_delete(vek_map_t *map, const char *key);
/**
 * Releases a value node and what it holds (text, bytes, or child map with
 * its whole tree).
 * @param value The node (not linked into a map any more).
 * @return ::VEK_ST_SUCCESS; ::VEK_ST_ERROR (1) for NULL (nothing done);
 *         ::VEK_ST_MAP_INVALID_MAP (103) when a map node holds an invalid map
 *         (the node itself is released all the same).
 */
VEK_API vek_st_t vek_map_free_value(vek_map_value_t *value);
/**
 * Allocates heap memory for a map (values handed to the set operations,
 * nodes for vek_map_set_value_ll()). Plain vek_malloc(); no trace line.
 * @param size Bytes.
 * @return The block, or NULL. Release with vek_map_free() unless a set takes it over.
 */
VEK_API void *vek_map_malloc(size_t size);
/**
 * Resizes a block of vek_map_malloc() (vek_realloc()); no trace line.
 * @param ptr  The block, or NULL.
 * @param size New size in bytes.
 * @return The block, or NULL (old block intact).
 */
VEK_API void *vek_map_realloc(void *ptr, size_t size);
/**
 * Releases a block of the map allocators, e.g. the buffer of vek_map_encode().
 * @param ptr The block; NULL is ignored. No trace line.
 */
VEK_API void vek_map_free(void *ptr);
/**
 * Copies a string with the map's allocator.
 * @param str The string; NULL gives NULL.
 * @return The copy (release with vek_map_free() unless a set takes it over),
 *         or NULL when memory is exhausted. Exit line "vek_map_strdup dstr=..".
 */
VEK_API char *vek_map_strdup(const char *str);

/**
 * Sets a signed 32-bit value at a key path.
 * @param map         The map (top of the path).
 * @param key         Key path (see the file description).
 * @param value       The value.
 * @param checkForKey Non-zero: reuse an existing entry; 0: always append.
 * @return ::VEK_ST_SUCCESS; ::VEK_ST_MAP_INVALID_MAP (103) NULL or invalid map,
 *         or a path through an entry whose child is absent or invalid;
 *         ::VEK_ST_INVALID_PARAMETER (7) NULL key; ::VEK_ST_NO_MEMORY (2);
 *         ::VEK_ST_MAP_INVALID_SEARCH (107) malformed selector. The same list
 *         holds for every set operation. On failure nothing changes.
 */
VEK_API vek_st_t vek_map_set_i32_ll(vek_map_t *map, const char *key, int32_t value, uint8_t checkForKey);
/**
 * Sets an unsigned 32-bit value at a key path (see vek_map_set_i32_ll()).
 * @param map The map. @param key Key path. @param value The value.
 * @param checkForKey Reuse (non-zero) or append (0).
 * @return As vek_map_set_i32_ll().
 */
VEK_API vek_st_t vek_map_set_u32_ll(vek_map_t *map, const char *key, uint32_t value, uint8_t checkForKey);
/**
 * Sets a signed 64-bit value at a key path (see vek_map_set_i32_ll()).
 * @param map The map. @param key Key path. @param value The value.
 * @param checkForKey Reuse (non-zero) or append (0).
 * @return As vek_map_set_i32_ll().
 */
VEK_API vek_st_t vek_map_set_i64_ll(vek_map_t *map, const char *key, int64_t value, uint8_t checkForKey);
/**
 * Sets an unsigned 64-bit value at a key path (see vek_map_set_i32_ll()).
 * @param map The map. @param key Key path. @param value The value.
 * @param checkForKey Reuse (non-zero) or append (0).
 * @return As vek_map_set_i32_ll().
 */
VEK_API vek_st_t vek_map_set_u64_ll(vek_map_t *map, const char *key, uint64_t value, uint8_t checkForKey);
/**
 * Sets a float at a key path (see vek_map_set_i32_ll()); the value is not traced.
 * @param map The map. @param key Key path. @param value The value.
 * @param checkForKey Reuse (non-zero) or append (0).
 * @return As vek_map_set_i32_ll().
 */
VEK_API vek_st_t vek_map_set_float_ll(vek_map_t *map, const char *key, float value, uint8_t checkForKey);
/**
 * Sets a double at a key path (see vek_map_set_i32_ll()); the value is not traced.
 * @param map The map. @param key Key path. @param value The value.
 * @param checkForKey Reuse (non-zero) or append (0).
 * @return As vek_map_set_i32_ll().
 */
VEK_API vek_st_t vek_map_set_double_ll(vek_map_t *map, const char *key, double value, uint8_t checkForKey);
/**
 * Sets a boolean at a key path (see vek_map_set_i32_ll()).
 * @param map The map. @param key Key path. @param value 0 false, else true.
 * @param checkForKey Reuse (non-zero) or append (0).
 * @return As vek_map_set_i32_ll().
 */
VEK_API vek_st_t vek_map_set_bool_ll(vek_map_t *map, const char *key, uint8_t value, uint8_t checkForKey);
/**
 * Sets a text at a key path, taking the string over on success.
 * @param map The map. @param key Key path.
 * @param value A string from vek_map_strdup() / vek_map_malloc() (or NULL: read
 *        back as NULL, encoded and printed as an empty text); the map owns it
 *        after success, the caller after failure.
 * @param checkForKey Reuse (non-zero) or append (0).
 * @return As vek_map_set_i32_ll().
 */
VEK_API vek_st_t vek_map_set_str_ll(vek_map_t *map, const char *key, char *value, uint8_t checkForKey);
/**
 * Sets a child map at a key path, taking the map over on success (it becomes
 * part of the tree and is destroyed with it).
 * @param map The map. @param key Key path.
 * @param value A map from vek_map_create() that is in no tree yet.
 * @param checkForKey Reuse (non-zero) or append (0).
 * @return As vek_map_set_i32_ll().
 */
VEK_API vek_st_t vek_map_set_map_ll(vek_map_t *map, const char *key, vek_map_t *value, uint8_t checkForKey);
/**
 * Sets a byte block at a key path, taking the bytes over on success.
 * @param map The map. @param key Key path.
 * @param value Bytes from vek_map_malloc() (or NULL: encoded as length 0).
 * @param len   Their count.
 * @param checkForKey Reuse (non-zero) or append (0).
 * @return As vek_map_set_i32_ll().
 */
VEK_API vek_st_t vek_map_set_bin_ll(vek_map_t *map, const char *key, void *value, uint32_t len, uint8_t checkForKey);
/**
 * Places a value node at a key path, taking the node over on success; the
 * node the entry held is released (unless it is the same node).
 * @param map The map. @param key Key path.
 * @param value A node from vek_map_malloc() with type and payload set, or
 *        NULL: the entry then holds no node (type ::VEK_MAP_TYPE_NONE).
 * @param checkForKey Reuse (non-zero) or append (0).
 * @return As vek_map_set_i32_ll().
 */
VEK_API vek_st_t vek_map_set_value_ll(vek_map_t *map, const char *key, vek_map_value_t *value, uint8_t checkForKey);

/**
 * Reads a signed 32-bit value at a key path.
 * @param map The map. @param key Key path (see the file description).
 * @param[out] value Receives the value; written only on success.
 * @return ::VEK_ST_SUCCESS; ::VEK_ST_MAP_INVALID_MAP (103); ::VEK_ST_INVALID_PARAMETER
 *         (7) NULL key or out-parameter; ::VEK_ST_MAP_KEY_NOT_EXIST (104);
 *         ::VEK_ST_MAP_INTERNAL_ERROR (102) a path component is not a map;
 *         ::VEK_ST_MAP_INVALID_SEARCH (107); ::VEK_ST_NO_MEMORY (2) copying the
 *         path; ::VEK_ST_MAP_INVALID_TYPE (105) the entry holds another type or
 *         no node. The same list holds for every get operation.
 */
VEK_API vek_st_t vek_map_get_i32(vek_map_t *map, const char *key, int32_t *value);
/**
 * Reads an unsigned 32-bit value; an I32 entry is accepted too (same bits).
 * @param map The map. @param key Key path. @param[out] value The value.
 * @return As vek_map_get_i32().
 */
VEK_API vek_st_t vek_map_get_u32(vek_map_t *map, const char *key, uint32_t *value);
/**
 * Reads a signed 64-bit value.
 * @param map The map. @param key Key path. @param[out] value The value.
 * @return As vek_map_get_i32().
 */
VEK_API vek_st_t vek_map_get_i64(vek_map_t *map, const char *key, int64_t *value);
/**
 * Reads an unsigned 64-bit value; an I64 entry is accepted too (same bits).
 * @param map The map. @param key Key path. @param[out] value The value.
 * @return As vek_map_get_i32().
 */
VEK_API vek_st_t vek_map_get_u64(vek_map_t *map, const char *key, uint64_t *value);
/**
 * Reads a float.
 * @param map The map. @param key Key path. @param[out] value The value.
 * @return As vek_map_get_i32().
 */
VEK_API vek_st_t vek_map_get_float(vek_map_t *map, const char *key, float *value);
/**
 * Reads a double.
 * @param map The map. @param key Key path. @param[out] value The value.
 * @return As vek_map_get_i32().
 */
VEK_API vek_st_t vek_map_get_double(vek_map_t *map, const char *key, double *value);
/**
 * Reads a boolean.
 * @param map The map. @param key Key path. @param[out] value The value as stored.
 * @return As vek_map_get_i32().
 */
VEK_API vek_st_t vek_map_get_bool(vek_map_t *map, const char *key, uint8_t *value);
/**
 * Reads a text: the map's own string (may be NULL), valid until the entry
 * changes; do not free it.
 * @param map The map. @param key Key path. @param[out] value The string.
 * @return As vek_map_get_i32().
 */
VEK_API vek_st_t vek_map_get_str(vek_map_t *map, const char *key, char **value);
/**
 * Reads a child map: the tree's own map (set and get through it freely; do not
 * destroy it).
 * @param map The map. @param key Key path. @param[out] value The child map.
 * @return As vek_map_get_i32().
 */
VEK_API vek_st_t vek_map_get_map(vek_map_t *map, const char *key, vek_map_t **value);
/**
 * Reads a byte block: the map's own bytes and their count.
 * @param map The map. @param key Key path.
 * @param[out] value The bytes (do not free); NULL gives 7.
 * @param[out] len   Their count; NULL gives 7.
 * @return As vek_map_get_i32().
 */
VEK_API vek_st_t vek_map_get_bin(vek_map_t *map, const char *key, void **value, uint32_t *len);
/**
 * Reads the value node of an entry (any type; NULL when the entry holds none).
 * @param map The map. @param key Key path.
 * @param[out] value The map's own node (do not free).
 * @return As vek_map_get_i32(), without 105.
 */
VEK_API vek_st_t vek_map_get_value(vek_map_t *map, const char *key, vek_map_value_t **value);
/**
 * Reads the type of an entry.
 * @param map The map. @param key Key path.
 * @param[out] type The node's VEK_MAP_TYPE_* code, ::VEK_MAP_TYPE_NONE when the
 *             entry holds no node.
 * @return As vek_map_get_i32(), without 105.
 */
VEK_API vek_st_t vek_map_get_type(vek_map_t *map, const char *key, int32_t *type);

/**
 * Encodes a map tree through a writer callback. The stream is the same on
 * every platform (big-endian): the entry count, then per entry the key
 * length, the key bytes, the type code and the value, a child map's entries
 * nested after its entry; an entry that holds no node is written as its key
 * and the type code of ::VEK_MAP_TYPE_NONE with no value. The stream-format
 * document (docs/map-format.md) gives the exact byte layout.
 * @param map  The map.
 * @param wrfn The writer; NULL writes nothing and succeeds.
 * @param arg  Passed to every call of @p wrfn.
 * @return ::VEK_ST_SUCCESS; ::VEK_ST_MAP_INVALID_MAP (103) invalid map (also a
 *         child map entry whose map is invalid); ::VEK_ST_MAP_INTERNAL_ERROR
 *         (102) a map nested deeper than ::VEK_MAP_DECODE_MAX_DEPTH;
 *         ::VEK_ST_MAP_CALLBACK_ERROR (108) the writer returned -1. Bytes
 *         written before a failure stay written.
 */
VEK_API vek_st_t vek_map_encode_to(vek_map_t *map, vek_map_wrfn_t wrfn, void *arg);
/**
 * Decodes a stream through a reader callback into a map, appending the
 * entries to those already there (decoding into a non-empty map merges: a key
 * present already gets a second entry). The stream is untrusted: lengths and
 * depth are checked.
 * @param map  The destination map.
 * @param rdfn The reader; NULL reads nothing and succeeds.
 * @param arg  Passed to every call of @p rdfn.
 * @return ::VEK_ST_SUCCESS; 103 invalid map; ::VEK_ST_MAP_CALLBACK_ERROR (108)
 *         the reader failed or the stream ended early;
 *         ::VEK_ST_NO_MEMORY (2) a length of 0xFFFFFFFF or an allocation
 *         failure; ::VEK_ST_MAP_INTERNAL_ERROR (102) maps nested deeper than
 *         ::VEK_MAP_DECODE_MAX_DEPTH, or a reader result below -1. On 2 and 102
 *         the destination is cleared (previous entries included); on 108 the
 *         entries read so far stay. An entry whose type code is not a value
 *         type (::VEK_MAP_TYPE_NONE or unknown) is skipped: no entry is made
 *         and no value read. A key with dots is a path: it creates one nested
 *         map per dot.
 */
VEK_API vek_st_t vek_map_decode_from(vek_map_t *map, vek_map_rdfn_t rdfn, void *arg);
/**
 * Encodes a map tree into a new heap buffer.
 * @param map The map.
 * @param[out] buf Receives the buffer; release it with vek_map_free(). NULL gives 7.
 * @param[out] len Receives the stream's length in bytes; NULL gives 7.
 * @return ::VEK_ST_SUCCESS; ::VEK_ST_INVALID_PARAMETER (7), nothing allocated;
 *         ::VEK_ST_NO_MEMORY (2) the buffer could not be set up (*buf and *len
 *         not written); otherwise the status of vek_map_encode_to(), with *buf
 *         and *len written all the same: the caller releases *buf with
 *         vek_map_free() also after a failure; it is NULL (the length then
 *         counts the bytes written before) when the buffer could not grow or
 *         the stream would pass 2^31-1 bytes (108).
 */
VEK_API vek_st_t vek_map_encode(vek_map_t *map, void **buf, int32_t *len);
/**
 * Decodes a stream held in memory into a map (merging, as
 * vek_map_decode_from()). A length larger than the bytes left gives 108
 * before anything is allocated for it.
 * @param map The destination map.
 * @param buf The stream; NULL reads as empty.
 * @param len Its length in bytes; negative reads as empty. An empty stream
 *            gives ::VEK_ST_MAP_CALLBACK_ERROR (the entry count is missing).
 * @return As vek_map_decode_from(); ::VEK_ST_NO_MEMORY (2) when the reader
 *         context cannot be allocated.
 */
VEK_API vek_st_t vek_map_decode(vek_map_t *map, const void *buf, int32_t len);
/**
 * Deep-copies a tree: vek_map_encode() of the source, then vek_map_decode()
 * into the destination (their lines appear nested).
 * @param map         The source.
 * @param vek_mapcopy The destination (entries are appended to its own).
 * @return ::VEK_ST_SUCCESS or the first failure of the encode or the decode.
 */
VEK_API vek_st_t vek_map_copy(vek_map_t *map, vek_map_t *vek_mapcopy);

/**
 * Number of entries of a map (this level only).
 * @param map The map.
 * @param[out] length Receives the count; NULL gives 7.
 * @return ::VEK_ST_SUCCESS, 103 or 7.
 */
VEK_API vek_st_t vek_map_length(vek_map_t *map, int32_t *length);
/**
 * Key of the i-th entry (0-based, this level only).
 * @param map The map.
 * @param i   Index.
 * @param[out] key Receives the map's own key string (do not free); NULL gives 7.
 * @return ::VEK_ST_SUCCESS; 103; 7; ::VEK_ST_MAP_INVALID_INDEX (106) i negative
 *         or not below the count.
 */
VEK_API vek_st_t vek_map_get_ith_key(vek_map_t *map, int32_t i, char **key);
/**
 * Value node of the i-th entry.
 * @param map The map.
 * @param i   Index.
 * @param[out] value Receives the map's own node (NULL when the entry holds
 *             none); NULL gives 7.
 * @return ::VEK_ST_SUCCESS, 103, 7 or 106.
 */
VEK_API vek_st_t vek_map_get_ith_value(vek_map_t *map, int32_t i, vek_map_value_t **value);
/**
 * Type of the i-th entry (::VEK_MAP_TYPE_NONE when it holds no node).
 * @param map The map.
 * @param i   Index.
 * @param[out] type Receives the type code; NULL gives 7.
 * @return ::VEK_ST_SUCCESS, 103, 7 or 106.
 */
VEK_API vek_st_t vek_map_get_ith_type(vek_map_t *map, int32_t i, int32_t *type);
/**
 * Counts the entries of this level whose key equals @p key (case ignored; no
 * paths, no selectors). Uses vek_map_length() and vek_map_get_ith_key(),
 * whose lines appear nested.
 * @param map The map.
 * @param key The key; NULL matches nothing (0 found, status 0).
 * @param[out] nKeysFound Receives the count; may be NULL.
 * @return ::VEK_ST_SUCCESS or 103.
 */
VEK_API vek_st_t vek_map_count_keys(vek_map_t *map, const char *key, uint32_t *nKeysFound);
/**
 * Collects the nodes of this level's entries whose key matches, in entry order.
 * @param map        The map.
 * @param key        The key; NULL matches nothing.
 * @param[out] value Array of @p maxValues node pointers receiving the map's own
 *                   nodes; NULL only counts.
 * @param maxValues  The most entries to collect (and count).
 * @param[out] nKeysFound Receives the number found (at most @p maxValues); may be NULL.
 * @param keyLength  0: whole keys must be equal; n: the first n characters
 *                   (a prefix search), case ignored.
 * @return ::VEK_ST_SUCCESS or 103.
 */
VEK_API vek_st_t vek_map_get_all_values(vek_map_t *map, const char *key, vek_map_value_t **value, uint32_t maxValues,
                                        uint32_t *nKeysFound, uint32_t keyLength);
/**
 * Node of the idx-th entry (0-based) among those whose key equals @p key; with
 * a NULL or empty key, of the idx-th entry (vek_map_get_ith_value()).
 * @param map The map.
 * @param idx Index among the matching entries.
 * @param key The key (case ignored; this level only).
 * @param[out] value Receives the map's own node; NULL gives 7.
 * @return ::VEK_ST_SUCCESS; 103; 7; ::VEK_ST_MAP_INVALID_INDEX (106) no such
 *         entry (a negative idx walks every key, then gives 106).
 */
VEK_API vek_st_t vek_map_get_ith_key_value(vek_map_t *map, int32_t idx, const char *key, vek_map_value_t **value);

/**
 * Prints a map tree on standard output, one line per entry, indented by
 * level: "key = (type) value" ("(i32) -5", "(u32) 5", "(i64)", "(u64)",
 * "(float) %f", "(double) %e", "(str) text", "(bin) (N bytes)",
 * "(bool) TRUE"/"FALSE"); a child map prints "key = (map) " (with a blank)
 * and its entries one level deeper; every i32 entry named id of a child map
 * adds "[id=N]" after its key. An entry of unknown type, or holding no node,
 * prints its key part only and leaves the line open. Maps deeper than
 * ::VEK_MAP_DECODE_MAX_DEPTH print their "(map)" line but not their entries.
 * @param map The map.
 * @return ::VEK_ST_SUCCESS or 103 (nothing printed).
 */
VEK_API vek_st_t vek_map_dump_to_console(vek_map_t *map);
/**
 * Prints a map tree as vek_map_dump_to_console() does, to a stream.
 * @param map    The map.
 * @param stream The stream; NULL gives 7.
 * @return ::VEK_ST_SUCCESS, 103 or 7.
 */
VEK_API vek_st_t vek_map_dump_to_stream(vek_map_t *map, FILE *stream);
/**
 * Prints a map tree to a stream with every entry's full dotted path instead
 * of indentation ("port[id=3].name = (str) eth0"). Paths are built in a
 * 1024-byte heap buffer: a longer path is cut at 1023 characters.
 * @param map    The map.
 * @param stream The stream; NULL gives 7.
 * @return ::VEK_ST_SUCCESS; 103 (checked before allocating); 7;
 *         ::VEK_ST_NO_MEMORY (2) the path buffer cannot be allocated.
 */
VEK_API vek_st_t vek_map_dump_full_map(vek_map_t *map, FILE *stream);

#ifdef __cplusplus
}
#endif

#endif /* VEK_MAP_H */
