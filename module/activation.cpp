#include "module/activation.h"

#include "module/callbacks.h"
#include "module/host_services.h"

namespace kerrowbend {

int activateNodeHandler(int version, GlobalFunc global, void *local,
                        const NodeHandlerCallbacks &node) {
  if (version != NODE_HANDLER_VERSION_PREVIOUS && version != NODE_HANDLER_VERSION) {
    return ACTIVATE_BAD_VERSION;
  }

  fetchHostServices(global);
  const int productVer = productVersion(global);
  if (node.keepsHostVersion) hostVersion.store(productVer, std::memory_order_relaxed);

  if (hostServices.inputFuncs == nullptr || hostServices.outputFuncs == nullptr ||
      hostServices.nodeFuncs == nullptr) {
    return ACTIVATE_MISSING_SERVICE;
  }

  // A host that hands over no record (or a record without its instance
  // table) has nowhere to take the callbacks; writing through it would crash.
  auto *handler = static_cast<NodeHandler *>(local);
  if (handler == nullptr || handler->inst == nullptr) return ACTIVATE_MISSING_RECORD;

  InstanceFuncs &inst = *handler->inst;
  inst.priv = reinterpret_cast<void *>(global);
  inst.create = node.create;
  inst.destroy = node.destroy;
  inst.copy = node.copy;
  inst.load = node.load;
  inst.save = node.save;

  if (handler->item != nullptr) {
    itemFuncsPresent.store(1, std::memory_order_relaxed);
    handler->item->useItems = noItemsUsed;
    handler->item->changeId = ignoreItemIdChange;
  } else {
    itemFuncsPresent.store(0, std::memory_order_relaxed);
  }

  if (handler->rend != nullptr) {
    handler->rend->init = renderInitNothing;
    handler->rend->cleanup = renderCleanupNothing;
    handler->rend->newTime = node.newTime;
  }

  handler->evaluate = node.evaluate;
  return ACTIVATE_OK;
}

int activateNodeInterface(int version, void *local, PanelBuildFunc buildPanel) {
  if (version != NODE_INTERFACE_VERSION) return ACTIVATE_BAD_VERSION;
  auto *record = static_cast<InterfaceRecord *>(local);
  if (record == nullptr) return ACTIVATE_MISSING_RECORD;
  // The panel service comes from the first handler activation; an interface
  // activated before any handler has none to build with.
  if (hostServices.panelFuncs == nullptr) return ACTIVATE_MISSING_SERVICE;

  record->panel = buildPanel(record->inst);
  record->options = nullptr;
  record->command = nullptr;
  return ACTIVATE_OK;
}

}  // namespace kerrowbend
