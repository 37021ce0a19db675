#include "hostsim/call_log.h"

#include <algorithm>
#include <ostream>
#include <utility>

namespace hostsim {

std::ostream &operator<<(std::ostream &out, const LookupCall &call) {
  return out << call.name << " (routine " << call.routine << ", mode " << call.useMode << ")";
}

long Counter::load(std::memory_order order) const {
  long sum = 0;
  for (const Slot &slot : slots_) sum += slot.value.load(order);
  return sum;
}

void Counter::store(long value, std::memory_order order) {
  for (Slot &slot : slots_) slot.value.store(0, order);
  slots_[0].value.store(value, order);
}

// Threads take the slots in turn as they first count. Past the sixteenth
// thread, slots are shared, which costs speed only: the add is atomic.
std::size_t Counter::slotOfThisThread() {
  static std::atomic<std::size_t> threadsSeen{0};
  thread_local const std::size_t slot =
      threadsSeen.fetch_add(1, std::memory_order_relaxed) % kSlots;
  return slot;
}

void Counters::reset() {
  for (auto *counter : {&itemFirst, &itemNext, &meshInfoObtained, &meshReleased, &vmapLookupV1,
                        &vmapLookupV2, &lookups, &lookupsWithNonZeroMode, &setValue}) {
    counter->store(0, std::memory_order_relaxed);
  }
}

void CallLog::record(std::string_view what) {
  if (!recording()) return;
  append(std::string(what));
}

void CallLog::record(std::string_view what, std::string_view arg) {
  if (!recording()) return;
  std::string entry(what);
  entry += ' ';
  entry += arg;
  append(std::move(entry));
}

void CallLog::record(std::string_view what, long long number) {
  if (!recording()) return;
  append(std::string(what) + ' ' + std::to_string(number));
}

void CallLog::record(std::string_view what, std::string_view arg, long long number) {
  if (!recording()) return;
  std::string entry(what);
  entry += ' ';
  entry += arg;
  entry += ' ';
  entry += std::to_string(number);
  append(std::move(entry));
}

void CallLog::recordLookup(std::string_view name, int routine, int useMode) {
  if (!recording()) return;
  std::string entry = "lookup ";
  entry += name;
  LookupCall call{std::string(name), routine, useMode};
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(entry));
  lookupCalls_.push_back(std::move(call));
}

void CallLog::append(std::string entry) {
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(entry));
}

std::vector<std::string> CallLog::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

std::vector<LookupCall> CallLog::lookupCalls() const {
  std::lock_guard lock(mutex_);
  return lookupCalls_;
}

void CallLog::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  lookupCalls_.clear();
}

std::size_t CallLog::count(std::string_view entry) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count(entries_.begin(), entries_.end(), entry));
}

std::vector<std::string> CallLog::withPrefix(std::string_view prefix) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> found;
  for (const auto &entry : entries_) {
    if (entry.starts_with(prefix)) found.push_back(entry);
  }
  return found;
}

}  // namespace hostsim
