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

constexpr const char *kItemInfoNames[] = {"LW Item Info 6", "LW Item Info 5"};
constexpr const char *kNodeFuncsNames[] = {"NodeFuncs"};
constexpr const char *kInputFuncsNames[] = {"NodeInputFuncs 3", "NodeInputFuncs 2"};
constexpr const char *kOutputFuncsNames[] = {"NodeOutputFuncs 2", "NodeOutputFuncs"};
constexpr const char *kSceneObjectsNames[] = {"Scene Objects 7", "Scene Objects 6"};
constexpr const char *kObjectInfoNames[] = {"LW Object Info 9", "LW Object Info 8",
                                            "LW Object Info 7"};
constexpr const char *kPanelNames[] = {"LWXPanel 2", "LWXPanel"};

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
  const auto code = reinterpret_cast<std::uintptr_t>(global("Product Info", 0));
  const int minor = static_cast<int>((code >> 16) & 0xF);
  const int major = static_cast<int>((code >> 20) & 0xF);
  return minor + major * 10;
}

}  // namespace kerrowbend
