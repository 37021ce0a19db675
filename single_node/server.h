// The single-reference node's two servers, as the module's server list
// names them.
#ifndef KERROWBEND_SINGLE_NODE_SERVER_H
#define KERROWBEND_SINGLE_NODE_SERVER_H

#include "host/types.h"

namespace kerrowbend {
extern "C" {
int activateSingleHandler(int version, GlobalFunc global, void *local, void *serverData);
int activateSingleInterface(int version, GlobalFunc global, void *local, void *serverData);
}
}  // namespace kerrowbend

#endif
