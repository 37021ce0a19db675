// The activation steps both nodes share. Each node's server entry points
// hand these its own callbacks.
#ifndef KERROWBEND_MODULE_ACTIVATION_H
#define KERROWBEND_MODULE_ACTIVATION_H

#include "host/handler.h"
#include "host/module.h"
#include "host/types.h"

namespace kerrowbend {

// What a node installs into the host's handler record.
struct NodeHandlerCallbacks {
  void *(*create)(void *priv, NodeId node, Error *error);
  void (*destroy)(void *instance);
  Error (*copy)(void *to, void *from);
  Error (*load)(void *instance, const LoadState *state);
  Error (*save)(void *instance, const SaveState *state);
  Error (*newTime)(void *instance, int frame, double time);
  EvaluateFunc evaluate;
  // Only the single-reference node reads the host version back, at
  // evaluation; the other node looks the product up and keeps nothing.
  bool keepsHostVersion;
};

int activateNodeHandler(int version, GlobalFunc global, void *local,
                        const NodeHandlerCallbacks &node);

// Builds the instance's panel on first use, or gives back the one it has;
// null when none can be made.
using PanelBuildFunc = PanelId (*)(void *instance);

int activateNodeInterface(int version, void *local, PanelBuildFunc buildPanel);

}  // namespace kerrowbend

#endif
