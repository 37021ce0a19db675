// Module-wide state: the host services fetched at the first handler
// activation, and what every handler activation learns of the host. One copy
// per loaded module; written only during activation, read everywhere else.
// A host may activate a server while its renderer shades nodes already
// placed, so what a later activation rewrites is held in atomics: relaxed
// loads and stores are plain moves on the machines we build for, and each
// value stands alone, so no ordering between them is needed.
#ifndef KERROWBEND_MODULE_HOST_SERVICES_H
#define KERROWBEND_MODULE_HOST_SERVICES_H

#include <atomic>
#include <cstdint>

#include "host/node_io.h"
#include "host/panel.h"
#include "host/scene.h"
#include "host/types.h"

namespace kerrowbend {

struct HostServices {
  // The lookup routine handed to the first handler activation that passed
  // the version test.
  GlobalFunc global;
  const ItemInfo *itemInfo;
  const NodeFuncs *nodeFuncs;
  const NodeInputFuncs *inputFuncs;
  const NodeOutputFuncs *outputFuncs;
  const SceneObjects *sceneObjects;
  const ObjectInfo *objectInfo;
  const PanelFuncs *panelFuncs;
};

// The services are written by the first handler activation alone, before
// any node can exist to shade, and never again; they need no atomics.
extern HostServices hostServices;

// The host version as major * 10 + minor (10.1 gives 101); kept by the
// single-reference node's activation, read by its evaluation.
extern std::atomic<int32_t> hostVersion;

// 1 when the last successful handler activation, of either node, was given
// an item table. Both nodes shade only while it is 1 and otherwise pass
// normals through.
extern std::atomic<int32_t> itemFuncsPresent;

// Looks every service up once per module lifetime; later calls do nothing.
void fetchHostServices(GlobalFunc global);

// The host version from the product code, looked up through global.
int productVersion(GlobalFunc global);

}  // namespace kerrowbend

#endif
