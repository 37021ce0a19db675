// Replaces the C allocator entry points of the test executable, to count
// allocations or refuse one on demand. A module loaded later with dlopen
// binds its malloc calls to these, since the executable's definitions come
// first in the global lookup scope.
#include "tests/heap_counter.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "hostsim/libc_allocator.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<std::size_t> count{0};

std::atomic<bool> failing{false};
std::atomic<std::size_t> failAt{0};
std::atomic<std::size_t> attempts{0};
std::atomic<std::size_t> frees{0};
std::atomic<bool> refused{false};
std::atomic<bool> callocOnly{false};

void note() {
  if (counting.load(std::memory_order_relaxed)) count.fetch_add(1, std::memory_order_relaxed);
}

// Numbers the allocation and tells whether it is the one to refuse.
bool refuse(bool isCalloc = false) {
  if (!failing.load(std::memory_order_relaxed)) return false;
  if (callocOnly.load(std::memory_order_relaxed) && !isCalloc) return false;
  if (attempts.fetch_add(1, std::memory_order_relaxed) != failAt.load()) return false;
  refused.store(true);
  return true;
}

void noteFree(const void *pointer) {
  if (pointer != nullptr && failing.load(std::memory_order_relaxed)) {
    frees.fetch_add(1, std::memory_order_relaxed);
  }
}

// The blocks calloc gave while a BalanceScope is open: an open-addressed
// table of addresses, since the allocator may not allocate to keep track.
// A released block's entry becomes a tombstone, so later probes pass it.
constexpr std::size_t kTracked = heapcount::BalanceScope::kCapacity;
const void *const kTombstone = &kTracked;
std::atomic<bool> balancing{false};
std::atomic<const void *> tracked[kTracked];
std::atomic<std::size_t> blocksTaken{0};
std::atomic<std::size_t> blocksReleased{0};
std::atomic<bool> tableOverflowed{false};

std::size_t firstProbe(const void *block) {
  // Fibonacci hashing of the address without its alignment bits.
  const auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(block) >> 4);
  return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15u) >> 50) % kTracked;
}

void follow(const void *block) {
  if (block == nullptr || !balancing.load(std::memory_order_relaxed)) return;
  std::size_t at = firstProbe(block);
  for (std::size_t probes = 0; probes < kTracked; ++probes, at = (at + 1) % kTracked) {
    const void *held = tracked[at].load();
    if ((held == nullptr || held == kTombstone) &&
        tracked[at].compare_exchange_strong(held, block)) {
      blocksTaken.fetch_add(1, std::memory_order_relaxed);
      return;
    }
  }
  tableOverflowed.store(true);
}

// True when block was followed, and is no longer.
bool unfollow(const void *block) {
  if (block == nullptr || !balancing.load(std::memory_order_relaxed)) return false;
  std::size_t at = firstProbe(block);
  for (std::size_t probes = 0; probes < kTracked; ++probes, at = (at + 1) % kTracked) {
    const void *held = tracked[at].load();
    if (held == nullptr) return false;
    if (held == block && tracked[at].compare_exchange_strong(held, kTombstone)) {
      blocksReleased.fetch_add(1, std::memory_order_relaxed);
      return true;
    }
  }
  return false;
}
}  // namespace

// Default visibility whatever the compiler is told: a hidden definition
// would not take the place of the C library's.
#define INTERPOSE __attribute__((visibility("default")))

extern "C" {
INTERPOSE void *malloc(std::size_t size) {
  note();
  if (refuse()) return nullptr;
  return __libc_malloc(size);
}
INTERPOSE void *calloc(std::size_t n, std::size_t size) {
  note();
  if (refuse(true)) return nullptr;
  void *block = __libc_calloc(n, size);
  follow(block);
  return block;
}
INTERPOSE void *realloc(void *pointer, std::size_t size) {
  note();
  if (refuse()) return nullptr;  // the block passed in stays valid
  void *block = __libc_realloc(pointer, size);
  // A followed block that moves is released and taken anew.
  if (block != nullptr && block != pointer && unfollow(pointer)) follow(block);
  return block;
}
INTERPOSE void *aligned_alloc(std::size_t alignment, std::size_t size) {
  note();
  if (refuse()) return nullptr;
  return __libc_memalign(alignment, size);
}
INTERPOSE int posix_memalign(void **out, std::size_t alignment, std::size_t size) {
  note();
  void *p = refuse() ? nullptr : __libc_memalign(alignment, size);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
INTERPOSE void free(void *pointer) {
  noteFree(pointer);
  unfollow(pointer);
  __libc_free(pointer);
}
}

namespace heapcount {

Scope::Scope() {
  count.store(0);
  counting.store(true);
}

Scope::~Scope() { counting.store(false); }

std::size_t Scope::allocations() const { return count.load(); }

FailScope::FailScope(std::size_t failAtAllocation, Which which) {
  failAt.store(failAtAllocation);
  callocOnly.store(which == kCallocOnly);
  attempts.store(0);
  frees.store(0);
  refused.store(false);
  failing.store(true);
}

FailScope::~FailScope() { failing.store(false); }

bool FailScope::failed() const { return refused.load(); }

std::size_t FailScope::allocations() const { return attempts.load(); }

std::size_t FailScope::releases() const { return frees.load(); }

BalanceScope::BalanceScope() {
  for (auto &entry : tracked) entry.store(nullptr);
  blocksTaken.store(0);
  blocksReleased.store(0);
  tableOverflowed.store(false);
  balancing.store(true);
}

BalanceScope::~BalanceScope() { balancing.store(false); }

std::size_t BalanceScope::taken() const { return blocksTaken.load(); }

std::size_t BalanceScope::released() const { return blocksReleased.load(); }

bool BalanceScope::overflowed() const { return tableOverflowed.load(); }

}  // namespace heapcount
