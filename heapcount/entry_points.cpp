// The C allocator's entry points, each handing the work to the C library's
// own allocator and keeping count on the way. Loaded before the C library
// (linked into a test, or preloaded), these are the definitions every
// allocation of the process binds to: the program's, the C++ library's
// operator new, and a module loaded later with dlopen.
//
// Nothing here may allocate, so the bookkeeping is plain atomics and a
// fixed table.
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "heapcount/counts.h"
#include "heapcount/libc_allocator.h"

namespace {

std::atomic<long> inUse{0};
std::atomic<std::size_t> requests{0};
std::atomic<std::size_t> releases{0};

std::atomic<std::size_t> refuseAt{kRefuseNone};
std::atomic<bool> callocOnly{false};
std::atomic<std::size_t> numbered{0};
std::atomic<bool> refused{false};
std::atomic<std::size_t> callocBytes{0};

// Counts a request and tells whether it is the one to refuse.
bool refuse(bool isCalloc) {
  requests.fetch_add(1, std::memory_order_relaxed);
  const std::size_t at = refuseAt.load(std::memory_order_relaxed);
  if (at == kRefuseNone) return false;
  if (callocOnly.load(std::memory_order_relaxed) && !isCalloc) return false;
  if (numbered.fetch_add(1, std::memory_order_relaxed) != at) return false;
  refused.store(true);
  return true;
}

void *handedOut(void *block) {
  if (block != nullptr) inUse.fetch_add(1, std::memory_order_relaxed);
  return block;
}

// The blocks calloc gave while following: an open-addressed table of
// addresses. A freed block's entry becomes a tombstone, so later probes
// pass it.
const void *const kTombstone = &kFollowCapacity;
std::atomic<bool> following{false};
std::atomic<const void *> followed[kFollowCapacity];
std::atomic<std::size_t> followedTaken{0};
std::atomic<std::size_t> followedGiven{0};
std::atomic<bool> followOverflow{false};

std::size_t firstProbe(const void *block) {
  // Fibonacci hashing of the address without its alignment bits.
  const auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(block) >> 4);
  return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15u) >> 50) % kFollowCapacity;
}

void follow(const void *block) {
  if (block == nullptr || !following.load(std::memory_order_relaxed)) return;
  std::size_t at = firstProbe(block);
  for (std::size_t probes = 0; probes < kFollowCapacity; ++probes) {
    const void *held = followed[at].load();
    if ((held == nullptr || held == kTombstone) &&
        followed[at].compare_exchange_strong(held, block)) {
      followedTaken.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    at = (at + 1) % kFollowCapacity;
  }
  followOverflow.store(true);
}

// True when block was followed, and is no longer.
bool unfollow(const void *block) {
  if (block == nullptr || !following.load(std::memory_order_relaxed)) return false;
  std::size_t at = firstProbe(block);
  for (std::size_t probes = 0; probes < kFollowCapacity; ++probes) {
    const void *held = followed[at].load();
    if (held == nullptr) return false;
    if (held == block && followed[at].compare_exchange_strong(held, kTombstone)) {
      followedGiven.fetch_add(1, std::memory_order_relaxed);
      return true;
    }
    at = (at + 1) % kFollowCapacity;
  }
  return false;
}

void *aligned(std::size_t alignment, std::size_t size) {
  return refuse(false) ? nullptr : handedOut(__libc_memalign(alignment, size));
}

}  // namespace

// Default visibility: the build hides symbols by default, and a hidden
// definition would not take the place of the C library's.
#define ENTRY extern "C" __attribute__((visibility("default")))

ENTRY void *malloc(std::size_t size) {
  return refuse(false) ? nullptr : handedOut(__libc_malloc(size));
}

ENTRY void *calloc(std::size_t count, std::size_t size) {
  callocBytes.fetch_add(count * size, std::memory_order_relaxed);
  if (refuse(true)) return nullptr;
  void *block = handedOut(__libc_calloc(count, size));
  follow(block);
  return block;
}

ENTRY void *realloc(void *pointer, std::size_t size) {
  if (refuse(false)) return nullptr;  // the block passed in stays valid
  if (pointer == nullptr) return handedOut(__libc_realloc(nullptr, size));
  void *block = __libc_realloc(pointer, size);
  if (block == nullptr && size == 0) {
    // A size of 0 frees the block and gives null.
    inUse.fetch_sub(1, std::memory_order_relaxed);
    releases.fetch_add(1, std::memory_order_relaxed);
    unfollow(pointer);
  } else if (block != nullptr && block != pointer && unfollow(pointer)) {
    // A followed block that moves is freed and taken anew.
    follow(block);
  }
  return block;
}

ENTRY void *aligned_alloc(std::size_t alignment, std::size_t size) {
  return aligned(alignment, size);
}

ENTRY void *memalign(std::size_t alignment, std::size_t size) { return aligned(alignment, size); }

ENTRY int posix_memalign(void **out, std::size_t alignment, std::size_t size) {
  void *block = aligned(alignment, size);
  if (block == nullptr) return ENOMEM;
  *out = block;
  return 0;
}

ENTRY void *valloc(std::size_t size) {
  return refuse(false) ? nullptr : handedOut(__libc_valloc(size));
}

ENTRY void *pvalloc(std::size_t size) {
  return refuse(false) ? nullptr : handedOut(__libc_pvalloc(size));
}

ENTRY void free(void *pointer) {
  if (pointer != nullptr) {
    inUse.fetch_sub(1, std::memory_order_relaxed);
    releases.fetch_add(1, std::memory_order_relaxed);
    unfollow(pointer);
  }
  __libc_free(pointer);
}

ENTRY void kerrowbend_heapcount_read(HeapCounts *counts) {
  counts->blocksInUse = inUse.load();
  counts->requests = requests.load();
  counts->releases = releases.load();
  counts->numbered = numbered.load();
  counts->refused = refused.load() ? 1 : 0;
  counts->followedTaken = followedTaken.load();
  counts->followedGiven = followedGiven.load();
  counts->followedOverflow = followOverflow.load() ? 1 : 0;
  counts->callocBytes = callocBytes.load();
}

ENTRY void kerrowbend_heapcount_refuse(std::size_t nth, int onlyCalloc) {
  refuseAt.store(kRefuseNone);
  callocOnly.store(onlyCalloc != 0);
  numbered.store(0);
  refused.store(false);
  refuseAt.store(nth);
}

ENTRY void kerrowbend_heapcount_follow(int on) {
  following.store(false);
  if (on == 0) return;
  for (auto &entry : followed) entry.store(nullptr);
  followedTaken.store(0);
  followedGiven.store(0);
  followOverflow.store(false);
  following.store(true);
}
