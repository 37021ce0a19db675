// The lookup routine: which table answers each name.
#include "hostsim/services.h"

#include <stdexcept>
#include <string>

#include "hostsim/host.h"

namespace hostsim {

bool findService(std::string_view name, Service *service) {
  for (std::size_t i = 0; i < kServiceCount; ++i) {
    if (name == kServiceNames[i]) {
      *service = static_cast<Service>(i);
      return true;
    }
  }
  return false;
}

namespace {

// One body per routine number: the number is all that differs, so each
// instance is a function of its own, with an address of its own.
template <int Routine>
void *lookupThrough(const char *serviceName, int useMode) {
  Host *host = Host::current();
  return host != nullptr ? host->lookup(serviceName, useMode, Routine) : nullptr;
}

}  // namespace

void *globalLookup(const char *serviceName, int useMode) {
  return lookupThrough<0>(serviceName, useMode);
}

GlobalFunc lookupRoutine(int routine) {
  static constexpr std::array<GlobalFunc, kLookupRoutines> kRoutines = {
      &globalLookup, &lookupThrough<1>, &lookupThrough<2>, &lookupThrough<3>};
  if (routine < 0 || routine >= kLookupRoutines) {
    throw std::out_of_range("hostsim: no lookup routine " + std::to_string(routine));
  }
  return kRoutines[static_cast<std::size_t>(routine)];
}

void *Host::lookup(const char *name, int useMode, int routine) {
  log_.counters.lookups.fetch_add(1, std::memory_order_relaxed);
  if (useMode != 0) log_.counters.lookupsWithNonZeroMode.fetch_add(1, std::memory_order_relaxed);
  Service service{};
  if (name == nullptr || !findService(name, &service)) {
    unknownLookups_.fetch_add(1, std::memory_order_relaxed);
    log_.recordLookup(name != nullptr ? name : "(null)", routine, useMode);
    return nullptr;
  }
  log_.recordLookup(name, routine, useMode);
  const auto index = static_cast<std::size_t>(service);
  lookupCounts_[index].fetch_add(1, std::memory_order_relaxed);
  if (!available_[index]) return nullptr;

  switch (service) {
    case Service::ItemInfo6:
    case Service::ItemInfo5:
      return scene_.itemInfoTable();
    case Service::NodeFuncs:
      return &nodeFuncs_;
    case Service::NodeInputFuncs3:
    case Service::NodeInputFuncs2:
      return &nodeInputFuncs_;
    case Service::NodeOutputFuncs2:
    case Service::NodeOutputFuncs:
      return &nodeOutputFuncs_;
    case Service::SceneObjects7:
    case Service::SceneObjects6:
      return scene_.sceneObjectsTable();
    case Service::ObjectInfo9:
    case Service::ObjectInfo8:
    case Service::ObjectInfo7:
      return scene_.objectInfoTable();
    case Service::TimeInfo:
      return scene_.timeInfoTable();
    case Service::ProductInfo:
      // No table: the answer itself is the code.
      return reinterpret_cast<void *>(productCode_);  // NOLINT(performance-no-int-to-ptr)
    case Service::Panel2:
    case Service::Panel:
      return panels_.table();
  }
  return nullptr;
}

void Host::setServiceAvailable(std::string_view name, bool available) {
  Service service{};
  if (!findService(name, &service)) {
    throw std::invalid_argument("hostsim: '" + std::string(name) + "' is not a service name");
  }
  setServiceAvailable(service, available);
}

void Host::setServiceAvailable(Service service, bool available) {
  available_[static_cast<std::size_t>(service)] = available;
}

bool Host::serviceAvailable(Service service) const {
  return available_[static_cast<std::size_t>(service)];
}

void Host::setAllServicesAvailable(bool available) { available_.fill(available); }

long Host::lookupCount(std::string_view name) const {
  Service service{};
  if (!findService(name, &service)) return 0;
  return lookupCounts_[static_cast<std::size_t>(service)].load(std::memory_order_relaxed);
}

long Host::unknownLookupCount() const { return unknownLookups_.load(std::memory_order_relaxed); }

}  // namespace hostsim
