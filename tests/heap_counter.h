// Counts heap allocations made anywhere in the process (the module
// included) while a Scope is open, refuses a chosen one while a FailScope
// is open, and checks that calloc's blocks are all given back while a
// BalanceScope is open. Built only without sanitizers, which bring their own
// allocator.
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

// While open, the allocation numbered failAt (0 is the first one after the
// scope opened) is refused: it gives null, or ENOMEM from posix_memalign;
// all others succeed. The numbering is process-wide, so only the code under
// test should run while the scope is open. One FailScope at a time.
//
// The module takes all its memory with calloc, while the simulated host
// allocates through operator new, which throws when refused; kCallocOnly
// numbers and refuses calloc alone, so a test can starve the module while
// the host it calls keeps working.
class FailScope {
 public:
  enum Which { kAny, kCallocOnly };
  explicit FailScope(std::size_t failAt, Which which = kAny);
  ~FailScope();
  FailScope(const FailScope &) = delete;
  FailScope &operator=(const FailScope &) = delete;
  // Whether the allocation numbered failAt was asked for, and so refused.
  bool failed() const;
  // Allocations asked for since the scope opened, the refused one included.
  std::size_t allocations() const;
  // Calls to free with a non-null pointer since the scope opened. Code that
  // gives back all it took, after one refusal, has allocations() - 1 here.
  std::size_t releases() const;
};

// While open, follows every block taken with calloc, the only allocator the
// module uses (the simulated host allocates through operator new, which
// is not followed), and tells how many of them are given back with free.
// Blocks taken before the scope opened are not counted when freed, so a
// balance is only meaningful over a whole life, create to destroy. Up to
// kCapacity blocks may be outstanding at once. One BalanceScope at a time.
class BalanceScope {
 public:
  static constexpr std::size_t kCapacity = 1 << 14;
  BalanceScope();
  ~BalanceScope();
  BalanceScope(const BalanceScope &) = delete;
  BalanceScope &operator=(const BalanceScope &) = delete;
  std::size_t taken() const;
  std::size_t released() const;
  // Whether more than kCapacity blocks were outstanding at once, so some
  // went unfollowed and the counts cannot be trusted.
  bool overflowed() const;
};

}  // namespace heapcount

#endif
