// The multi-reference node's two servers, as the module's server list
// names them.
#ifndef KERROWBEND_MULTI_NODE_SERVER_H
#define KERROWBEND_MULTI_NODE_SERVER_H

#include "host/types.h"

namespace kerrowbend {
extern "C" {
int activateMultiHandler(int version, GlobalFunc global, void *local, void *serverData);
int activateMultiInterface(int version, GlobalFunc global, void *local, void *serverData);
}
}  // namespace kerrowbend

#endif
