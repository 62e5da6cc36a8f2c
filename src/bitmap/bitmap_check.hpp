// The bitmap's structure check (see foundation/check.hpp), its free count,
// and the mend run when the owner of the mutex guarding a bitmap died
// inside an operation on it.
#pragma once

#include <cstdint>

#include <vek/vek_bitmap.h>

#include "foundation/check.hpp"

namespace vek::bitmap {

// Free identifiers among 0 .. min(limit, size) - 1, a word at a time.
uint32_t count_free(const vek_bitmap_t &map, uint32_t limit);

// nullptr when the bitmap is whole: its word count fits its size, the tail
// bits past size are set, the hint lies in 0 .. size.
const char *verify(const vek_bitmap_t *map);

// Brings a bitmap that an operation left half-way back to a whole one: the
// bits stay as they are (a run half set stays in use, a run half cleared is
// free where it was cleared), the tail bits are set again and the hint is
// made the lowest free identifier. Needs a bitmap whose header, size and
// word array are sound (they never change after creation).
void mend(vek_bitmap_t *map);

} // namespace vek::bitmap

namespace vek::bitmap {

// verify() for an operation's argument, which may be null (the operation
// then did nothing).
inline const char *verify_given(const vek_bitmap_t *map) { return map == nullptr ? nullptr : verify(map); }

} // namespace vek::bitmap
