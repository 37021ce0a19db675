// Replaces the C allocator entry points of the test executable. A module
// loaded later with dlopen binds its malloc calls to these, since the
// executable's definitions come first in the global lookup scope.
#include "tests/heap_counter.h"

#include <atomic>
#include <cstdlib>

// The C library's own allocator, under the names it exports for this.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *pointer, std::size_t size);
void *__libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void *pointer);
}
// NOLINTEND(bugprone-reserved-identifier)

namespace {
std::atomic<bool> counting{false};
std::atomic<std::size_t> count{0};

void note() {
  if (counting.load(std::memory_order_relaxed)) count.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

// Default visibility: the build hides symbols by default, and a hidden
// definition would not take the place of the C library's.
#define INTERPOSE __attribute__((visibility("default")))

extern "C" {
INTERPOSE void *malloc(std::size_t size) {
  note();
  return __libc_malloc(size);
}
INTERPOSE void *calloc(std::size_t n, std::size_t size) {
  note();
  return __libc_calloc(n, size);
}
INTERPOSE void *realloc(void *pointer, std::size_t size) {
  note();
  return __libc_realloc(pointer, size);
}
INTERPOSE void *aligned_alloc(std::size_t alignment, std::size_t size) {
  note();
  return __libc_memalign(alignment, size);
}
INTERPOSE int posix_memalign(void **out, std::size_t alignment, std::size_t size) {
  note();
  void *p = __libc_memalign(alignment, size);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
INTERPOSE void free(void *pointer) { __libc_free(pointer); }
}

namespace heapcount {

Scope::Scope() {
  count.store(0);
  counting.store(true);
}

Scope::~Scope() { counting.store(false); }

std::size_t Scope::allocations() const { return count.load(); }

}  // namespace heapcount
