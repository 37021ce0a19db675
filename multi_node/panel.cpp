// The node's panel: one integer, "Input Size", bound to the instance's
// stage count. An edit reaches the node in two steps: the set callback
// stores the count, and the change notification that follows rebuilds the
// stages to match it.
#include <cstdint>

#include "module/host_services.h"
#include "module/panel_build.h"
#include "multi_node/instance.h"

namespace kerrowbend {
namespace {

constexpr uint32_t kInputSizeId = 0x8001;

const PanelControl kControls[] = {
    {kInputSizeId, "Input Size", PANEL_CONTROL_INTEGER},
    {0, nullptr, nullptr},
};

const PanelDataDesc kData[] = {
    {kInputSizeId, "InputSize", PANEL_DATA_INTEGER},
    {0, nullptr, nullptr},
};

extern "C" {

// The count's own address, so the panel always reads the count as it is
// now, also after a load or a copy.
void *getMultiSetting(void *instance, uint32_t vid) {
  auto *inst = static_cast<MultiDragInstance *>(instance);
  if (inst == nullptr || vid != kInputSizeId) return nullptr;
  return &inst->inputCount;
}

// Stores the count unbounded and nothing else: the stages follow at the
// change notification.
int setMultiSetting(void *instance, uint32_t vid, void *value) {
  auto *inst = static_cast<MultiDragInstance *>(instance);
  if (inst == nullptr || value == nullptr || vid != kInputSizeId) return 0;
  inst->inputCount = *static_cast<const int32_t *>(value);
  return 1;
}

void resizeOnValueChange(PanelId panel, uint32_t /*cid*/, uint32_t /*vid*/, int event) {
  if (panel == nullptr) return;
  auto *inst = static_cast<MultiDragInstance *>(hostServices.panelFuncs->getData(panel, 0));
  if (inst == nullptr || event != PANEL_EVENT_VALUE_CHANGED) return;
  inst->stages = resizeInputs(*inst, inst->stages, inst->inputCount);
}

}  // extern "C"

const PanelLayout kLayout = {kControls, kData, getMultiSetting, setMultiSetting};

}  // namespace

extern "C" PanelId buildMultiPanel(void *instance) {
  auto *inst = static_cast<MultiDragInstance *>(instance);
  if (inst == nullptr) return nullptr;
  void *const changeNotify[] = {
      hintValue(PANEL_HINT_CHANGE_NOTIFY),
      hintFunction(resizeOnValueChange),
  };
  return buildNodePanel(inst->panel, inst, inst->node, kLayout, changeNotify);
}

}  // namespace kerrowbend
