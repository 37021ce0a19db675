// The record of every call the module makes into the simulated host.
//
// Tests assert call sequences against the log, so each entry is a short
// fixed-format string ("lookup NodeFuncs", "input.create Weight 2", ...).
// Evaluation runs on many threads and a benchmark counts heap allocations
// while it runs, so with recording switched off a call into the host must
// neither allocate nor take a lock: the checks below read one atomic flag
// before building any text, and the counters are atomics (one slot per
// thread, see Counter) that keep counting whether or not the log records.
#ifndef KERROWBEND_HOSTSIM_CALL_LOG_H
#define KERROWBEND_HOSTSIM_CALL_LOG_H

#include <atomic>
#include <cstddef>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace hostsim {

// One GlobalFunc call: the name asked for, which of the host's lookup
// routines took it (see Host::global) and the usage mode it was given.
struct LookupCall {
  std::string name;
  int routine;
  int useMode;

  bool operator==(const LookupCall &) const = default;
};

// "NAME (routine R, mode M)", for test messages.
std::ostream &operator<<(std::ostream &out, const LookupCall &call);

// A count bumped from many render threads at once, used like a
// std::atomic<long>. Every shaded spot bumps some of them; one shared
// atomic would pass its cache line from core to core on each spot and hold
// back a node shaded from several threads, which is what the thread
// benchmark measures. Each thread adds to a slot of its own, on a cache
// line of its own; reading sums the slots.
class Counter {
 public:
  void fetch_add(long n, std::memory_order order) {
    slots_[slotOfThisThread()].value.fetch_add(n, order);
  }
  long load(std::memory_order order = std::memory_order_seq_cst) const;
  // Reads as a number, as std::atomic<long> does.
  operator long() const { return load(); }
  // Not atomic as a whole: only for when no thread is counting.
  void store(long value, std::memory_order order);

 private:
  static constexpr std::size_t kSlots = 16;
  struct alignas(64) Slot {
    std::atomic<long> value{0};
  };
  static std::size_t slotOfThisThread();

  Slot slots_[kSlots];
};

// Counts that stay exact with recording off. Relaxed increments: a test
// reads them only after the evaluating threads have been joined.
struct Counters {
  Counter itemFirst;               // ItemInfo::first
  Counter itemNext;                // ItemInfo::next
  Counter meshInfoObtained;        // non-null results of ObjectInfo::meshInfo
  Counter meshReleased;            // MeshInfo::destroy
  Counter vmapLookupV1;            // MeshInfo::vmapLookupV1
  Counter vmapLookupV2;            // MeshInfo::vmapLookupV2
  Counter lookups;                 // GlobalFunc calls, any name
  Counter lookupsWithNonZeroMode;  // GlobalFunc calls with useMode != 0
  Counter setValue;                // NodeOutputFuncs::setValue

  void reset();
};

class CallLog {
 public:
  // Recording is on by default.
  void setRecording(bool on) { recording_.store(on, std::memory_order_relaxed); }
  bool recording() const { return recording_.load(std::memory_order_relaxed); }

  // Each appends "what", "what arg" or "what number" when recording is on
  // and does nothing (no allocation, no lock) when it is off.
  void record(std::string_view what);
  void record(std::string_view what, std::string_view arg);
  void record(std::string_view what, long long number);
  void record(std::string_view what, std::string_view arg, long long number);
  // Appends "lookup NAME" and the call's LookupCall together, so the two
  // views of the log never disagree; like record, nothing when off.
  void recordLookup(std::string_view name, int routine, int useMode);

  std::vector<std::string> entries() const;
  // Every lookup recorded, in order.
  std::vector<LookupCall> lookupCalls() const;
  // Forgets the entries and the lookup calls; the counters stay.
  void clear();
  // Number of entries equal to entry.
  std::size_t count(std::string_view entry) const;
  bool contains(std::string_view entry) const { return count(entry) > 0; }
  // The entries that begin with prefix, in order ("input." gives every
  // input call).
  std::vector<std::string> withPrefix(std::string_view prefix) const;

  Counters counters;

 private:
  void append(std::string entry);

  std::atomic<bool> recording_{true};
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
  std::vector<LookupCall> lookupCalls_;
};

}  // namespace hostsim

#endif
