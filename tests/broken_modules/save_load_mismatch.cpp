// The module with a load that reads the invert flag back the wrong way
// round: a node saved and loaded again is no longer the node that was
// saved.
#include "single_node/instance.h"

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" Error __real_loadDragInstance(void *instance, const LoadState *state);

extern "C" Error __wrap_loadDragInstance(void *instance, const LoadState *state) {
  const Error error = __real_loadDragInstance(instance, state);
  if (auto *inst = static_cast<kerrowbend::DragInstance *>(instance)) {
    inst->invert = inst->invert == 0 ? 1 : 0;
  }
  return error;
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
