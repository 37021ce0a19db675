#include "module/panel_build.h"

#include <algorithm>

#include "module/host_services.h"

namespace kerrowbend {

PanelId buildNodePanel(PanelId &panel, void *instance, NodeId node, const PanelLayout &layout,
                       void *const *nodeHints, std::size_t nodeHintCount) {
  // A panel that exists is handed back without a word to the host, so it
  // keeps the label it was given when it was built.
  if (panel != nullptr) return panel;

  const PanelFuncs &panels = *hostServices.panelFuncs;
  const char *nodeName = hostServices.nodeFuncs->nodeName(node);
  panel = panels.create(PANEL_TYPE_VIEW, layout.controls);
  if (panel == nullptr) return nullptr;

  panels.describe(panel, layout.data, layout.get, layout.set);
  // The label text is the host's own string, passed on as received.
  void *hints[4 + kMaxNodeHints + 1] = {
      hintValue(PANEL_HINT_LABEL),
      hintValue(0),
      const_cast<char *>(nodeName),
      hintValue(0),
  };
  nodeHintCount = std::min(nodeHintCount, kMaxNodeHints);
  std::copy_n(nodeHints, nodeHintCount, hints + 4);
  hints[4 + nodeHintCount] = hintValue(0);
  panels.hint(panel, 0, hints);
  panels.viewInst(panel, instance);
  panels.setData(panel, 0, instance);
  return panel;
}

}  // namespace kerrowbend
