/**
 * @file vek_bitmap.h
 * @brief Identifier bitmaps: first-fit, fixed, windowed and aligned
 *        reservation of runs of identifiers, span listing and
 *        nice-identifier picking.
 *
 * A bitmap holds identifiers 0 .. size-1; a set bit means "in use". The
 * header and the word array live in robust memory. firstFree is a search
 * hint: reservations search from it and wrap round once.
 *
 * Return convention (int32_t results): 0 success, -1 failure (null bitmap,
 * no room, bad argument), -2 for the failures noted per function (request
 * larger than the bitmap, bitmap full, fixed run in use or past the end).
 * No operation here returns a ::vek_st_t; the status each computes appears
 * only in its trace exit line ("vekStatus=").
 *
 * Thread-safety: none. A bitmap may be used by one thread at a time; even the
 * queries read the hint that reservations move. The resource registry
 * (vek_rsrc.h) wraps bitmaps with a mutex for shared use.
 *
 * Trace lines (see ::vek_trace_level): every operation prints an entry and
 * an exit line, except where noted.
 */
#ifndef VEK_BITMAP_H
#define VEK_BITMAP_H

#include <stdint.h>
#include "vek_status.h"
#include "vek_sorted_set.h"

#ifdef __cplusplus
extern "C" {
#endif

/** An identifier bitmap; create with vek_bitmap_create(), release with vek_bitmap_delete(). */
typedef struct vek_bitmap_s {
    uint32_t size;         /**< Identifiers 0 .. size-1. */
    uint32_t words_needed; /**< Words of the array: (size + 31) / 32. */
    uint32_t
        *bits; /**< Bit i%32 of word i/32 is identifier i (1 = in use); the bits past size in the last word are set. */
    uint32_t firstFree; /**< Search hint: the lowest identifier that may be free (size when full after a fixed
                           reservation). */
} vek_bitmap_t;

/**
 * A gap of free identifiers found by the span walk, as filed by the first
 * nice-identifier picker (records of one length chained together).
 */
typedef struct vek_span_rec_s {
    struct vek_span_rec_s *next; /**< Next record of the same length, or NULL. */
    struct vek_span_rec_s *tail; /**< In the first record of a chain: the last record; NULL in the others. */
    uint32_t before;             /**< Used identifier before the gap. */
    uint32_t after;              /**< Used identifier after the gap (lower than before when the gap wraps). */
} vek_span_rec_t;

/** Context of the first nice-identifier picker's span callback. */
typedef struct vek_pick_ctx_s {
    vek_sorted_set_t *spans; /**< Gaps by length, longest first (values: chains of ::vek_span_rec_t). */
    uint32_t size;           /**< Size of the bitmap walked. */
} vek_pick_ctx_t;

/**
 * Function called by vek_bitmap_find_spans() for each gap between used
 * identifiers, the bitmap read as a ring.
 * @param before The used identifier before the gap.
 * @param after  The used identifier after it (the gap is before+1 .. after-1,
 *               wrapping past size-1 to 0 when after <= before).
 * @param args   The word passed to vek_bitmap_find_spans().
 * @return 0 to go on; non-zero stops the walk (which then returns -1).
 */
typedef uint32_t (*vek_bitmap_span_fn_t)(uint32_t before, uint32_t after, uintptr_t args);

/**
 * Creates a bitmap with every identifier free.
 * @param size Number of identifiers; 0 gives NULL.
 * @return The bitmap (header and words in robust memory), firstFree 0; NULL
 *         for size 0 or when memory is exhausted (nothing left allocated).
 *         Release with vek_bitmap_delete().
 *
 * Traces an entry line; an exit line only on success.
 */
VEK_API vek_bitmap_t *vek_bitmap_create(uint32_t size);
/**
 * Releases a bitmap (word array, then header).
 * @param map The bitmap; NULL does nothing.
 * @return Always 0 (a failing release shows only in the exit line's status).
 */
VEK_API int32_t vek_bitmap_delete(vek_bitmap_t *map);
/**
 * Makes an independent copy of a bitmap (size, hint and every word).
 * @param bits The bitmap to copy; NULL gives NULL.
 * @return The copy (release with vek_bitmap_delete()), or NULL when memory is
 *         exhausted (nothing left allocated).
 */
VEK_API vek_bitmap_t *vek_bitmap_copy(vek_bitmap_t *bits);
/**
 * Number of identifiers of a bitmap.
 * @param map The bitmap; NULL gives 0.
 * @return map->size. The exit line reads "_map->size=".
 */
VEK_API uint32_t vek_bitmap_get_size(vek_bitmap_t *map);
/**
 * Reserves a run of free identifiers, first fit from the hint.
 *
 * The search starts at firstFree (or the first free identifier after it), tries
 * that position and the start of every following free run, then wraps once to
 * the lowest free identifier and goes on below the start.
 *
 * @param map  The bitmap.
 * @param size Identifiers wanted.
 * @param[out] base Receives the first identifier of the run; may be NULL
 *             (nothing stored, the exit line prints 0).
 * @return 0 reserved (the hint moves past the run when the run began at it);
 *         -1 null bitmap or no free run long enough; -2 when @p size is larger
 *         than the bitmap, or when the hint is at the end (full bitmap: then no
 *         exit line is printed). Nothing changes on failure.
 */
VEK_API int32_t vek_bitmap_reserve(vek_bitmap_t *map, uint32_t size, uint32_t *base);
/**
 * Finds where vek_bitmap_reserve() would reserve, without reserving.
 * @param map  The bitmap.
 * @param size Identifiers wanted.
 * @param[out] base Receives the first identifier; may be NULL.
 * @return 0 found; -1 null bitmap, full bitmap or no run long enough.
 *         The bitmap is not changed.
 */
VEK_API int32_t vek_bitmap_reserve_test(vek_bitmap_t *map, uint32_t size, uint32_t *base);
/**
 * Reserves a run at a given position.
 * @param map  The bitmap.
 * @param size Identifiers wanted.
 * @param base First identifier of the run.
 * @return 0 reserved; -1 null bitmap; -2 when @p base is at or past the size or
 *         any identifier of the run is in use or past the end (nothing changes).
 *         The exit line reads "status=".
 */
VEK_API int32_t vek_bitmap_reserve_fixed(vek_bitmap_t *map, uint32_t size, uint32_t base);
/**
 * Frees a run of identifiers (whether or not they were in use).
 * @param map  The bitmap; NULL does nothing.
 * @param size Identifiers to free; the run is cut at the bitmap's end.
 * @param base First identifier; at or past the size does nothing.
 * @return Always 0 (exit line "return=0"). The hint moves down to @p base.
 */
VEK_API int32_t vek_bitmap_unreserve(vek_bitmap_t *map, uint32_t size, uint32_t base);
/**
 * Finds a free run from the hint, like vek_bitmap_find_from() with begin 0.
 * @param map  The bitmap.
 * @param size Identifiers wanted.
 * @param[out] base Receives the first identifier; may be NULL.
 * @return 0 found; -1 otherwise. Nothing is reserved. Prints its own entry
 *         line, then the lines of vek_bitmap_find_from().
 */
VEK_API int32_t vek_bitmap_find(vek_bitmap_t *map, uint32_t size, uint32_t *base);
/**
 * Finds a free run, first fit, without reserving it.
 * @param map   The bitmap.
 * @param begin 0: search from the hint; otherwise from begin + 1 (computed in
 *              64 bits: 0xFFFFFFFF finds nothing).
 * @param size  Identifiers wanted.
 * @param[out] base Receives the first identifier; may be NULL.
 * @return 0 found; -1 null bitmap, start at or past the end, or no run long
 *         enough (the search wraps once, as vek_bitmap_reserve()).
 */
VEK_API int32_t vek_bitmap_find_from(vek_bitmap_t *map, uint32_t begin, uint32_t size, uint32_t *base);
/**
 * Marks one identifier in use.
 * @param map The bitmap.
 * @param id  The identifier.
 * @return 0 set; -1 null bitmap, @p id out of range or already in use.
 */
VEK_API int32_t vek_bitmap_set(vek_bitmap_t *map, uint32_t id);
/**
 * Marks one identifier free.
 * @param map The bitmap; NULL does nothing.
 * @param id  The identifier; out of range does nothing.
 * @return Always 0 (the exit line's status is 4 when nothing was done).
 */
VEK_API int32_t vek_bitmap_clr(vek_bitmap_t *map, uint32_t id);
/**
 * Tells whether an identifier is in use.
 * @param map The bitmap.
 * @param id  The identifier.
 * @return 1 in use; 0 free, null bitmap, or @p id out of range.
 */
VEK_API int32_t vek_bitmap_isset(vek_bitmap_t *map, uint32_t id);
/**
 * Counts identifiers in use or free.
 * @param map   The bitmap.
 * @param value 1 counts identifiers in use, 0 counts free ones (any other
 *              value counts nothing).
 * @return The count, or -1 for a null bitmap. Each identifier is tested
 *         through vek_bitmap_isset(), whose trace lines appear nested.
 */
VEK_API int32_t vek_bitmap_count(vek_bitmap_t *map, uint8_t value);

/**
 * Reserves a run inside a window of identifiers.
 *
 * Candidates are @p startRange and the starts of the following free runs; the
 * first candidate whose free run is long enough decides, and it must end at or
 * before @p endRange (computed in 64 bits). The scan never wraps below
 * @p startRange.
 *
 * @param map        The bitmap.
 * @param size       Identifiers wanted.
 * @param[out] base  Receives the first identifier; may be NULL.
 * @param startRange First identifier of the window.
 * @param endRange   End of the window (exclusive).
 * @return 0 reserved; -1 null bitmap, window past the size, or no fit.
 */
VEK_API int32_t vek_bitmap_reserve_ranged(vek_bitmap_t *map, uint32_t size, uint32_t *base, uint32_t startRange,
                                          uint32_t endRange);
/**
 * Test form of vek_bitmap_reserve_ranged(): finds without reserving. It is
 * one tighter: the run must end strictly before @p endRange.
 * @param map        The bitmap.
 * @param size       Identifiers wanted.
 * @param[out] base  Receives the first identifier; may be NULL.
 * @param startRange First identifier of the window.
 * @param endRange   End of the window.
 * @return 0 found; -1 otherwise.
 */
VEK_API int32_t vek_bitmap_reserve_ranged_test(vek_bitmap_t *map, uint32_t size, uint32_t *base, uint32_t startRange,
                                               uint32_t endRange);
/**
 * Reserves a run inside a window repeated at every multiple of an alignment:
 * windows [k*align + startOff, k*align + endOff) for k = 0, 1, ... up to the
 * number of alignment blocks in the bitmap, each tried with
 * vek_bitmap_reserve_ranged() (whose lines appear nested) until one succeeds.
 * Windows that would pass 2^32-1 are not tried.
 * @param map       The bitmap.
 * @param size      Identifiers wanted.
 * @param[out] base Receives the first identifier; may be NULL.
 * @param align     Alignment; 0 gives -1.
 * @param startOff  Window start within each block.
 * @param endOff    Window end within each block.
 * @return 0 reserved; -1 otherwise.
 */
VEK_API int32_t vek_bitmap_reserve_aligned_offsets(vek_bitmap_t *map, uint32_t size, uint32_t *base, uint32_t align,
                                                   uint32_t startOff, uint32_t endOff);
/**
 * Test form of vek_bitmap_reserve_aligned_offsets(), through
 * vek_bitmap_reserve_ranged_test(): finds without reserving.
 * @param map       The bitmap.
 * @param size      Identifiers wanted.
 * @param[out] base Receives the first identifier; may be NULL.
 * @param align     Alignment; 0 gives -1.
 * @param startOff  Window start within each block.
 * @param endOff    Window end within each block.
 * @return 0 found; -1 otherwise.
 */
VEK_API int32_t vek_bitmap_reserve_aligned_offsets_test(vek_bitmap_t *map, uint32_t size, uint32_t *base,
                                                        uint32_t align, uint32_t startOff, uint32_t endOff);
/**
 * Reserves a run starting at a multiple of an alignment: the lowest multiple
 * at or above the hint whose identifier is free and begins a long enough free
 * run (positions below the hint are not tried).
 * @param map       The bitmap.
 * @param size      Identifiers wanted.
 * @param align     Alignment; 0 gives -1.
 * @param[out] base Receives the first identifier; may be NULL.
 * @return 0 reserved; -1 otherwise.
 */
VEK_API int32_t vek_bitmap_reserve_aligned(vek_bitmap_t *map, uint32_t size, uint32_t align, uint32_t *base);

/**
 * Walks the gaps between used identifiers, the bitmap read as a ring, and
 * calls @p fn with (used before, used after) for each, in ascending order.
 * Used positions past the size (the tail bits) count as used, so a gap that
 * reaches the end is reported as (p, size) and then (size-1, lowest used).
 * @param map  The bitmap.
 * @param fn   The span function.
 * @param args Passed to every call.
 * @return 0 when the walk ended; -1 for a null bitmap, word array or function,
 *         when nothing is in use, or when @p fn stopped the walk.
 */
VEK_API int32_t vek_bitmap_find_spans(vek_bitmap_t *map, vek_bitmap_span_fn_t fn, uintptr_t args);
/**
 * Picks a free identifier far from the used ones: the middle of the widest
 * gap, ties broken by how close the neighbouring gaps of that width lie.
 * Nothing is reserved. Builds two sorted sets and span records in robust
 * memory and releases them all before returning.
 * @param map The bitmap; NULL gives 0.
 * @return The identifier; size/2 when nothing is in use; size when memory runs
 *         out or there is no gap. Prints the lines of the operations it calls
 *         (vek_bitmap_get_size(), sorted sets, the span walk).
 */
VEK_API uint32_t vek_pick_a_nice_id_from_bitmap(vek_bitmap_t *map);
/**
 * Picks a free identifier far from the used ones in a single pass over the
 * words: the middle of the widest gap (the first one on ties). Nothing is
 * reserved and nothing allocated.
 * @param map The bitmap; NULL or without words gives 0.
 * @return The identifier, or size when no gap holds a free identifier. The
 *         exit line reads "choice=".
 */
VEK_API uint32_t vek_pick_a_nice_id_from_bitmap1(vek_bitmap_t *map);

#ifdef __cplusplus
}
#endif

#endif /* VEK_BITMAP_H */
