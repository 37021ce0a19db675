// The heap counter as the tests use it: counts heap allocations made
// anywhere in the process (the module included) while a Scope is open,
// refuses a chosen one while a FailScope is open, and checks that calloc's
// blocks are all given back while a BalanceScope is open. Only for tests
// linked to the counter library, which builds without sanitizers alone:
// they bring their own allocator.
#ifndef KERROWBEND_TESTS_HEAP_COUNTER_H
#define KERROWBEND_TESTS_HEAP_COUNTER_H

#include <cstddef>

#include "heapcount/counts.h"

namespace heapcount {

inline HeapCounts counts() {
  HeapCounts now{};
  kerrowbend_heapcount_read(&now);
  return now;
}

// Allocations (malloc, calloc, realloc, aligned forms, operator new) since
// the scope opened.
class Scope {
 public:
  Scope() = default;
  Scope(const Scope &) = delete;
  Scope &operator=(const Scope &) = delete;
  std::size_t allocations() const { return counts().requests - start_; }

 private:
  std::size_t start_ = counts().requests;
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
  explicit FailScope(std::size_t failAt, Which which = kAny) : releasesBefore_(counts().releases) {
    kerrowbend_heapcount_refuse(failAt, which == kCallocOnly ? 1 : 0);
  }
  ~FailScope() { kerrowbend_heapcount_refuse(kRefuseNone, 0); }
  FailScope(const FailScope &) = delete;
  FailScope &operator=(const FailScope &) = delete;
  // Whether the allocation numbered failAt was asked for, and so refused.
  bool failed() const { return counts().refused != 0; }
  // Allocations asked for since the scope opened, the refused one included.
  std::size_t allocations() const { return counts().numbered; }
  // Calls to free with a non-null pointer since the scope opened. Code that
  // gives back all it took, after one refusal, has allocations() - 1 here.
  std::size_t releases() const { return counts().releases - releasesBefore_; }

 private:
  std::size_t releasesBefore_;
};

// While open, follows every block taken with calloc, the only allocator the
// module uses (the simulated host allocates through operator new, which
// is not followed), and tells how many of them are given back with free.
// Blocks taken before the scope opened are not counted when freed, so a
// balance is only meaningful over a whole life, create to destroy. Up to
// kFollowCapacity blocks may be outstanding at once. One BalanceScope at a
// time.
class BalanceScope {
 public:
  BalanceScope() { kerrowbend_heapcount_follow(1); }
  ~BalanceScope() { kerrowbend_heapcount_follow(0); }
  BalanceScope(const BalanceScope &) = delete;
  BalanceScope &operator=(const BalanceScope &) = delete;
  std::size_t taken() const { return counts().followedTaken; }
  std::size_t released() const { return counts().followedGiven; }
  // Whether more than kFollowCapacity blocks were outstanding at once, so
  // some went unfollowed and the counts cannot be trusted.
  bool overflowed() const { return counts().followedOverflow != 0; }
};

}  // namespace heapcount

#endif
