// The activation/* checks: handler and interface activation for every
// version a host may ask for, without the services they need, with a
// handler record that offers no item table, and what each leaves of the
// records it was handed.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
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

namespace {

// A record as a host lays it out, followed by memory of the host's own, so
// that a module writing past the record's last entry is seen.
template <typename Record>
struct Guarded {
  Record record;
  std::array<unsigned char, 64> after;
};

// Every byte the host hands over holds this until the module writes it.
constexpr unsigned char kHostByte = 0xA5;

// One entry of a record, and whether a successful activation writes it.
struct Entry {
  std::size_t offset;
  std::size_t size;
  const char *name;
  bool module;
};

const Entry kHandlerEntries[] = {
    {offsetof(NodeHandler, inst), sizeof(InstanceFuncs *), "instance table address", false},
    {offsetof(NodeHandler, item), sizeof(ItemFuncs *), "item table address", false},
    {offsetof(NodeHandler, rend), sizeof(RenderFuncs *), "render table address", false},
    {offsetof(NodeHandler, evaluate), sizeof(EvaluateFunc), "evaluate", true},
    {offsetof(NodeHandler, preview), sizeof(void *), "preview", false},
    {offsetof(NodeHandler, flags), sizeof(uint32_t), "flags", false},
};
const Entry kInstanceEntries[] = {
    {offsetof(InstanceFuncs, priv), sizeof(void *), "priv", true},
    {offsetof(InstanceFuncs, create), sizeof(void *), "create", true},
    {offsetof(InstanceFuncs, destroy), sizeof(void *), "destroy", true},
    {offsetof(InstanceFuncs, copy), sizeof(void *), "copy", true},
    {offsetof(InstanceFuncs, load), sizeof(void *), "load", true},
    {offsetof(InstanceFuncs, save), sizeof(void *), "save", true},
    {offsetof(InstanceFuncs, describe), sizeof(void *), "describe", false},
};
const Entry kItemEntries[] = {
    {offsetof(ItemFuncs, useItems), sizeof(void *), "useItems", true},
    {offsetof(ItemFuncs, changeId), sizeof(void *), "changeId", true},
};
const Entry kRenderEntries[] = {
    {offsetof(RenderFuncs, init), sizeof(void *), "init", true},
    {offsetof(RenderFuncs, cleanup), sizeof(void *), "cleanup", true},
    {offsetof(RenderFuncs, newTime), sizeof(void *), "newTime", true},
};
const Entry kInterfaceEntries[] = {
    {offsetof(InterfaceRecord, inst), sizeof(void *), "inst", false},
    {offsetof(InterfaceRecord, panel), sizeof(PanelId), "panel", true},
    {offsetof(InterfaceRecord, options), sizeof(void *), "options", true},
    {offsetof(InterfaceRecord, command), sizeof(void *), "command", true},
};

// Names the first entry of a record, or the host's memory past it, that
// differs from what the host handed over, leaving out the module's own
// entries when it may write them; empty when there is none.
template <typename Record>
std::string firstWritten(const char *name, const Guarded<Record> &given,
                         const Guarded<Record> &found, std::span<const Entry> entries,
                         bool moduleMayWrite) {
  const auto *before = reinterpret_cast<const unsigned char *>(&given.record);
  const auto *after = reinterpret_cast<const unsigned char *>(&found.record);
  for (const Entry &entry : entries) {
    if (moduleMayWrite && entry.module) continue;
    if (std::memcmp(before + entry.offset, after + entry.offset, entry.size) != 0) {
      return std::string("the ") + name + "'s " + entry.name;
    }
  }
  if (given.after != found.after) return std::string("the host's memory past the ") + name;
  return {};
}

// A handler record and its three tables, every entry the host's until the
// module writes it; the record points at the tables the host offers.
struct HandlerLayout {
  Guarded<NodeHandler> handler;
  Guarded<InstanceFuncs> instance;
  Guarded<ItemFuncs> items;
  Guarded<RenderFuncs> render;
};

void prefill(HandlerLayout &layout, bool itemTable, bool renderTable) {
  std::memset(&layout, kHostByte, sizeof layout);
  layout.handler.record.inst = &layout.instance.record;
  layout.handler.record.item = itemTable ? &layout.items.record : nullptr;
  layout.handler.record.rend = renderTable ? &layout.render.record : nullptr;
}

struct HandlerCase {
  const char *what;
  int version;
  bool itemTable;
  bool renderTable;
  int result;  // a host offering every service but "NodeFuncs" gets 2 for each
};

const HandlerCase kHandlerCases[] = {
    {"version 1", 1, true, true, ACTIVATE_BAD_VERSION},
    {"version 4", 4, true, true, ACTIVATE_BAD_VERSION},
    {"version 2", NODE_HANDLER_VERSION_PREVIOUS, true, true, ACTIVATE_OK},
    {"version 3", NODE_HANDLER_VERSION, true, true, ACTIVATE_OK},
    {"version 3 without an item table", NODE_HANDLER_VERSION, false, true, ACTIVATE_OK},
    {"version 3 without a render table", NODE_HANDLER_VERSION, true, false, ACTIVATE_OK},
    {"version 3 with neither table", NODE_HANDLER_VERSION, false, false, ACTIVATE_OK},
};

struct InterfaceCase {
  const char *what;
  int version;
  bool instance;
  int result;  // a host offering no panel service gets 2 for each version 4
};

const InterfaceCase kInterfaceCases[] = {
    {"version 3", 3, true, ACTIVATE_BAD_VERSION},
    {"version 5", 5, true, ACTIVATE_BAD_VERSION},
    {"version 4", NODE_INTERFACE_VERSION, true, ACTIVATE_OK},
    {"version 4 for no instance", NODE_INTERFACE_VERSION, false, ACTIVATE_OK},
};

void expectResult(const std::string &which, int result, int expected) {
  if (result != expected) {
    fail("expected " + which + " to give " + std::to_string(expected) + ", but it gave " +
         std::to_string(result));
  }
}

void expectUnwritten(const std::string &which, const std::string &written) {
  if (!written.empty()) {
    fail("expected " + which + " to leave " + written + " as the host gave it, but it wrote there");
  }
}

// The module's server of that class and name, as descriptor/servers
// expects to find it.
const ServerRecord &serverOf(const Host &host, const char *className, const char *node) {
  const ServerRecord *server = host.module().findServer(className, node);
  if (server == nullptr || server->activate == nullptr) {
    fail(std::string("expected a ") + className + " server named " + node +
         " with an activate routine, but the module has none");
  }
  return *server;
}

void checkHandlerRecords(const std::string &modulePath, const char *node, bool nodeFuncs) {
  const auto host = openHost(modulePath);
  if (!nodeFuncs) host->setServiceAvailable(Service::NodeFuncs, false);
  const ServerRecord &server = serverOf(*host, SERVER_CLASS_NODE_HANDLER, node);
  for (const HandlerCase &c : kHandlerCases) {
    const std::string which = std::string(node) + ": handler activation with " + c.what +
                              (nodeFuncs ? "" : " in a host without the node functions");
    HandlerLayout layout;
    prefill(layout, c.itemTable, c.renderTable);
    const HandlerLayout given = layout;
    const int result = server.activate(c.version, host->global(), &layout.handler.record, nullptr);
    const int expected =
        nodeFuncs || c.result == ACTIVATE_BAD_VERSION ? c.result : ACTIVATE_MISSING_SERVICE;
    expectResult(which, result, expected);
    const bool wrote = result == ACTIVATE_OK;
    expectUnwritten(which, firstWritten("NodeHandler record", given.handler, layout.handler,
                                        kHandlerEntries, wrote));
    expectUnwritten(which, firstWritten("instance table", given.instance, layout.instance,
                                        kInstanceEntries, wrote));
    expectUnwritten(which, firstWritten("item table", given.items, layout.items, kItemEntries,
                                        wrote && c.itemTable));
    expectUnwritten(which, firstWritten("render table", given.render, layout.render, kRenderEntries,
                                        wrote && c.renderTable));
  }
}

void checkInterfaceRecords(const std::string &modulePath, const char *node, bool panels) {
  const auto host = openHost(modulePath);
  host->setServiceAvailable(Service::Panel2, panels);
  host->setServiceAvailable(Service::Panel, panels);
  const Node &placed = placeNode(*host, node);
  const ServerRecord &server = serverOf(*host, SERVER_CLASS_NODE_INTERFACE, node);
  for (const InterfaceCase &c : kInterfaceCases) {
    const std::string which = std::string(node) + ": interface activation with " + c.what +
                              (panels ? "" : " in a host without panels");
    Guarded<InterfaceRecord> record;
    std::memset(&record, kHostByte, sizeof record);
    record.record.inst = c.instance ? placed.instance() : nullptr;
    const Guarded<InterfaceRecord> given = record;
    const int result = server.activate(c.version, host->global(), &record.record, nullptr);
    const int expected =
        panels || c.result == ACTIVATE_BAD_VERSION ? c.result : ACTIVATE_MISSING_SERVICE;
    expectResult(which, result, expected);
    expectUnwritten(which, firstWritten("interface record", given, record, kInterfaceEntries,
                                        result == ACTIVATE_OK));
  }
}

}  // namespace

// A host lays its records out as it likes and keeps its own entries in
// them; an activation writes only the entries its result calls for.
void checkUnwrittenEntries(const std::string &modulePath) {
  for (const char *node : kNodes) {
    for (const bool offered : {true, false}) {
      checkHandlerRecords(modulePath, node, offered);
      checkInterfaceRecords(modulePath, node, offered);
    }
  }
}

}  // namespace kerrowbend_host
