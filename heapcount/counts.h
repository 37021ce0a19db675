// The heap counter's C API. The counter is a shared library that takes the
// place of the C allocator's entry points in the process it is loaded into
// (linked into a test, or preloaded into one child of kerrowbend-host), so
// that the module's allocations, and everything else's, pass through it.
// A program that must not depend on it looks these names up with
// dlsym(RTLD_DEFAULT, ...) and finds them only where it is loaded.
#ifndef KERROWBEND_HEAPCOUNT_COUNTS_H
#define KERROWBEND_HEAPCOUNT_COUNTS_H

#include <cstddef>
#include <cstdint>

extern "C" {

// What the counter has seen since the process started.
struct HeapCounts {
  long blocksInUse;           // blocks handed out and not yet freed
  std::size_t requests;       // allocation requests, refused ones included
  std::size_t releases;       // calls to free with a non-null pointer
  std::size_t numbered;       // requests numbered since the last refusal was set
  int refused;                // whether the request to refuse was asked for
  std::size_t followedTaken;  // calloc blocks taken while following
  std::size_t followedGiven;  // of those, the ones freed while following
  int followedOverflow;       // more calloc blocks outstanding than can be followed
  std::size_t callocBytes;    // bytes asked of calloc, refused requests included
};

// Fills counts; at any time, from any thread.
void kerrowbend_heapcount_read(HeapCounts *counts);

// From now, numbers the requests (every kind, or calloc alone when
// onlyCalloc is non-zero) from 0 and refuses the one numbered nth: null,
// or ENOMEM from posix_memalign. kRefuseNone numbers and refuses none.
void kerrowbend_heapcount_refuse(std::size_t nth, int onlyCalloc);

// Starts (non-zero) or stops following the blocks calloc gives, to tell
// how many of those taken from now on are freed. Starting forgets what
// was followed before.
void kerrowbend_heapcount_follow(int on);
}

inline constexpr std::size_t kRefuseNone = SIZE_MAX;
// How many calloc blocks may be outstanding at once while following.
inline constexpr std::size_t kFollowCapacity = std::size_t{1} << 14;

#endif
