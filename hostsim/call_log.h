// The record of every call the module makes into the simulated host.
//
// Tests assert call sequences against the log, so each entry is a short
// fixed-format string ("lookup NodeFuncs", "input.create Weight 2", ...).
// Evaluation runs on many threads and a benchmark counts heap allocations
// while it runs, so with recording switched off a call into the host must
// neither allocate nor take a lock: the checks below read one atomic flag
// before building any text, and the counters are plain atomics that keep
// counting whether or not the log records.
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

// Counts that stay exact with recording off. Relaxed increments: a test
// reads them only after the evaluating threads have been joined.
struct Counters {
  std::atomic<long> itemFirst{0};               // ItemInfo::first
  std::atomic<long> itemNext{0};                // ItemInfo::next
  std::atomic<long> meshInfoObtained{0};        // non-null results of ObjectInfo::meshInfo
  std::atomic<long> meshReleased{0};            // MeshInfo::destroy
  std::atomic<long> vmapLookupV1{0};            // MeshInfo::vmapLookupV1
  std::atomic<long> vmapLookupV2{0};            // MeshInfo::vmapLookupV2
  std::atomic<long> lookups{0};                 // GlobalFunc calls, any name
  std::atomic<long> lookupsWithNonZeroMode{0};  // GlobalFunc calls with useMode != 0
  std::atomic<long> setValue{0};                // NodeOutputFuncs::setValue

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
