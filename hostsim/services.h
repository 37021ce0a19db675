// The names under which the simulated host answers lookups, and the lookup
// routine itself.
//
// Every name can be switched off on its own, so a test can build a host that
// offers, say, ITEM_INFO_SERVICE_5 but not ITEM_INFO_SERVICE. Fallback names of
// one service give the very same table.
#ifndef KERROWBEND_HOSTSIM_SERVICES_H
#define KERROWBEND_HOSTSIM_SERVICES_H

#include <array>
#include <cstddef>
#include <string_view>

#include "host/node_io.h"
#include "host/panel.h"
#include "host/scene.h"
#include "host/types.h"

namespace hostsim {

enum class Service : std::size_t {
  ItemInfo6,
  ItemInfo5,
  NodeFuncs,
  NodeInputFuncs3,
  NodeInputFuncs2,
  NodeOutputFuncs2,
  NodeOutputFuncs,
  SceneObjects7,
  SceneObjects6,
  ObjectInfo9,
  ObjectInfo8,
  ObjectInfo7,
  TimeInfo,
  ProductInfo,
  Panel2,
  Panel,
};

inline constexpr std::size_t kServiceCount = static_cast<std::size_t>(Service::Panel) + 1;

// The lookup name of each service, indexed by Service.
inline constexpr std::array<const char *, kServiceCount> kServiceNames = {
    ITEM_INFO_SERVICE,
    ITEM_INFO_SERVICE_5,
    NODE_FUNCS_SERVICE,
    NODE_INPUT_FUNCS_SERVICE,
    NODE_INPUT_FUNCS_SERVICE_2,
    NODE_OUTPUT_FUNCS_SERVICE,
    NODE_OUTPUT_FUNCS_SERVICE_1,
    SCENE_OBJECTS_SERVICE,
    SCENE_OBJECTS_SERVICE_6,
    OBJECT_INFO_SERVICE,
    OBJECT_INFO_SERVICE_8,
    OBJECT_INFO_SERVICE_7,
    TIME_INFO_SERVICE,
    PRODUCT_INFO_SERVICE,
    PANEL_SERVICE,
    PANEL_SERVICE_1,
};

inline constexpr const char *serviceName(Service service) {
  return kServiceNames[static_cast<std::size_t>(service)];
}

// The Service whose lookup name is name; false when no service has it.
bool findService(std::string_view name, Service *service);

// The number of distinct lookup routines the host offers. A GlobalFunc
// carries no context, so a test that wants to tell which routine a module
// used for a lookup hands each activation a different one; every routine
// answers alike, for the current Host, and only the record of the call
// (LookupCall::routine) tells them apart.
inline constexpr int kLookupRoutines = 4;

// Lookup routine 0, the one activations get unless a test picks another. It
// answers for the current Host (Host::current()); with no current host it
// answers null. [thread-safe], and allocation-free while the call log is not
// recording; so are the other routines.
void *globalLookup(const char *serviceName, int useMode);

// Lookup routine number routine, each a function of its own (routine 0 is
// globalLookup). Throws std::out_of_range outside [0, kLookupRoutines).
GlobalFunc lookupRoutine(int routine);

}  // namespace hostsim

#endif
