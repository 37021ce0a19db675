// The lookup routines, which hand every lookup to the current Host (see
// Host::lookup for which table answers each name), and the names they know.
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

}  // namespace hostsim
