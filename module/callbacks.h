// What both nodes' instance callbacks share: the allocation behind each
// node's create, and the callbacks both hand to the host as they are.
#ifndef KERROWBEND_MODULE_CALLBACKS_H
#define KERROWBEND_MODULE_CALLBACKS_H

#include <cstdlib>

#include "host/handler.h"
#include "host/types.h"

namespace kerrowbend {

// A zero-filled record for a new instance. When memory cannot be had it
// gives null and sets the error the host shows, the only failure any
// instance callback reports.
template <typename Instance>
Instance *allocateInstance(Error *error) {
  auto *inst = static_cast<Instance *>(std::calloc(1, sizeof(Instance)));
  if (inst == nullptr && error != nullptr) *error = "Couldn't allocate memory for instance.";
  return inst;
}

// Functions with C linkage share one namespace across the module whatever
// C++ namespace they sit in, so each node gives its callbacks names of its
// own.

extern "C" {

// Given with every node input: a connection made or broken changes what the
// panel may show (a name field is withheld while its input is plugged), so
// the panel is refreshed. Returns 1. Works for an instance of either node:
// every instance record of this module starts with its panel field.
int refreshPanelOnInputEvent(void *instance, InputId input, int event, int connectionType);

// The nodes depend on no scene items by id (the reference object is found
// by name at each new time), so there is nothing to report or remap.
const ItemId *noItemsUsed(void *instance);
void ignoreItemIdChange(void *instance, const ItemId *ids);

// Nothing is prepared before rendering or kept after it.
Error renderInitNothing(void *instance, int mode);
void renderCleanupNothing(void *instance);
}

}  // namespace kerrowbend

#endif
