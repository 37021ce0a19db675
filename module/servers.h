// The activate routines of the servers the descriptor lists. The descriptor
// names them here; each node's room defines its own pair, so the module's
// shared layer never reaches up into a node.
#ifndef KERROWBEND_MODULE_SERVERS_H
#define KERROWBEND_MODULE_SERVERS_H

#include "host/types.h"

namespace kerrowbend {
extern "C" {
// "Kerrowbend": the single-reference node and its panel.
int activateSingleHandler(int version, GlobalFunc global, void *local, void *serverData);
int activateSingleInterface(int version, GlobalFunc global, void *local, void *serverData);
// "KerrowbendMulti": the multi-reference node and its panel.
int activateMultiHandler(int version, GlobalFunc global, void *local, void *serverData);
int activateMultiInterface(int version, GlobalFunc global, void *local, void *serverData);
}
}  // namespace kerrowbend

#endif
