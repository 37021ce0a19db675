#include "module/scene_objects.h"

namespace kerrowbend {

bool shadesSpotsOn(ItemId object) {
  const bool inScene = findSceneObject([object](ItemId it) { return it == object; }) != nullptr;
  return inScene && itemFuncsPresent == 1;
}

}  // namespace kerrowbend
