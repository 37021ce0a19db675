// The multi-reference node's servers. Until its stages are built the node
// is a safe placeholder: an instance the host can create and destroy, its
// output, no settings, and shading that hands the normal on unchanged.
#include "multi_node/server.h"

#include <cstdlib>

#include "module/activation.h"
#include "module/callbacks.h"
#include "module/host_services.h"

namespace kerrowbend {
namespace {

struct MultiDragInstance {
  PanelId panel;  // first, as in every instance record of the module
  NodeId node;
};

extern "C" {

void *createMultiInstance(void * /*priv*/, NodeId node, Error *error) {
  auto *inst = static_cast<MultiDragInstance *>(std::calloc(1, sizeof(MultiDragInstance)));
  if (inst == nullptr) {
    if (error != nullptr) *error = "Couldn't allocate memory for instance.";
    return nullptr;
  }
  inst->node = node;
  hostServices.outputFuncs->create(node, CONNECTION_VECTOR, "World Normal");
  return inst;
}

void destroyMultiInstance(void *instance) { std::free(instance); }

Error copyMultiInstance(void * /*to*/, void * /*from*/) { return nullptr; }

Error loadMultiInstance(void * /*instance*/, const LoadState * /*state*/) { return nullptr; }

Error saveMultiInstance(void * /*instance*/, const SaveState * /*state*/) { return nullptr; }

Error multiNewTime(void * /*instance*/, int /*frame*/, double /*time*/) { return nullptr; }

void evaluateMultiInstance(void * /*instance*/, NodalAccess *na, OutputId /*output*/,
                           NodeValue value) {
  hostServices.outputFuncs->setValue(value, na->wNorm);
}

PanelId noMultiPanelYet(void * /*instance*/) { return nullptr; }

}  // extern "C"

constexpr NodeHandlerCallbacks kMultiNode = {
    .create = createMultiInstance,
    .destroy = destroyMultiInstance,
    .copy = copyMultiInstance,
    .load = loadMultiInstance,
    .save = saveMultiInstance,
    .newTime = multiNewTime,
    .evaluate = evaluateMultiInstance,
    .keepsHostVersion = false,
};

}  // namespace

extern "C" {

int activateMultiHandler(int version, GlobalFunc global, void *local, void * /*serverData*/) {
  return activateNodeHandler(version, global, local, kMultiNode);
}

int activateMultiInterface(int version, GlobalFunc /*global*/, void *local, void * /*serverData*/) {
  return activateNodeInterface(version, local, noMultiPanelYet);
}
}

}  // namespace kerrowbend
