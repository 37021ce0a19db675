// The scene's object items as both nodes meet them: the walk that finds
// one (a reference object by name, a panel choice by position) and the gate
// that decides whether a spot is shaded at all.
#ifndef KERROWBEND_MODULE_SCENE_OBJECTS_H
#define KERROWBEND_MODULE_SCENE_OBJECTS_H

#include "host/scene.h"
#include "host/types.h"
#include "module/host_services.h"

namespace kerrowbend {

// Walks the scene's object items in host order and gives the first one for
// which found(item) is true, or null when none is (or there is no item-info
// service). Every walk starts afresh from the first object, so it follows the
// scene as it is now; found may also just count or stop at a position.
template <typename Found>
ItemId findSceneObject(Found found) {
  const ItemInfo *items = hostServices.itemInfo;
  if (items == nullptr) return nullptr;
  for (ItemId it = items->first(ITEM_TYPE_OBJECT, nullptr); it != nullptr; it = items->next(it)) {
    if (found(it)) return it;
  }
  return nullptr;
}

// Whether a spot on this object is shaded at all: only spots on the scene's
// own objects are, and only while the last handler activation was given an
// item table. Otherwise both nodes hand the normal on unchanged.
bool shadesSpotsOn(ItemId object);

}  // namespace kerrowbend

#endif
