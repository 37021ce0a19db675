// The activation/* checks: handler and interface activation for every
// version a host may ask for, without the services they need, and with a
// handler record that offers no item table.
#include <cstdint>
#include <string>
#include <vector>

#include "hostsim/expected_drag.h"
#include "tools/validate/groups.h"
#include "tools/validate/shaded_spots.h"
#include "tools/validate/support.h"

namespace kerrowbend_host {

using hostsim::Service;

namespace {

// Entries a host fills in before activating; the module must leave them be.
Error hostDescribe(void * /*instance*/) { return nullptr; }
void hostOptions(void * /*instance*/) {}
int previewMarker = 0;
constexpr uint32_t kHostFlags = 0xA5A5;

hostsim::HandlerOptions prefilledHandler() {
  hostsim::HandlerOptions options;
  options.instance.describe = hostDescribe;
  options.preview = &previewMarker;
  options.flags = kHostFlags;
  return options;
}

}  // namespace

void checkHandlerVersions(const std::string &modulePath) {
  for (const char *node : kNodes) {
    const auto host = openHost(modulePath);
    const hostsim::HandlerOptions options = prefilledHandler();
    for (const int version : {-1, 0, 1, 4, 5, 100}) {
      const int result = host->activateHandler(node, version, options);
      const hostsim::HandlerActivation &activation = *host->handler(node);
      if (result != ACTIVATE_BAD_VERSION) {
        fail(std::string(node) + ": expected handler activation with version " +
             std::to_string(version) + " to give 1, but it gave " + std::to_string(result));
      }
      if (activation.instance.create != nullptr || activation.instance.priv != nullptr ||
          activation.record.evaluate != nullptr || activation.render.newTime != nullptr) {
        fail(std::string(node) + ": expected handler activation with version " +
             std::to_string(version) + " to leave the host's record alone, but it installed " +
             "callbacks");
      }
    }
    for (const int version : {NODE_HANDLER_VERSION_PREVIOUS, NODE_HANDLER_VERSION}) {
      const std::string which =
          std::string(node) + ": handler activation with version " + std::to_string(version);
      const int result = host->activateHandler(node, version, options);
      if (result != ACTIVATE_OK) {
        fail("expected " + which + " to give 0, but it gave " + std::to_string(result));
      }
      const hostsim::HandlerActivation &a = *host->handler(node);
      const InstanceFuncs &inst = a.instance;
      if (inst.create == nullptr || inst.destroy == nullptr || inst.copy == nullptr ||
          inst.load == nullptr || inst.save == nullptr || a.record.evaluate == nullptr ||
          a.items.useItems == nullptr || a.items.changeId == nullptr || a.render.init == nullptr ||
          a.render.cleanup == nullptr || a.render.newTime == nullptr) {
        fail("expected " + which +
             " to install every instance, item and render callback and evaluate, but some are "
             "still null");
      }
      if (inst.priv != reinterpret_cast<void *>(host->global(options.routine))) {
        fail("expected " + which +
             " to keep the lookup routine it was handed in the instance table, but it keeps " +
             "something else");
      }
      if (reinterpret_cast<void *>(inst.describe) != reinterpret_cast<void *>(hostDescribe) ||
          a.record.preview != &previewMarker || a.record.flags != kHostFlags) {
        fail("expected " + which + " to leave the host's describe, preview and flags as given, " +
             "but it changed them");
      }
      placeNode(*host, node).destroy();
    }
  }
}

void checkInterfaceVersions(const std::string &modulePath) {
  // Stands for a panel the record held before; only its address matters.
  static int formerPanel = 0;
  const auto earlierPanel = reinterpret_cast<PanelId>(&formerPanel);
  for (const char *node : kNodes) {
    const std::string name = node;
    const auto host = openHost(modulePath);
    const Node &placed = placeNode(*host, node);
    for (const int version : {-1, 0, 3, 5}) {
      InterfaceRecord record{placed.instance(), earlierPanel, hostOptions, nullptr};
      const int result = host->activateInterface(node, version, &record);
      if (result != ACTIVATE_BAD_VERSION) {
        fail(name + ": expected interface activation with version " + std::to_string(version) +
             " to give 1, but it gave " + std::to_string(result));
      }
      if (record.panel != earlierPanel || record.options != hostOptions ||
          !host->panels().panels().empty()) {
        fail(name + ": expected interface activation with version " + std::to_string(version) +
             " to leave the record and the panel service alone, but it used them");
      }
    }
    const int withoutRecord = host->activateInterface(node, NODE_INTERFACE_VERSION, nullptr);
    if (withoutRecord != ACTIVATE_MISSING_RECORD) {
      fail(name + ": expected interface activation with no record to give 3, but it gave " +
           std::to_string(withoutRecord));
    }
    InterfaceRecord record{placed.instance(), earlierPanel, hostOptions, nullptr};
    const int opened = host->activateInterface(node, NODE_INTERFACE_VERSION, &record);
    if (opened != ACTIVATE_OK || record.panel == nullptr ||
        host->panels().find(record.panel) == nullptr || record.options != nullptr ||
        record.command != nullptr) {
      fail(name + ": expected interface activation with version 4 to give 0, a panel the host " +
           "made and no options or command, but it gave " + std::to_string(opened) +
           (record.panel == nullptr ? " and no panel" : ""));
    }
    InterfaceRecord again{placed.instance(), nullptr, nullptr, nullptr};
    host->activateInterface(node, NODE_INTERFACE_VERSION, &again);
    if (again.panel != record.panel || host->panels().panels().size() != 1) {
      fail(name + ": expected a second interface activation for the same instance to hand back " +
           "its panel, but it made another");
    }
    InterfaceRecord noInstance{nullptr, earlierPanel, hostOptions, nullptr};
    const int empty = host->activateInterface(node, NODE_INTERFACE_VERSION, &noInstance);
    if (empty != ACTIVATE_OK || noInstance.panel != nullptr) {
      fail(name + ": expected interface activation for no instance to give 0 and no panel, but " +
           "it gave " + std::to_string(empty) +
           (noInstance.panel != nullptr ? " and a panel" : ""));
    }
  }
}

namespace {

struct MissingServices {
  const char *what;
  std::vector<Service> names;  // every name the service answers to
  int expected;                // what a handler activation gives without it
};

const MissingServices kMissingForHandler[] = {
    {"the node functions", {Service::NodeFuncs}, ACTIVATE_MISSING_SERVICE},
    {"the node input functions",
     {Service::NodeInputFuncs3, Service::NodeInputFuncs2},
     ACTIVATE_MISSING_SERVICE},
    {"the node output functions",
     {Service::NodeOutputFuncs2, Service::NodeOutputFuncs},
     ACTIVATE_MISSING_SERVICE},
    {"item info, scene objects, object info and panels",
     {Service::ItemInfo6, Service::ItemInfo5, Service::SceneObjects7, Service::SceneObjects6,
      Service::ObjectInfo9, Service::ObjectInfo8, Service::ObjectInfo7, Service::Panel2,
      Service::Panel},
     ACTIVATE_OK},
};

}  // namespace

void checkMissingServices(const std::string &modulePath) {
  for (const char *node : kNodes) {
    const std::string name = node;
    for (const MissingServices &missing : kMissingForHandler) {
      const auto host = openHost(modulePath);
      for (const Service service : missing.names) host->setServiceAvailable(service, false);
      const int result = host->activateHandler(node);
      if (result != missing.expected) {
        fail(name + ": expected handler activation without " + missing.what + " to give " +
             std::to_string(missing.expected) + ", but it gave " + std::to_string(result));
      }
    }
    {
      // The panel service comes from a handler activation; the interface
      // fetches nothing.
      const auto host = openHost(modulePath);
      InterfaceRecord record{nullptr, nullptr, nullptr, nullptr};
      const int result = host->activateInterface(node, NODE_INTERFACE_VERSION, &record);
      if (result != ACTIVATE_MISSING_SERVICE) {
        fail(name + ": expected interface activation before any handler activation to give 2, " +
             "but it gave " + std::to_string(result));
      }
    }
    const auto host = openHost(modulePath);
    host->setServiceAvailable(Service::Panel2, false);
    host->setServiceAvailable(Service::Panel, false);
    InterfaceRecord record{placeNode(*host, node).instance(), nullptr, nullptr, nullptr};
    const int result = host->activateInterface(node, NODE_INTERFACE_VERSION, &record);
    if (result != ACTIVATE_MISSING_SERVICE) {
      fail(name + ": expected interface activation in a host without panels to give 2, but it " +
           "gave " + std::to_string(result));
    }
  }
}

// A host whose handler record has no item table has no way to tell a node
// of item changes; the last activation of either node decides whether any
// node shades.
void checkWithoutItemTable(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  const KnownScene scene = buildScene(*host);
  Node &single = placeNode(*host, kSingle);
  openPanel(*host, single).setInt(kInvertId, 0);
  single.connect(kReferenceInput, Vec3{1, 0, 0});
  single.connect(kWeightInput, 0.5);
  Node &multi = placeNode(*host, kMulti);
  multi.connect(stageReferenceInput(1), Vec3{1, 0, 0});
  multi.connect(stageWeightInput(1), 0.5);
  const Vec3 normal = {0, 0, 1};
  for (const char *activated : kNodes) {
    const std::string which =
        std::string("after a ") + activated + " handler activation whose record has no item table";
    hostsim::HandlerOptions options;
    options.itemTable = false;
    if (host->activateHandler(activated, 3, options) != 0) {
      fail("expected a handler activation without an item table to give 0, but it did not");
    }
    if (host->handler(activated)->record.item != nullptr) {
      fail(which + ": expected the record's item table to stay absent, but it was written");
    }
    for (Node *node : {&single, &multi}) {
      expectUnchanged(node->server() + ", " + which, *node, spotOn(scene, normal));
    }
    host->activateHandler(activated);
    for (Node *node : {&single, &multi}) {
      expectWorldNormal(node->server() + ", after a later activation with an item table", *node,
                        spotOn(scene, normal), hostsim::expected::drag(normal, {1, 0, 0}, 0.5));
    }
  }
}

}  // namespace kerrowbend_host
