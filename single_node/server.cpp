// The single-reference node's two servers: its handler and its panel, each
// activated through the steps both nodes share.
#include "module/activation.h"
#include "module/servers.h"
#include "single_node/instance.h"

namespace kerrowbend {
namespace {

constexpr NodeHandlerCallbacks kDragNode = {
    .create = createDragInstance,
    .destroy = destroyDragInstance,
    .copy = copyDragInstance,
    .load = loadDragInstance,
    .save = saveDragInstance,
    // Each new time finds the reference object by name again.
    .newTime = findReferenceObject,
    .evaluate = evaluateDragInstance,
    .keepsHostVersion = true,
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
