// The module with one of the slips a maintainer makes in what it hands the
// host, chosen when it is compiled:
//   SERVICE_NAME_TYPO       asks for "NodeInputFuncs3", not "NodeInputFuncs 3",
//                           so it always falls back to the older table
//   SKIPS_PREVIEW_TYPE      create never makes the node operation call with 2
//   SWAPS_DESTROY_ARGS      hands destroy its input and node the wrong way round
//   TIME_TWICE              looks the time up twice for each spot that needs it
//   SHADES_WITHOUT_ITEMS    the multi node's activation sets the item-table flag
//                           whether or not the record offers an item table
//   NO_PANEL_REFRESH        the input-event callback answers 1 but never
//                           refreshes the panel
//   RENAMED_VALUE           the multi node's value is named "Input Size"
//   CLAMPED_MAP_COUNT       the weight-map popup counts a host's negative
//                           count as 0
//   INVERT_TOKEN            the single node's text form spells INVT "Inverted",
//                           in its saves and its loads alike
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "host/blocks.h"
#include "host/types.h"
#include "module/host_services.h"
#include "module/panel_build.h"
#include "single_node/instance.h"

using namespace kerrowbend;

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#if defined(SERVICE_NAME_TYPO) || defined(SKIPS_PREVIEW_TYPE) || defined(SWAPS_DESTROY_ARGS) || \
    defined(TIME_TWICE)
// kerrowbend::fetchHostServices(GlobalFunc), by its linker name.
extern "C" void __real__ZN10kerrowbend17fetchHostServicesEPFPvPKciE(GlobalFunc global);

namespace {
GlobalFunc hostGlobal = nullptr;
#if defined(SKIPS_PREVIEW_TYPE)
NodeFuncs nodeFuncs{};
#elif defined(SWAPS_DESTROY_ARGS)
NodeInputFuncs inputFuncs{};
const NodeInputFuncs *hostInputs = nullptr;
#endif

// The host's lookup with the slip in between.
void *slippedGlobal(const char *name, int useMode) {
#if defined(SERVICE_NAME_TYPO)
  if (std::strcmp(name, "NodeInputFuncs 3") == 0) name = "NodeInputFuncs3";
#elif defined(TIME_TWICE)
  if (std::strcmp(name, "LW Time Info") == 0) hostGlobal(name, useMode);
#endif
  return hostGlobal(name, useMode);
}
}  // namespace

extern "C" void __wrap__ZN10kerrowbend17fetchHostServicesEPFPvPKciE(GlobalFunc global) {
  if (hostServices.global != nullptr) return;
  hostGlobal = global;
  __real__ZN10kerrowbend17fetchHostServicesEPFPvPKciE(slippedGlobal);
#if defined(SKIPS_PREVIEW_TYPE)
  if (hostServices.nodeFuncs != nullptr) {
    nodeFuncs = *hostServices.nodeFuncs;
    nodeFuncs.setPreviewType = [](NodeId /*node*/, int /*type*/) {};
    hostServices.nodeFuncs = &nodeFuncs;
  }
#elif defined(SWAPS_DESTROY_ARGS)
  if (hostServices.inputFuncs != nullptr) {
    inputFuncs = *hostServices.inputFuncs;
    hostInputs = hostServices.inputFuncs;
    inputFuncs.destroy = [](NodeId node, InputId input) {
      hostInputs->destroy(reinterpret_cast<NodeId>(input), reinterpret_cast<InputId>(node));
    };
    hostServices.inputFuncs = &inputFuncs;
  }
#endif
}

#elif defined(SHADES_WITHOUT_ITEMS)
extern "C" int __real_activateMultiHandler(int version, GlobalFunc global, void *local,
                                           void *serverData);
extern "C" int __wrap_activateMultiHandler(int version, GlobalFunc global, void *local,
                                           void *serverData) {
  const int result = __real_activateMultiHandler(version, global, local, serverData);
  if (result == 0) itemFuncsPresent.store(1, std::memory_order_relaxed);
  return result;
}

#elif defined(NO_PANEL_REFRESH)
extern "C" int __wrap_refreshPanelOnInputEvent(void * /*instance*/, InputId /*input*/,
                                               int /*event*/, int /*connectionType*/) {
  return 1;
}

