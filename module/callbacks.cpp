#include "module/callbacks.h"

#include "module/host_services.h"

namespace kerrowbend {

extern "C" {

int refreshPanelOnInputEvent(void *instance, InputId /*input*/, int /*event*/,
                             int /*connectionType*/) {
  // The instance record starts with its panel field, so the instance's
  // address is that field's address.
  const auto *panel = static_cast<const PanelId *>(instance);
  if (panel != nullptr && *panel != nullptr) hostServices.panelFuncs->viewRefresh(*panel);
  return 1;
}

const ItemId *noItemsUsed(void * /*instance*/) { return nullptr; }

void ignoreItemIdChange(void * /*instance*/, const ItemId * /*ids*/) {}

Error renderInitNothing(void * /*instance*/, int /*mode*/) { return nullptr; }

void renderCleanupNothing(void * /*instance*/) {}
}

}  // namespace kerrowbend
