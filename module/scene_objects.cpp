#include "module/scene_objects.h"

namespace kerrowbend {

bool shadesSpotsOn(ItemId object) {
  const bool inScene = findSceneObject([object](ItemId it) { return it == object; }) != nullptr;
  return inScene && itemFuncsPresent.load(std::memory_order_relaxed) == 1;
}

}  // namespace kerrowbend
