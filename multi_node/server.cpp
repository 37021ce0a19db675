// The multi-reference node's two servers: its handler and its panel, each
// activated through the steps both nodes share.
#include "module/activation.h"
#include "module/servers.h"
#include "multi_node/instance.h"

namespace kerrowbend {
namespace {

extern "C" {
// The node keeps nothing per frame.
Error multiNewTime(void * /*instance*/, int /*frame*/, double /*time*/) { return nullptr; }
}

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
  return activateNodeInterface(version, local, buildMultiPanel);
}
}

}  // namespace kerrowbend
