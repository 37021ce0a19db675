// The single-reference node: one DragInstance per node placed in a network.
#ifndef KERROWBEND_SINGLE_NODE_INSTANCE_H
#define KERROWBEND_SINGLE_NODE_INSTANCE_H

#include <cstddef>
#include <cstdint>

#include "host/blocks.h"
#include "host/handler.h"
#include "host/types.h"

namespace kerrowbend {

// Names are stored in place: at most 259 bytes and a terminating zero.
constexpr std::size_t kNameSize = 260;

struct DragInstance {
  PanelId panel;  // first, as in every instance record of the module
  NodeId node;
  char referenceObjectName[kNameSize];  // object whose forward axis is the reference
  char weightMapName[kNameSize];        // weight map sampled when "Weight" is unplugged
  int32_t invert;                       // non-zero: the reference is negated
  InputId referenceInput;               // "Reference Normal", vector
  InputId weightInput;                  // "Weight", scalar
  OutputId output;                      // "World Normal", vector
  // The object found under referenceObjectName at the last new time; null
  // when none was. Evaluation reads it instead of searching per spot.
  ItemId referenceItem;
};

static_assert(offsetof(DragInstance, panel) == 0);

// Stores text into a name field: a text that does not fit is cut to the
// field's 259 characters, so the field always ends with a zero. A null
// text, or the field itself, leaves the field as it is.
void storeName(char (&field)[kNameSize], const char *text);

extern "C" {
void *createDragInstance(void *priv, NodeId node, Error *error);
void destroyDragInstance(void *instance);
Error copyDragInstance(void *to, void *from);
Error loadDragInstance(void *instance, const LoadState *state);
Error saveDragInstance(void *instance, const SaveState *state);
Error findReferenceObject(void *instance, int frame, double time);
void evaluateDragInstance(void *instance, NodalAccess *na, OutputId output, NodeValue value);
PanelId buildDragPanel(void *instance);
}

}  // namespace kerrowbend

#endif
