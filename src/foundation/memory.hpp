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

// Robust block of count elements of T written straight into *holder (the
// field that keeps it), so that the platform sees the block's final home.
// VEK_ST_NO_MEMORY when the size does not fit or a non-empty request comes
// back without a block, else the platform's status. A zero-byte request may
// be answered with a null block and status 0: that is an empty array. A
// failing platform call leaves *holder as it was, so callers start it null.
template <typename T>
vek_st_t robust_alloc_array(std::size_t count, T **holder, std::uint32_t flag) {
    std::size_t bytes = 0;
    if (!array_bytes(count, sizeof(T), &bytes)) return VEK_ST_NO_MEMORY;
    const vek_st_t st = vek_nvm_robust_malloc(bytes, reinterpret_cast<void **>(holder), flag);
    if (st != VEK_ST_SUCCESS) return st;
    if (*holder == nullptr && bytes != 0u) return VEK_ST_NO_MEMORY;
    return VEK_ST_SUCCESS;
}

// One robust record of type T, written straight into *holder.
template <typename T>
vek_st_t robust_alloc(T **holder, std::uint32_t flag) {
    return robust_alloc_array<T>(1, holder, flag);
}

// Releases the robust block held in *holder, passing the holder's own
// address; the platform leaves it null.
template <typename T>
vek_st_t robust_free(T **holder) {
    const vek_st_t st = vek_nvm_robust_free(reinterpret_cast<void **>(holder));
    *holder = nullptr;
    return st;
}

} // namespace vek
