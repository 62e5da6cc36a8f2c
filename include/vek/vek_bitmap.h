/*
 * vek_bitmap.h - identifier bitmaps: first-fit, fixed, windowed and aligned
 * reservation, span listing and nice-identifier picking.
 */
#ifndef VEK_BITMAP_H
#define VEK_BITMAP_H

#include <stdint.h>
#include "vek_status.h"
#include "vek_sorted_set.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vek_bitmap_s {
    uint32_t  size;           /* identifiers 0 .. size-1 */
    uint32_t  words_needed;   /* (size + 31) / 32 */
    uint32_t *bits;           /* bit i%32 of word i/32 = identifier i */
    uint32_t  firstFree;      /* search hint */
} vek_bitmap_t;

typedef struct vek_span_rec_s {
    struct vek_span_rec_s *next;
    struct vek_span_rec_s *tail;
    uint32_t               before;
    uint32_t               after;
} vek_span_rec_t;

typedef struct vek_pick_ctx_s {
    vek_sorted_set_t *spans;
    uint32_t          size;
} vek_pick_ctx_t;

/* span callback: 0 to go on, non-zero to stop the walk */
typedef uint32_t (*vek_bitmap_span_fn_t)(uint32_t before, uint32_t after, uintptr_t args);

VEK_API vek_bitmap_t *vek_bitmap_create(uint32_t size);
VEK_API int32_t       vek_bitmap_delete(vek_bitmap_t *map);
VEK_API vek_bitmap_t *vek_bitmap_copy(vek_bitmap_t *bits);
VEK_API uint32_t      vek_bitmap_get_size(vek_bitmap_t *map);
VEK_API int32_t vek_bitmap_reserve(vek_bitmap_t *map, uint32_t size, uint32_t *base);
VEK_API int32_t vek_bitmap_reserve_test(vek_bitmap_t *map, uint32_t size, uint32_t *base);
VEK_API int32_t vek_bitmap_reserve_fixed(vek_bitmap_t *map, uint32_t size, uint32_t base);
VEK_API int32_t vek_bitmap_unreserve(vek_bitmap_t *map, uint32_t size, uint32_t base);
VEK_API int32_t vek_bitmap_find(vek_bitmap_t *map, uint32_t size, uint32_t *base);
VEK_API int32_t vek_bitmap_find_from(vek_bitmap_t *map, uint32_t begin, uint32_t size, uint32_t *base);
VEK_API int32_t vek_bitmap_set(vek_bitmap_t *map, uint32_t id);
VEK_API int32_t vek_bitmap_clr(vek_bitmap_t *map, uint32_t id);
VEK_API int32_t vek_bitmap_isset(vek_bitmap_t *map, uint32_t id);
VEK_API int32_t vek_bitmap_count(vek_bitmap_t *map, uint8_t value);

VEK_API int32_t vek_bitmap_reserve_ranged(vek_bitmap_t *map, uint32_t size, uint32_t *base,
                                          uint32_t startRange, uint32_t endRange);
VEK_API int32_t vek_bitmap_reserve_ranged_test(vek_bitmap_t *map, uint32_t size, uint32_t *base,
                                               uint32_t startRange, uint32_t endRange);
VEK_API int32_t vek_bitmap_reserve_aligned_offsets(vek_bitmap_t *map, uint32_t size, uint32_t *base,
                                                   uint32_t align, uint32_t startOff, uint32_t endOff);
VEK_API int32_t vek_bitmap_reserve_aligned_offsets_test(vek_bitmap_t *map, uint32_t size, uint32_t *base,
                                                        uint32_t align, uint32_t startOff, uint32_t endOff);
VEK_API int32_t vek_bitmap_reserve_aligned(vek_bitmap_t *map, uint32_t size, uint32_t align, uint32_t *base);

VEK_API int32_t  vek_bitmap_find_spans(vek_bitmap_t *map, vek_bitmap_span_fn_t fn, uintptr_t args);
VEK_API uint32_t vek_pick_a_nice_id_from_bitmap(vek_bitmap_t *map);
VEK_API uint32_t vek_pick_a_nice_id_from_bitmap1(vek_bitmap_t *map);

#ifdef __cplusplus
}
#endif

#endif /* VEK_BITMAP_H */
