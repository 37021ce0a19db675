// What creating an instance means for either node.
#ifndef KERROWBEND_MODULE_INSTANCE_H
#define KERROWBEND_MODULE_INSTANCE_H

#include <cstdlib>

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

}  // namespace kerrowbend

#endif
