// The panel build both nodes share: one panel per instance, made on first
// use through the host's panel service and handed back unchanged afterwards.
#ifndef KERROWBEND_MODULE_PANEL_BUILD_H
#define KERROWBEND_MODULE_PANEL_BUILD_H

#include <cstddef>
#include <cstdint>

#include "host/panel.h"
#include "host/types.h"

namespace kerrowbend {

// What tells one node's panel from the other's: its controls, its values and
// the callbacks that reach the instance's fields.
struct PanelLayout {
  const PanelControl *controls;
  const PanelDataDesc *data;
  PanelGetFunc get;
  PanelSetFunc set;
};

// Hint arrays carry tags, ids and functions in pointer-sized slots.
inline void *hintValue(uintptr_t value) {
  return reinterpret_cast<void *>(value);  // NOLINT(performance-no-int-to-ptr)
}

template <typename Function>
void *hintFunction(Function function) {
  return reinterpret_cast<void *>(function);
}

// The most hint values a node adds after the label.
inline constexpr std::size_t kMaxNodeHints = 11;

// Gives the instance's panel, building it first when it has none. The
// panel's hints are the label (the node's name, for the panel as a whole),
// then nodeHints, then the closing 0. Null when the panel service makes no
// panel; a later call then tries again.
PanelId buildNodePanel(PanelId &panel, void *instance, NodeId node, const PanelLayout &layout,
                       void *const *nodeHints, std::size_t nodeHintCount);

template <std::size_t N>
PanelId buildNodePanel(PanelId &panel, void *instance, NodeId node, const PanelLayout &layout,
                       void *const (&nodeHints)[N]) {
  static_assert(N <= kMaxNodeHints);
  return buildNodePanel(panel, instance, node, layout, nodeHints, N);
}

}  // namespace kerrowbend

#endif
