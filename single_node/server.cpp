#include "single_node/server.h"

#include "module/activation.h"
#include "single_node/instance.h"

namespace kerrowbend {
namespace {

constexpr NodeHandlerCallbacks kDragNode = {
    createDragInstance, destroyDragInstance, copyDragInstance,     loadDragInstance,
    saveDragInstance,   findReferenceObject, evaluateDragInstance, true,
};

}  // namespace

extern "C" {

int activateSingleHandler(int version, GlobalFunc global, void *local, void * /*serverData*/) {
  return activateNodeHandler(version, global, local, kDragNode);
}

int activateSingleInterface(int version, GlobalFunc /*global*/, void *local,
                            void * /*serverData*/) {
  return activateNodeInterface(version, local, buildDragPanel);
}
}

}  // namespace kerrowbend
