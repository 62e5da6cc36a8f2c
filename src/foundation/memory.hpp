// Sizing and allocation helpers over the platform layer.
//
// Byte sizes are computed in size_t from element counts; a product that
// does not fit is treated as an allocation failure, never as a short block.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vek/vek_sal.h>
#include <vek/vek_status.h>

namespace vek {

// count * elem in bytes; false when it does not fit size_t.
inline bool array_bytes(std::size_t count, std::size_t elem, std::size_t *bytes) {
    return !__builtin_mul_overflow(count, elem, bytes);
}

// Heap array of count elements of T, or nullptr.
template <typename T>
T *heap_alloc_array(std::size_t count) {
    std::size_t bytes = 0;
    if (!array_bytes(count, sizeof(T), &bytes)) return nullptr;
    return static_cast<T *>(vek_malloc(bytes));
}

// Heap array resized to count elements of T, or nullptr with the old block intact.
template <typename T>
T *heap_realloc_array(T *old, std::size_t count) {
    std::size_t bytes = 0;
    if (!array_bytes(count, sizeof(T), &bytes)) return nullptr;
    return static_cast<T *>(vek_realloc(old, bytes));
}

// Heap copy of a NUL-terminated text, or nullptr.
inline char *heap_copy_text(const char *text) {
    const std::size_t len = vek_strlen(text);
    if (len == SIZE_MAX) return nullptr;
    char *copy = static_cast<char *>(vek_malloc(len + 1));
    if (copy != nullptr) vek_strcpy(copy, text);
    return copy;
}

// Owns a heap temporary until the end of a scope, then hands it to Release
// (vek_free for the platform heap, vek_map_free for blocks of the map's
// allocator). take() gives up ownership, for a block that has found its
// final home.
template <typename T, void (*Release)(void *) = vek_free>
class HeapPtr {
public:
    HeapPtr() = default;
    explicit HeapPtr(T *p) : p_(p) {}
    HeapPtr(const HeapPtr &) = delete;
    HeapPtr &operator=(const HeapPtr &) = delete;
    ~HeapPtr() { reset(); }

    T *get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T *take() {
        T *p = p_;
        p_ = nullptr;
        return p;
    }
    void reset(T *p = nullptr) {
        if (p_ != nullptr) Release(p_);
        p_ = p;
    }

private:
    T *p_ = nullptr;
};

// Robust block of count elements of T written to *out; VEK_ST_NO_MEMORY
// when the size does not fit, else the platform's status.
template <typename T>
vek_st_t robust_alloc_array(std::size_t count, T **out, std::uint32_t flag) {
    std::size_t bytes = 0;
    if (!array_bytes(count, sizeof(T), &bytes)) return VEK_ST_NO_MEMORY;
    void *p = nullptr;
    const vek_st_t st = vek_nvm_robust_malloc(bytes, &p, flag);
    if (st != VEK_ST_SUCCESS) return st;
    if (p == nullptr) return VEK_ST_NO_MEMORY;
    *out = static_cast<T *>(p);
    return VEK_ST_SUCCESS;
}

// One robust record of type T.
template <typename T>
vek_st_t robust_alloc(T **out, std::uint32_t flag) {
    return robust_alloc_array<T>(1, out, flag);
}

// Releases a robust block held in *holder and nulls the holder.
template <typename T>
vek_st_t robust_free(T **holder) {
    void *p = *holder;
    const vek_st_t st = vek_nvm_robust_free(&p);
    *holder = nullptr;
    return st;
}

} // namespace vek
