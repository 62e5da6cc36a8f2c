// The bitmap's structure check, its free count and its mend after a dead
// owner.
#include <bit>

#include "bitmap/bitmap_check.hpp"
#include "bitmap/bitmap_internal.hpp"

namespace vek::bitmap {

uint32_t count_free(const vek_bitmap_t &map, uint32_t limit) {
    const uint32_t end = std::min(limit, map.size);
    uint32_t used = 0;
    for (uint32_t w = 0; w < end / 32u; ++w) used += static_cast<uint32_t>(std::popcount(map.bits[w]));
    if (end % 32u != 0u) {
        used += static_cast<uint32_t>(std::popcount(map.bits[end / 32u] & ((1u << (end % 32u)) - 1u)));
    }
    return end - used;
}

const char *verify(const vek_bitmap_t *map) {
    if (map == nullptr) return "bitmap missing";
    if (map->size == 0u) return "bitmap of size 0";
    if (map->words_needed != words_for(map->size)) return "bitmap word count differs from its size";
    if (map->bits == nullptr) return "bitmap without words";
    if (map->size % 32u != 0u) {
        const uint32_t tail = ~0u << (map->size % 32u);
        if ((map->bits[map->words_needed - 1u] & tail) != tail) return "bitmap tail bits past size not set";
    }
    // The hint is only where searches start: a windowed or aligned
    // reservation may leave it at size while identifiers below are free.
    if (map->firstFree > map->size) return "bitmap hint past its size";
    return nullptr;
}

void mend(vek_bitmap_t *map) {
    if (map->size % 32u != 0u) map->bits[map->words_needed - 1u] |= ~0u << (map->size % 32u);
    // The hint becomes the lowest free identifier, as every operation that
    // finishes leaves it; a full bitmap keeps 0 or size.
    const uint64_t lowest = next_free(map, 0u);
    if (lowest < map->size) {
        map->firstFree = static_cast<uint32_t>(lowest);
    } else if (map->firstFree != 0u && map->firstFree != map->size) {
        map->firstFree = map->size;
    }
}

} // namespace vek::bitmap
