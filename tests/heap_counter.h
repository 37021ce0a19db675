// Counts heap allocations made anywhere in the process (the module
// included) while a HeapCountScope is open. Built only without sanitizers,
// which bring their own allocator.
#ifndef KERROWBEND_TESTS_HEAP_COUNTER_H
#define KERROWBEND_TESTS_HEAP_COUNTER_H

#include <cstddef>

namespace heapcount {

// Allocations (malloc, calloc, realloc, aligned forms, operator new) since
// the scope opened.
class Scope {
 public:
  Scope();
  ~Scope();
  Scope(const Scope &) = delete;
  Scope &operator=(const Scope &) = delete;
  std::size_t allocations() const;
};

}  // namespace heapcount

#endif
