// The size classes of the robust-memory allocator: the slot sizes its
// slabs serve, shared with the private robust heap's thread caches.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vek_sal::heap {

inline constexpr std::array<std::uint32_t, 24> kClassSize = {16,  32,  48,  64,   80,   96,   112,  128,
                                                             160, 192, 224, 256,  320,  384,  448,  512,
                                                             640, 768, 896, 1024, 1280, 1536, 1792, 2048};
inline constexpr std::size_t kClasses = kClassSize.size();
inline constexpr std::size_t kSmallMax = kClassSize.back();

// The class of a small request, by (size + 15) / 16.
inline constexpr auto kClassOf = [] {
    std::array<std::uint8_t, kSmallMax / 16 + 1> t{};
    std::size_t c = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        while (kClassSize[c] < i * 16) ++c;
        t[i] = static_cast<std::uint8_t>(c);
    }
    return t;
}();

// The class of a request of 1 .. kSmallMax bytes.
constexpr std::size_t class_of(std::size_t size) { return kClassOf[(size + 15) / 16]; }

} // namespace vek_sal::heap
