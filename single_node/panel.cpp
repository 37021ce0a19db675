// The node's panel: three controls bound to the instance's settings. The
// panel keeps no values of its own; it reads and writes the instance
// through the get and set callbacks below.
#include <cstdint>

#include "module/host_services.h"
#include "module/panel_build.h"
#include "module/scene_objects.h"
#include "single_node/instance.h"

namespace kerrowbend {
namespace {

constexpr uint32_t kReferenceObjectId = 0x8001;
constexpr uint32_t kInvertId = 0x8002;
constexpr uint32_t kWeightMapId = 0x8003;

const PanelControl kControls[] = {
    {kReferenceObjectId, "Reference Object", PANEL_CONTROL_PRESET_TEXT},
    {kInvertId, "Invert Vector", PANEL_CONTROL_BOOLEAN},
    {kWeightMapId, "WeightMap", PANEL_CONTROL_PRESET_TEXT},
    {0, nullptr, nullptr},
};

const PanelDataDesc kData[] = {
    {kReferenceObjectId, "ReferenceObject", PANEL_DATA_STRING},
    {kInvertId, "InvertVector", PANEL_DATA_INTEGER},
    {kWeightMapId, "WeightMap", PANEL_DATA_STRING},
    {0, nullptr, nullptr},
};

bool isConnected(InputId input) { return hostServices.inputFuncs->check(input) != 0; }

// The scene's object item at position index in host order, or null. Walks
// afresh every time so the choices follow the scene as it is now.
ItemId objectAt(int index) {
  int position = 0;
  return findSceneObject([&position, index](ItemId /*item*/) { return position++ == index; });
}

extern "C" {

// A name is withheld while its input is plugged: the input, not the name,
// then decides, and the panel shows that.
void *getDragSetting(void *instance, uint32_t vid) {
  auto *inst = static_cast<DragInstance *>(instance);
  if (inst == nullptr) return nullptr;
  switch (vid) {
    case kReferenceObjectId:
      return isConnected(inst->referenceInput) ? nullptr : inst->referenceObjectName;
    case kInvertId:
      return &inst->invert;
    case kWeightMapId:
      return isConnected(inst->weightInput) ? nullptr : inst->weightMapName;
    default:
      return nullptr;
  }
}

// Writes the one field. A plugged input does not stop a name from being set;
// the reference object is looked up again at the next new time.
int setDragSetting(void *instance, uint32_t vid, void *value) {
  auto *inst = static_cast<DragInstance *>(instance);
  if (inst == nullptr || value == nullptr) return 0;
  switch (vid) {
    case kReferenceObjectId:
      storeName(inst->referenceObjectName, static_cast<const char *>(value));
      return 1;
    case kInvertId:
      inst->invert = *static_cast<const int32_t *>(value);
      return 1;
    case kWeightMapId:
      storeName(inst->weightMapName, static_cast<const char *>(value));
      return 1;
    default:
      return 0;
  }
}

int objectChoiceCount(void * /*context*/) {
  int count = 0;
  findSceneObject([&count](ItemId /*item*/) {
    ++count;
    return false;
  });
  return count;
}

const char *objectChoiceName(void * /*context*/, int index) {
  if (hostServices.itemInfo == nullptr) return "";
  const ItemId item = objectAt(index);
  return item != nullptr ? hostServices.itemInfo->name(item) : "";
}

int weightMapChoiceCount(void * /*context*/) {
  if (hostServices.sceneObjects == nullptr) return 0;
  return hostServices.sceneObjects->numVMaps(VMAP_TYPE_WEIGHT);
}

const char *weightMapChoiceName(void * /*context*/, int index) {
  if (hostServices.sceneObjects == nullptr) return "";
  return hostServices.sceneObjects->vmapName(VMAP_TYPE_WEIGHT, index);
}

}  // extern "C"

const PanelLayout kLayout = {kControls, kData, getDragSetting, setDragSetting};

}  // namespace

extern "C" PanelId buildDragPanel(void *instance) {
  auto *inst = static_cast<DragInstance *>(instance);
  if (inst == nullptr) return nullptr;
  void *const popups[] = {
      hintValue(PANEL_HINT_POPUP_FUNCS),  hintValue(kReferenceObjectId),
      hintFunction(objectChoiceCount),    hintFunction(objectChoiceName),
      hintValue(PANEL_HINT_POPUP_FUNCS),  hintValue(kWeightMapId),
      hintFunction(weightMapChoiceCount), hintFunction(weightMapChoiceName),
  };
  return buildNodePanel(inst->panel, inst, inst->node, kLayout, popups);
}

}  // namespace kerrowbend
