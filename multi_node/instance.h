// The multi-reference node: one MultiDragInstance per node placed in a
// network, holding its stages in order. Stage k (counting from 1) owns the
// inputs "Reference Normal k" and "Weight k".
#ifndef KERROWBEND_MULTI_NODE_INSTANCE_H
#define KERROWBEND_MULTI_NODE_INSTANCE_H

#include <cstddef>
#include <cstdint>

#include "host/blocks.h"
#include "host/handler.h"
#include "host/types.h"
#include "multi_node/slot_list.h"

namespace kerrowbend {

struct MultiDragInstance {
  PanelId panel;  // first, as in every instance record of the module
  NodeId node;
  // The number of stages asked for, as saved; 0 or below means none. It runs
  // ahead of the stages only between the panel's set and its change
  // notification, where memory for a stage could not be had, or above
  // kMaxStages (declared below).
  int32_t inputCount;
  // InputPair records: position k holds stage k + 1. Null only when memory
  // for the list could not be had; the node then shades with no stages.
  SlotList *stages;
  OutputId output;  // "World Normal", vector
};

static_assert(offsetof(MultiDragInstance, panel) == 0);

// One stage. An id the host did not give stays null and is never handed
// back to it.
struct InputPair {
  InputId referenceInput;  // "Reference Normal k", vector
  InputId weightInput;     // "Weight k", scalar
};

// The most stages a node makes. The count comes from scene files and the
// panel as any int32, and every stage costs the host two inputs and the
// list a walk from its head, so a count of millions, one damaged integer in
// a scene, would stall the host for minutes or hours. 10,000 stages load in
// a fraction of a second and are far more than any artist chains; a larger
// count is still kept and saved as it was given.
inline constexpr int32_t kMaxStages = 10000;

// Brings the stages to n, at most kMaxStages (none for n of 0 or below),
// creating the inputs of stages added and destroying those of stages
// removed; stages that stay keep their inputs, and so their connections.
// With no list it makes one. Gives the list to keep: the same one, or null
// when none could be made. Stops adding at the first stage for which memory
// cannot be had.
SlotList *resizeInputs(const MultiDragInstance &inst, SlotList *stages, int32_t n);

extern "C" {
void *createMultiInstance(void *priv, NodeId node, Error *error);
void destroyMultiInstance(void *instance);
Error copyMultiInstance(void *to, void *from);
Error loadMultiInstance(void *instance, const LoadState *state);
Error saveMultiInstance(void *instance, const SaveState *state);
void evaluateMultiInstance(void *instance, NodalAccess *na, OutputId output, NodeValue value);
PanelId buildMultiPanel(void *instance);
}

}  // namespace kerrowbend

#endif
