// Callbacks of the nice-identifier picker that ranks a bitmap's gaps in two
// sorted sets, shared with white-box tests.
#pragma once

#include <cstdint>

#include <vek/vek_bitmap.h>

namespace vek::bitmap {

// Span callback: files the gap (before, after) in the chains of the
// vek_pick_ctx_t at `ctx`, keyed by its length. -1 when no record can be had.
uint32_t pick_span_cb(uint32_t before, uint32_t after, uintptr_t ctx);

// Delete callback of the set of chains: releases the chain starting at `value`.
int32_t pick_free_chain(uintptr_t key, uintptr_t value);

// Orderings: larger keys first, and smaller keys first.
int32_t pick_cmp_descending(uintptr_t a, uintptr_t b);
int32_t pick_cmp_ascending(uintptr_t a, uintptr_t b);

} // namespace vek::bitmap