#elif defined(RENAMED_VALUE) || defined(CLAMPED_MAP_COUNT)
// kerrowbend::buildNodePanel(PanelId &, void *, NodeId, const PanelLayout &,
// void *const *, std::size_t), by its linker name.
extern "C" PanelId
__real__ZN10kerrowbend14buildNodePanelERP9HostPanelPvP8HostNodeRKNS_11PanelLayoutEPKS3_m(
    PanelId &panel, void *instance, NodeId node, const PanelLayout &layout, void *const *nodeHints,
    std::size_t nodeHintCount);

namespace {
#if defined(RENAMED_VALUE)
PanelDataDesc renamed[8];
#else
PanelPopCountFunc hostCount = nullptr;
int clampedCount(void *context) { return std::max(hostCount(context), 0); }
#endif
}  // namespace

extern "C" PanelId
__wrap__ZN10kerrowbend14buildNodePanelERP9HostPanelPvP8HostNodeRKNS_11PanelLayoutEPKS3_m(
    PanelId &panel, void *instance, NodeId node, const PanelLayout &layout, void *const *nodeHints,
    std::size_t nodeHintCount) {
  PanelLayout changed = layout;
  void *hints[16];
  std::copy_n(nodeHints, std::min<std::size_t>(nodeHintCount, 16), hints);
#if defined(RENAMED_VALUE)
  std::size_t n = 0;
  for (; n + 1 < std::size(renamed) && layout.data[n].vid != 0; ++n) {
    renamed[n] = layout.data[n];
    if (std::strcmp(renamed[n].name, "InputSize") == 0) renamed[n].name = "Input Size";
  }
  renamed[n] = PanelDataDesc{0, nullptr, nullptr};
  changed.data = renamed;
#else
  // The second popup's count: the tag, the id, then count and name.
  if (nodeHintCount >= 8) {
    hostCount = reinterpret_cast<PanelPopCountFunc>(hints[6]);
    hints[6] = reinterpret_cast<void *>(clampedCount);
  }
#endif
  return __real__ZN10kerrowbend14buildNodePanelERP9HostPanelPvP8HostNodeRKNS_11PanelLayoutEPKS3_m(
      panel, instance, node, changed, hints, nodeHintCount);
}

#elif defined(INVERT_TOKEN)
// Saved and loaded alike, so the node reloads its own scenes; only a scene
// written by another module, or read by a host that knows the token, shows
// the slip.
namespace {
const BlockIdent kBlocks[] = {
    {0x524F424A, "Object"}, {0x494E5654, "Inverted"}, {0x574D4150, "WeightMap"}, {0, nullptr}};

void readName(const LoadState &state, char (&field)[kNameSize]) {
  state.readStr(state.readData, field, static_cast<int>(kNameSize));
  field[kNameSize - 1] = '\0';
}
}  // namespace

extern "C" Error __wrap_saveDragInstance(void *instance, const SaveState *state) {
  const auto *inst = static_cast<const DragInstance *>(instance);
  if (inst == nullptr || state == nullptr) return nullptr;
  void *out = state->writeData;
  state->beginBlk(out, &kBlocks[0], 1);
  state->writeStr(out, inst->referenceObjectName);
  state->endBlk(out);
  state->beginBlk(out, &kBlocks[1], 1);
  state->writeI4(out, &inst->invert, 1);
  state->endBlk(out);
  state->beginBlk(out, &kBlocks[2], 1);
  state->writeStr(out, inst->weightMapName);
  state->endBlk(out);
  return nullptr;
}

extern "C" Error __wrap_loadDragInstance(void *instance, const LoadState *state) {
  auto *inst = static_cast<DragInstance *>(instance);
  if (inst == nullptr || state == nullptr) return nullptr;
  for (BlockId id; (id = state->findBlk(state->readData, kBlocks)) != 0;) {
    if (id == kBlocks[0].id) {
      readName(*state, inst->referenceObjectName);
    } else if (id == kBlocks[1].id) {
      int32_t value = 0;
      if (state->readI4(state->readData, &value, 1) == 1) inst->invert = value;
    } else if (id == kBlocks[2].id) {
      readName(*state, inst->weightMapName);
    }
    state->endBlk(state->readData);
  }
  return nullptr;
}
#endif
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
