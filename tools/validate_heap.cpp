// The allocator entry points of kerrowbend-host, where the build allows it:
// a module loaded with dlopen binds its calls to these, since the
// executable's definitions come first in the global lookup scope. Only the
// balance of blocks is kept, so a check can compare it across runs.
#include "tools/validate_heap.h"

#if defined(KERROWBEND_HEAP_COUNTING)

#include <atomic>
#include <cstddef>

#include "hostsim/libc_allocator.h"

namespace {
std::atomic<long> inUse{0};

void *counted(void *block) {
  if (block != nullptr) inUse.fetch_add(1, std::memory_order_relaxed);
  return block;
}
}  // namespace

// Default visibility whatever the compiler is told: a hidden definition
// would not take the place of the C library's.
#define INTERPOSE __attribute__((visibility("default")))

extern "C" {
INTERPOSE void *malloc(std::size_t size) { return counted(__libc_malloc(size)); }
INTERPOSE void *calloc(std::size_t n, std::size_t size) { return counted(__libc_calloc(n, size)); }
INTERPOSE void *realloc(void *pointer, std::size_t size) {
  if (pointer == nullptr) return counted(__libc_realloc(nullptr, size));
  void *moved = __libc_realloc(pointer, size);
  // A size of 0 releases the block and gives null.
  if (moved == nullptr && size == 0) inUse.fetch_sub(1, std::memory_order_relaxed);
  return moved;
}
INTERPOSE void *aligned_alloc(std::size_t alignment, std::size_t size) {
  return counted(__libc_memalign(alignment, size));
}
INTERPOSE void *memalign(std::size_t alignment, std::size_t size) {
  return counted(__libc_memalign(alignment, size));
}
INTERPOSE int posix_memalign(void **out, std::size_t alignment, std::size_t size) {
  void *block = counted(__libc_memalign(alignment, size));
  if (block == nullptr) return 12;  // ENOMEM
  *out = block;
  return 0;
}
INTERPOSE void free(void *pointer) {
  if (pointer != nullptr) inUse.fetch_sub(1, std::memory_order_relaxed);
  __libc_free(pointer);
}
}

namespace kerrowbend_host {
std::optional<long> heapBlocksInUse() { return inUse.load(); }
}  // namespace kerrowbend_host

#else

namespace kerrowbend_host {
std::optional<long> heapBlocksInUse() { return std::nullopt; }
}  // namespace kerrowbend_host

#endif
