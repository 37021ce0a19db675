// The resources/* checks: what the module takes over many rounds of a
// scene's life (nodes placed, set up, copied, saved and loaded, "Input
// Size" taken to 300 and back, and deleted) it gives back. Its heap blocks
// in use do not grow with the rounds, each input it makes is destroyed at
// most once (the rest go to the host with their node), and each panel it
// makes is destroyed with its instance.
#include <string>

#include "tools/validate/checks.h"
#include "tools/validate/groups.h"
#include "tools/validate/heap.h"
#include "tools/validate/support.h"

namespace kerrowbend_host {

namespace {

void lifeRound(Host &host) {
  for (const char *server : kNodes) {
    const bool single = std::string(server) == kSingle;
    Node &first = placeNode(host, server);
    const PanelRecord &panel = openPanel(host, first);
    if (single) {
      configure(first, panel);
    } else {
      for (const int32_t count : {300, 1, 3}) panel.editInt(kInputSizeId, count);
    }
    Node &second = placeNode(host, server);
    second.copyFrom(first);
    for (const BlockForm form : kForms) second.load(form, first.save(form));
    if (!single) {
      const PanelRecord &secondPanel = openPanel(host, second);
      for (const int32_t count : {300, 1}) secondPanel.editInt(kInputSizeId, count);
    }
    first.destroy();
    second.destroy();
  }
}

// The heap blocks in use once a host of its own has run the rounds and
// unloaded the module.
long blocksAfter(const std::string &modulePath, int rounds) {
  {
    const auto host = openHost(modulePath);
    for (int i = 0; i < rounds; ++i) lifeRound(*host);
  }
  return heapBlocksInUse().value_or(0);
}

}  // namespace

void checkMemoryBalance(const std::string &modulePath) {
  if (!heapBlocksInUse()) {
    // Run in the tool's own process (--in-process), where the counter is
    // only if the user preloaded it.
    throw CheckSkipped(
        "the heap counter is not loaded in this process (preload it with LD_PRELOAD=" +
        heapCounterLibrary() + ")");
  }
  constexpr int kFew = 2;
  constexpr int kMany = 12;
  // What the first load and round keep for good (the loader's and the C++
  // library's own) is not the module's growth.
  blocksAfter(modulePath, kFew);
  const long few = blocksAfter(modulePath, kFew);
  const long many = blocksAfter(modulePath, kMany);
  // A fault that keeps a block per round keeps at least kMany - kFew more.
  if (many - few >= kMany - kFew) {
    fail("expected the heap blocks in use after the module is unloaded to be the same after " +
         std::to_string(kMany) + " rounds of placing, setting up, copying, saving, loading, " +
         "resizing and deleting both nodes as after " + std::to_string(kFew) + ", but " +
         std::to_string(many - few) + " more blocks stayed in use");
  }
}

void checkInputsAndPanels(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  for (int i = 0; i < 3; ++i) lifeRound(*host);
  for (const auto &node : host->nodes()) {
    for (const auto &input : node->inputs()) {
      if (input->destroyCalls() > 1) {
        fail(node->server() + ": expected every input the module makes to be destroyed at most " +
             "once, but " + shown(input->name()) + " was destroyed " +
             std::to_string(input->destroyCalls()) + " times");
      }
    }
  }
  expectPanelsGone(*host, "");
}

}  // namespace kerrowbend_host
