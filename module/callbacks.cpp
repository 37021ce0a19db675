#include "module/callbacks.h"

#include "module/host_services.h"

namespace kerrowbend {

extern "C" {

int refreshPanelOnInputEvent(void *instance, InputId /*input*/, int /*event*/,
                             int /*connectionType*/) {
  const auto *head = static_cast<const InstanceHead *>(instance);
  if (head != nullptr && head->panel != nullptr) hostServices.panelFuncs->viewRefresh(head->panel);
  return 1;
}

const ItemId *noItemsUsed(void * /*instance*/) { return nullptr; }

void ignoreItemIdChange(void * /*instance*/, const ItemId * /*ids*/) {}

Error renderInitNothing(void * /*instance*/, int /*mode*/) { return nullptr; }

void renderCleanupNothing(void * /*instance*/) {}
}

}  // namespace kerrowbend
