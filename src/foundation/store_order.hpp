// Store order in robust memory.
//
// Robust memory is shared with other processes, and any of them may be
// killed between two instructions. A critical section that links, unlinks
// or publishes an object writes its stores in an order in which every
// prefix is a state the next locker can repair (an object is published by
// its final pointer store, unlinked before it is torn down). The compiler
// may reorder plain stores to different objects; store_barrier() between
// two steps keeps them in program order. A killed process's stores that
// were made stay made (the kernel keeps the pages), so no CPU fence is
// needed: the next locker's mutex acquisition orders its reads.
#pragma once

#include <atomic>

namespace vek {

inline void store_barrier() { std::atomic_signal_fence(std::memory_order_seq_cst); }

} // namespace vek
