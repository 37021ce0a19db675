#include "single_node/instance.h"

#include <cstdlib>
#include <cstring>

#include "module/callbacks.h"
#include "module/host_services.h"
#include "module/scene_objects.h"

namespace kerrowbend {

void storeName(char (&field)[kNameSize], const char *text) {
  if (text == nullptr || text == field) return;
  std::size_t length = 0;
  while (length < kNameSize - 1 && text[length] != '\0') ++length;
  std::memmove(field, text, length);
  field[length] = '\0';
}

extern "C" {

void *createDragInstance(void * /*priv*/, NodeId node, Error *error) {
  auto *inst = allocateInstance<DragInstance>(error);
  if (inst == nullptr) return nullptr;
  inst->node = node;
  inst->invert = 1;

  hostServices.nodeFuncs->setPreviewType(node, NODE_PREVIEW_NORMAL);
  const NodeInputFuncs &inputs = *hostServices.inputFuncs;
  inst->referenceInput =
      inputs.create(node, CONNECTION_VECTOR, "Reference Normal", refreshPanelOnInputEvent);
  inst->weightInput = inputs.create(node, CONNECTION_SCALAR, "Weight", refreshPanelOnInputEvent);
  inst->output = hostServices.outputFuncs->create(node, CONNECTION_VECTOR, "World Normal");
  return inst;
}

void destroyDragInstance(void *instance) {
  auto *inst = static_cast<DragInstance *>(instance);
  if (inst == nullptr) return;
  // The inputs and output belong to the host's node and go with it.
  if (inst->panel != nullptr) hostServices.panelFuncs->destroy(inst->panel);
  std::free(inst);
}

Error copyDragInstance(void *to, void *from) {
  auto *dest = static_cast<DragInstance *>(to);
  const auto *src = static_cast<const DragInstance *>(from);
  if (dest == nullptr || src == nullptr) return nullptr;
  // Only the settings travel; the copy keeps its own node, connectors and
  // panel, and finds its reference object at its own next new time.
  storeName(dest->referenceObjectName, src->referenceObjectName);
  storeName(dest->weightMapName, src->weightMapName);
  dest->invert = src->invert;
  return nullptr;
}

Error findReferenceObject(void *instance, int /*frame*/, double /*time*/) {
  auto *inst = static_cast<DragInstance *>(instance);
  if (inst == nullptr) return nullptr;
  inst->referenceItem = nullptr;
  if (inst->referenceObjectName[0] == '\0') return nullptr;
  // The first object in host order that bears the name wins; names compare
  // byte for byte, so letter case matters.
  inst->referenceItem = findSceneObject([inst](ItemId it) {
    const char *name = hostServices.itemInfo->name(it);
    return name != nullptr && std::strcmp(name, inst->referenceObjectName) == 0;
  });
  return nullptr;
}
}

}  // namespace kerrowbend
