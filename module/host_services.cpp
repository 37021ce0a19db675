#include "module/host_services.h"

#include <cstdint>

namespace kerrowbend {

HostServices hostServices{};
std::atomic<int32_t> hostVersion{0};
std::atomic<int32_t> itemFuncsPresent{0};

namespace {

// Asks for each name in turn and keeps the first table given; older hosts
// offer only the later names of each list, with the same table layout.
template <typename Table, std::size_t N>
const Table *lookUp(GlobalFunc global, const char *const (&names)[N]) {
  for (const char *name : names) {
    if (void *table = global(name, 0)) return static_cast<const Table *>(table);
  }
  return nullptr;
}

constexpr const char *kItemInfoNames[] = {ITEM_INFO_SERVICE, ITEM_INFO_SERVICE_5};
constexpr const char *kNodeFuncsNames[] = {NODE_FUNCS_SERVICE};
constexpr const char *kInputFuncsNames[] = {NODE_INPUT_FUNCS_SERVICE, NODE_INPUT_FUNCS_SERVICE_2};
constexpr const char *kOutputFuncsNames[] = {NODE_OUTPUT_FUNCS_SERVICE,
                                             NODE_OUTPUT_FUNCS_SERVICE_1};
constexpr const char *kSceneObjectsNames[] = {SCENE_OBJECTS_SERVICE, SCENE_OBJECTS_SERVICE_6};
constexpr const char *kObjectInfoNames[] = {OBJECT_INFO_SERVICE, OBJECT_INFO_SERVICE_8,
                                            OBJECT_INFO_SERVICE_7};
constexpr const char *kPanelNames[] = {PANEL_SERVICE, PANEL_SERVICE_1};

}  // namespace

void fetchHostServices(GlobalFunc global) {
  if (hostServices.global != nullptr) return;
  hostServices.global = global;
  hostServices.itemInfo = lookUp<ItemInfo>(global, kItemInfoNames);
  hostServices.nodeFuncs = lookUp<NodeFuncs>(global, kNodeFuncsNames);
  hostServices.inputFuncs = lookUp<NodeInputFuncs>(global, kInputFuncsNames);
  hostServices.outputFuncs = lookUp<NodeOutputFuncs>(global, kOutputFuncsNames);
  hostServices.sceneObjects = lookUp<SceneObjects>(global, kSceneObjectsNames);
  hostServices.objectInfo = lookUp<ObjectInfo>(global, kObjectInfoNames);
  hostServices.panelFuncs = lookUp<PanelFuncs>(global, kPanelNames);
}

int productVersion(GlobalFunc global) {
  // The product code is the pointer value itself, not a table.
  const auto code = reinterpret_cast<std::uintptr_t>(global(PRODUCT_INFO_SERVICE, 0));
  const int minor = static_cast<int>((code >> PRODUCT_CODE_MINOR_SHIFT) & PRODUCT_CODE_DIGIT_MASK);
  const int major = static_cast<int>((code >> PRODUCT_CODE_MAJOR_SHIFT) & PRODUCT_CODE_DIGIT_MASK);
  return minor + major * 10;
}

}  // namespace kerrowbend
