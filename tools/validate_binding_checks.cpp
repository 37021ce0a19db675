// The checks of the module as a whole: file/* (what the file exports),
// descriptor/* (its server list and each server's tags), activation/*
// (handler and interface activation for every version, and without the
// services they need) and instance/* (instances created and destroyed).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "hostsim/file_checks.h"
#include "tools/validate_check_groups.h"
#include "tools/validate_support.h"

namespace kerrowbend_host {

using hostsim::Service;

// ---- the file ------------------------------------------------------------------

void checkExports(const std::string &modulePath) {
  std::vector<std::string> exported;
  try {
    exported = hostsim::exportedSymbols(modulePath);
  } catch (const std::runtime_error &problem) {
    fail(std::string("expected to read the module's dynamic symbol table, but ") + problem.what());
  }
  // Every shared library gets these from the linker and the C runtime,
  // whatever its version script says.
  static const std::set<std::string> kRuntime = {"_init", "_fini", "_edata", "_end", "__bss_start"};
  std::vector<std::string> ours;
  for (const std::string &name : exported) {
    if (kRuntime.count(name) == 0) ours.push_back(name);
  }
  if (ours != std::vector<std::string>{"_mod_descrip"}) {
    fail("expected the module to export exactly one symbol, _mod_descrip, but it exports " +
         joined(ours));
  }
}

// ---- descriptor -------------------------------------------------------------

namespace {

constexpr uint32_t kTagDisplayName = 0;
constexpr uint32_t kTagNodeGroup = 0x70000;

std::string serverName(const ServerRecord &server) {
  return std::string(server.className != nullptr ? server.className : "(null)") + " " +
         (server.name != nullptr ? shown(server.name) : "(null)");
}

}  // namespace

void checkServers(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  const auto &servers = host->module().servers();
  std::vector<std::string> listed;
  listed.reserve(servers.size());
  for (const ServerRecord *server : servers) listed.push_back(serverName(*server));
  for (const char *node : kNodes) {
    for (const char *kind : {"NodeHandler", "NodeInterface"}) {
      const auto count = std::count_if(servers.begin(), servers.end(), [&](const auto *server) {
        return server->className != nullptr && server->name != nullptr &&
               std::strcmp(server->className, kind) == 0 && std::strcmp(server->name, node) == 0;
      });
      if (count != 1) {
        fail("expected one " + std::string(kind) + " server " + shown(node) +
             ", but the server list holds " + std::to_string(count) + ": " + joined(listed));
      }
    }
  }
  if (servers.size() != 2 * kNodes.size()) {
    fail(
        "expected the server list to hold a handler and an interface for each of the two "
        "nodes and nothing else, but it holds " +
        joined(listed));
  }
  for (const ServerRecord *server : servers) {
    if (server->activate == nullptr) {
      fail("expected every server to have an activate routine, but " + serverName(*server) +
           " has none");
    }
  }
}

void checkTags(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  for (const ServerRecord *server : host->module().servers()) {
    if (server->name == nullptr) continue;  // descriptor/servers reports it
    const std::vector<std::pair<std::string, uint32_t>> expected = {{server->name, kTagDisplayName},
                                                                    {"/Tools", kTagNodeGroup}};
    std::vector<std::pair<std::string, uint32_t>> tags;
    std::string listed;
    for (const ServerTagInfo *tag = server->tagInfo;
         tag != nullptr && (tag->string != nullptr || tag->tag != 0); ++tag) {
      tags.emplace_back(tag->string != nullptr ? tag->string : "(null)", tag->tag);
      listed += (listed.empty() ? "" : ", ") + shown(tags.back().first) + " " + hex(tag->tag);
    }
    if (tags != expected) {
      fail("expected " + serverName(*server) + " to carry the tags " + shown(server->name) + " " +
           hex(kTagDisplayName) + ", \"/Tools\" " + hex(kTagNodeGroup) + ", but it carries " +
           (listed.empty() ? "none" : listed));
    }
  }
}

// ---- activation -------------------------------------------------------------

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
      if (result != 1) {
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
    for (const int version : {2, 3}) {
      const std::string which =
          std::string(node) + ": handler activation with version " + std::to_string(version);
      const int result = host->activateHandler(node, version, options);
      if (result != 0) {
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
      if (result != 1) {
        fail(name + ": expected interface activation with version " + std::to_string(version) +
             " to give 1, but it gave " + std::to_string(result));
      }
      if (record.panel != earlierPanel || record.options != hostOptions ||
          !host->panels().panels().empty()) {
        fail(name + ": expected interface activation with version " + std::to_string(version) +
             " to leave the record and the panel service alone, but it used them");
      }
    }
    const int withoutRecord = host->activateInterface(node, 4, nullptr);
    if (withoutRecord != 3) {
      fail(name + ": expected interface activation with no record to give 3, but it gave " +
           std::to_string(withoutRecord));
    }
    InterfaceRecord record{placed.instance(), earlierPanel, hostOptions, nullptr};
    const int opened = host->activateInterface(node, 4, &record);
    if (opened != 0 || record.panel == nullptr || host->panels().find(record.panel) == nullptr ||
        record.options != nullptr || record.command != nullptr) {
      fail(name + ": expected interface activation with version 4 to give 0, a panel the host " +
           "made and no options or command, but it gave " + std::to_string(opened) +
           (record.panel == nullptr ? " and no panel" : ""));
    }
    InterfaceRecord again{placed.instance(), nullptr, nullptr, nullptr};
    host->activateInterface(node, 4, &again);
    if (again.panel != record.panel || host->panels().panels().size() != 1) {
      fail(name + ": expected a second interface activation for the same instance to hand back " +
           "its panel, but it made another");
    }
    InterfaceRecord noInstance{nullptr, earlierPanel, hostOptions, nullptr};
    const int empty = host->activateInterface(node, 4, &noInstance);
    if (empty != 0 || noInstance.panel != nullptr) {
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
    {"the node functions", {Service::NodeFuncs}, 2},
    {"the node input functions", {Service::NodeInputFuncs3, Service::NodeInputFuncs2}, 2},
    {"the node output functions", {Service::NodeOutputFuncs2, Service::NodeOutputFuncs}, 2},
    {"item info, scene objects, object info and panels",
     {Service::ItemInfo6, Service::ItemInfo5, Service::SceneObjects7, Service::SceneObjects6,
      Service::ObjectInfo9, Service::ObjectInfo8, Service::ObjectInfo7, Service::Panel2,
      Service::Panel},
     0},
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
      const int result = host->activateInterface(node, 4, &record);
      if (result != 2) {
        fail(name + ": expected interface activation before any handler activation to give 2, " +
             "but it gave " + std::to_string(result));
      }
    }
    const auto host = openHost(modulePath);
    host->setServiceAvailable(Service::Panel2, false);
    host->setServiceAvailable(Service::Panel, false);
    InterfaceRecord record{placeNode(*host, node).instance(), nullptr, nullptr, nullptr};
    const int result = host->activateInterface(node, 4, &record);
    if (result != 2) {
      fail(name + ": expected interface activation in a host without panels to give 2, but it " +
           "gave " + std::to_string(result));
    }
  }
}

// ---- instances ----------------------------------------------------------------

namespace {

struct Connector {
  std::string name;
  int type;
  bool operator==(const Connector &) const = default;
};

std::vector<Connector> madeInputs(const std::string &server) {
  if (server == kSingle) {
    return {{kReferenceInput, CONNECTION_VECTOR}, {kWeightInput, CONNECTION_SCALAR}};
  }
  return {{stageReferenceInput(1), CONNECTION_VECTOR}, {stageWeightInput(1), CONNECTION_SCALAR}};
}

std::string listed(const std::vector<Connector> &connectors) {
  std::vector<std::string> names;
  names.reserve(connectors.size());
  for (const Connector &c : connectors) names.push_back(c.name + " " + std::to_string(c.type));
  return joined(names);
}

}  // namespace

void checkCreateDestroyMany(const std::string &modulePath) {
  constexpr int kRounds = 3;
  constexpr int kNodesPerRound = 100;
  for (const char *server : kNodes) {
    const std::string name = server;
    const auto host = openHost(modulePath);
    for (int round = 0; round < kRounds; ++round) {
      std::vector<Node *> placed;
      std::set<void *> instances;
      for (int i = 0; i < kNodesPerRound; ++i) {
        Node &node = placeNode(*host, server);
        if (!instances.insert(node.instance()).second) {
          fail(name + ": expected every live node to have an instance of its own, but create " +
               "gave one twice");
        }
        std::vector<Connector> inputs;
        std::vector<Connector> outputs;
        for (const auto &input : node.inputs()) {
          inputs.push_back({input->name(), input->connectionType()});
        }
        for (const auto &output : node.outputs()) {
          outputs.push_back({output->name(), output->connectionType()});
        }
        const std::vector<Connector> expectedOutputs = {{kOutput, CONNECTION_VECTOR}};
        if (inputs != madeInputs(server) || outputs != expectedOutputs) {
          fail(name + ": expected create to make the inputs " + listed(madeInputs(server)) +
               " and the output " + listed(expectedOutputs) + ", but it made " + listed(inputs) +
               " and " + listed(outputs));
        }
        if (i % 2 == 0) openPanel(*host, node);
        placed.push_back(&node);
      }
      // Not in the order of creation, as a user deletes nodes.
      for (std::size_t i = 1; i < placed.size(); i += 2) placed[i]->destroy();
      for (std::size_t i = placed.size(); i-- > 0;) placed[i]->destroy();
    }
    expectPanelsGone(*host, name + ": ");
  }
}

}  // namespace kerrowbend_host
