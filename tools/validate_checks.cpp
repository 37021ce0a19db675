// The checks behind `kerrowbend-host validate`. Each places the module's
// nodes in a simulated host of its own and drives them as a host would;
// what it expects is what the host contract promises every host of a
// module file that claims it. The loader has already refused a file whose
// synchronisation code is wrong or whose records do not lie in the module.
#include "tools/validate_checks.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <latch>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "hostsim/blocks.h"
#include "hostsim/host.h"

namespace kerrowbend_host {
namespace {

using hostsim::BlockForm;
using hostsim::Evaluation;
using hostsim::Host;
using hostsim::LoadOptions;
using hostsim::Node;
using hostsim::PanelRecord;
using hostsim::Service;
using hostsim::Vec3;

constexpr const char *kSingle = "Kerrowbend";
constexpr const char *kMulti = "KerrowbendMulti";
constexpr std::array<const char *, 2> kNodes = {kSingle, kMulti};

constexpr uint32_t kTagDisplayName = 0;
constexpr uint32_t kTagNodeGroup = 0x70000;
// A name lives in a field of 260 bytes, its terminating zero included.
constexpr std::size_t kNameField = 260;

// The single node's panel values, and the multi node's one.
constexpr uint32_t kReferenceObjectId = 0x8001;
constexpr uint32_t kInvertId = 0x8002;
constexpr uint32_t kWeightMapId = 0x8003;
constexpr uint32_t kInputSizeId = 0x8001;

// Both ways a host may treat blocks a loader did not ask for.
constexpr std::array<LoadOptions, 2> kHostKinds = {LoadOptions{false}, LoadOptions{true}};
constexpr std::array<BlockForm, 2> kForms = {BlockForm::Binary, BlockForm::Text};

[[noreturn]] void fail(const std::string &sentence) { throw CheckFailure(sentence); }

const char *formName(BlockForm form) { return form == BlockForm::Binary ? "binary" : "text"; }

std::string hex(uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

// A text as a failure sentence shows it: quoted, control bytes escaped, a
// long one cut.
std::string shown(std::string_view text, std::size_t limit = 40) {
  std::string out = "\"";
  for (const char c : text.substr(0, limit)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  out += '"';
  if (text.size() > limit) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

std::string shown(const Vec3 &v) {
  char text[96];
  std::snprintf(text, sizeof text, "(%.9g, %.9g, %.9g)", v[0], v[1], v[2]);
  return text;
}

std::string joined(const std::vector<std::string> &names) {
  if (names.empty()) return "none";
  std::string out;
  for (const std::string &name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

// Where two saves part, for a failure sentence.
std::string firstDifference(const std::string &first, const std::string &second) {
  const auto at = static_cast<std::size_t>(
      std::mismatch(first.begin(), first.end(), second.begin(), second.end()).first -
      first.begin());
  return "the first save has " + shown(first.substr(at), 24) + " from byte " + std::to_string(at) +
         " and the second " + shown(second.substr(at), 24);
}

// A name of length characters that shows where it was cut: "ABC...Z" over
// and over.
std::string patternName(std::size_t length) {
  std::string name(length, ' ');
  for (std::size_t i = 0; i < length; ++i) name[i] = static_cast<char>('A' + i % 26);
  return name;
}

// ---- hosts, nodes and panels ----------------------------------------------

// A host of its own with the module loaded. Its call log stays silent:
// checks make many thousands of calls, some from several threads at once.
std::unique_ptr<Host> openHost(const std::string &modulePath) {
  auto host = std::make_unique<Host>(modulePath);
  host->log().setRecording(false);
  return host;
}

// Places a node of the server, activating its handler first if this host
// has not yet.
Node &placeNode(Host &host, const std::string &server) {
  if (host.handler(server) == nullptr) {
    const int result = host.activateHandler(server);
    if (result != 0) {
      fail(server + ": expected handler activation (version 3) to give 0, but it gave " +
           std::to_string(result));
    }
  }
  Node &node =
      host.createNode(server, server + " (" + std::to_string(host.nodes().size() + 1) + ")");
  if (node.instance() == nullptr) {
    fail(server + ": expected create to give an instance, but it gave none" +
         (node.createErrorSet() ? " and the error " + shown(node.createError()) : ""));
  }
  return node;
}

// Opens the node's panel as a host does when the user opens it.
const PanelRecord &openPanel(Host &host, const Node &node) {
  InterfaceRecord record{node.instance(), nullptr, nullptr, nullptr};
  const int result = host.activateInterface(node.server(), 4, &record);
  const PanelRecord *panel = record.panel != nullptr ? host.panels().find(record.panel) : nullptr;
  if (result != 0 || panel == nullptr) {
    fail(node.server() + ": expected interface activation (version 4) to give 0 and a panel, " +
         "but it gave " + std::to_string(result) +
         (record.panel == nullptr ? " and no panel" : " and a panel the host never made"));
  }
  return *panel;
}

// Settings other than a new node's, made in the panel as a user would.
void configure(const Node &node, const PanelRecord &panel) {
  if (node.server() == kSingle) {
    panel.setString(kReferenceObjectId, "Pointer");
    panel.setInt(kInvertId, 0);
    panel.setString(kWeightMapId, "Gradient");
  } else {
    panel.editInt(kInputSizeId, 3);
  }
}

// The multi node's inputs for stages 1..count, in the order it makes them.
std::vector<std::string> stageInputs(int count) {
  std::vector<std::string> names;
  for (int k = 1; k <= count; ++k) {
    names.push_back("Reference Normal " + std::to_string(k));
    names.push_back("Weight " + std::to_string(k));
  }
  return names;
}

// "" when the node's live inputs are exactly the whole stages 1..count, each
// with the right connection types; else what the node has instead.
std::string stageProblem(const Node &node, int count) {
  const std::vector<std::string> expected = stageInputs(count);
  const std::vector<std::string> names = node.inputNames();
  if (names != expected) {
    return "expected the inputs " + joined(expected) + ", but the node has " + joined(names);
  }
  for (const std::string &name : names) {
    const int wanted = name.starts_with("Weight") ? CONNECTION_SCALAR : CONNECTION_VECTOR;
    if (node.input(name)->connectionType() != wanted) {
      return "expected input " + shown(name) + " of connection type " + std::to_string(wanted) +
             ", but it has " + std::to_string(node.input(name)->connectionType());
    }
  }
  return "";
}

// Fails with context followed by problem, unless problem is "".
void failOnProblem(const std::string &context, const std::string &problem) {
  if (!problem.empty()) fail(context + problem);
}

// ---- scene data -------------------------------------------------------------

std::string saveChecked(Node &node, BlockForm form) {
  hostsim::SaveReport report;
  std::string data = node.save(form, &report);
  if (report.error != nullptr) {
    fail(node.server() + ": expected save to report no error, but it reported " +
         shown(report.error));
  }
  if (!report.problems.empty()) {
    fail(node.server() +
         ": expected save to open and close its blocks in pairs, but the host met: " +
         report.problems.front());
  }
  return data;
}

void loadChecked(Node &node, BlockForm form, const std::string &data, const LoadOptions &options) {
  hostsim::LoadReport report;
  const Error error = node.load(form, data, options, &report);
  if (error != nullptr) {
    fail(node.server() + ": expected loading its own " + formName(form) +
         " save to report no error, but it reported " + shown(error));
  }
  if (!report.problems.empty()) {
    fail(node.server() + ": expected loading its own " + formName(form) +
         " save to follow the block protocol, but the host met: " + report.problems.front());
  }
}

// ---- descriptor -------------------------------------------------------------

std::string serverName(const ServerRecord &server) {
  return std::string(server.className != nullptr ? server.className : "(null)") + " " +
         (server.name != nullptr ? shown(server.name) : "(null)");
}

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

struct Connector {
  std::string name;
  int type;
  bool operator==(const Connector &) const = default;
};

std::vector<Connector> madeInputs(const std::string &server) {
  if (server == kSingle) {
    return {{"Reference Normal", CONNECTION_VECTOR}, {"Weight", CONNECTION_SCALAR}};
  }
  return {{"Reference Normal 1", CONNECTION_VECTOR}, {"Weight 1", CONNECTION_SCALAR}};
}

std::string listed(const std::vector<Connector> &connectors) {
  std::vector<std::string> names;
  names.reserve(connectors.size());
  for (const Connector &c : connectors) names.push_back(c.name + " " + std::to_string(c.type));
  return joined(names);
}

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
        const std::vector<Connector> expectedOutputs = {{"World Normal", CONNECTION_VECTOR}};
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
    const auto &panels = host->panels().panels();
    const auto left = std::count_if(panels.begin(), panels.end(),
                                    [](const auto &panel) { return !panel->destroyed; });
    if (left != 0) {
      fail(name + ": expected destroying an instance to destroy its panel, but " +
           std::to_string(left) + " of " + std::to_string(panels.size()) + " panels were left");
    }
    if (host->panels().strayCalls() != 0) {
      fail(name + ": expected calls to the panel service only for panels that exist, but " +
           std::to_string(host->panels().strayCalls()) + " were for others");
    }
  }
}

void checkCopy(const std::string &modulePath) {
  for (const char *server : kNodes) {
    const std::string name = server;
    const auto host = openHost(modulePath);
    Node &source = placeNode(*host, server);
    configure(source, openPanel(*host, source));
    Node &copy = placeNode(*host, server);
    const Error error = copy.copyFrom(source);
    if (error != nullptr) {
      fail(name + ": expected copy to report no error, but it reported " + shown(error));
    }
    const std::string original = saveChecked(source, BlockForm::Binary);
    const std::string copied = saveChecked(copy, BlockForm::Binary);
    if (copied != original) {
      fail(name + ": expected a copy to save what its source saves, but " +
           firstDifference(original, copied));
    }
    if (name == kMulti) {
      failOnProblem(name + ": after copying a node of 3 stages, ", stageProblem(copy, 3));
    }
  }
}

// ---- state ----------------------------------------------------------------

void checkSaveLoadSave(const std::string &modulePath, BlockForm form) {
  for (const char *server : kNodes) {
    for (const bool changed : {false, true}) {
      for (const LoadOptions &options : kHostKinds) {
        const std::string name =
            std::string(server) + (changed ? " (settings changed in its panel)" : " (as created)");
        const auto host = openHost(modulePath);
        Node &first = placeNode(*host, server);
        if (changed) configure(first, openPanel(*host, first));
        const std::string saved = saveChecked(first, form);
        Node &fresh = placeNode(*host, server);
        loadChecked(fresh, form, saved, options);
        const std::string again = saveChecked(fresh, form);
        if (again != saved) {
          fail(name + ": expected a fresh instance loaded from its " + formName(form) +
               " save to save the same bytes, but " + firstDifference(saved, again));
        }
        if (changed && std::string(server) == kMulti) {
          failOnProblem(name + ": after loading a count of 3, ", stageProblem(fresh, 3));
        }
      }
    }
  }
}

void checkSaveLoadSaveBinary(const std::string &modulePath) {
  checkSaveLoadSave(modulePath, BlockForm::Binary);
}

void checkSaveLoadSaveText(const std::string &modulePath) {
  checkSaveLoadSave(modulePath, BlockForm::Text);
}

// The blocks a node keeps, to aim damaged data at its loader.
struct KnownBlock {
  BlockId id;
  const char *token;
  bool integer;  // one 32-bit integer; else a string
};

std::vector<KnownBlock> knownBlocks(const std::string &server) {
  if (server == kSingle) {
    return {{hostsim::blockId("ROBJ"), "Object", false},
            {hostsim::blockId("INVT"), "Invert", true},
            {hostsim::blockId("WMAP"), "WeightMap", false}};
  }
  return {{hostsim::blockId("INUM"), "Num", true}};
}

// Integers a damaged file may hold. The stage count has no bound, so a
// large positive one would only measure how long the node takes to make
// that many stages; the damage lies elsewhere.
constexpr std::array<int32_t, 7> kSmallIntegers = {0, 1, -1, 2, 7, -7, INT32_MIN};

void appendBigEndian(std::string &out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

// Binary data built like blocks but with lengths, payloads and
// identifiers gone wrong.
std::string randomBinaryBlocks(std::mt19937 &random, const std::vector<KnownBlock> &known) {
  std::string out;
  const int blocks = static_cast<int>(random() % 4) + 1;
  for (int b = 0; b < blocks; ++b) {
    const bool aimed = random() % 4 != 0;
    const KnownBlock &block = known[random() % known.size()];
    appendBigEndian(out, aimed ? block.id : static_cast<uint32_t>(random()));
    std::string payload;
    if (aimed && block.integer) {
      for (int i = static_cast<int>(random() % 3); i > 0; --i) {
        appendBigEndian(payload,
                        static_cast<uint32_t>(kSmallIntegers[random() % kSmallIntegers.size()]));
      }
      if (!payload.empty() && random() % 3 == 0) payload.resize(payload.size() - 1 - random() % 3);
    } else {
      payload.resize(random() % 48);
      for (char &c : payload) c = static_cast<char>(random() % 3 == 0 ? 0 : random());
    }
    const uint32_t length = static_cast<uint32_t>(payload.size());
    // Only the last block's length may overreach: an earlier one would take
    // in the next block's header, whose bytes read as an integer are no
    // small number.
    const bool last = b + 1 == blocks;
    switch (random() % 5) {
      case 0:
        appendBigEndian(out, last ? length + 1 + random() % 64 : length);  // runs past the data
        break;
      case 1:
        appendBigEndian(out, last ? 0xFFFFFFF0u : length);
        break;
      default:
        appendBigEndian(out, length);
    }
    out += payload;
  }
  if (random() % 3 == 0) out.resize(random() % (out.size() + 1));
  return out;
}

// Text made of the form's own pieces, in an order no writer produces.
std::string randomTextBlocks(std::mt19937 &random, const std::vector<KnownBlock> &known) {
  static const char *const kPieces[] = {"{",  "}",    "\"",       "\"name\"", "\"cut",
                                        "\\", "\\x4", "Unknown",  "\n",       "\n",
                                        " ",  "\t",   "\"\\\"\"", "\r"};
  std::string out;
  const int pieces = static_cast<int>(random() % 24) + 1;
  for (int i = 0; i < pieces; ++i) {
    switch (random() % 4) {
      case 0:
        out += known[random() % known.size()].token;
        break;
      case 1:
        out += std::to_string(kSmallIntegers[random() % kSmallIntegers.size()]);
        break;
      default:
        out += kPieces[random() % std::size(kPieces)];
    }
    out += random() % 2 == 0 ? " " : "\n";
  }
  return out;
}

// Blocks the node knows, holding the wrong thing: nothing, the other kind
// of value, a block inside them. In the binary form the header of a block
// inside an integer block would read as that integer, a number far beyond
// the small ones damaged data is given here (see kSmallIntegers).
std::vector<std::string> misfilledBlocks(const std::vector<KnownBlock> &known, BlockForm form) {
  std::vector<std::string> cases;
  for (const KnownBlock &block : known) {
    const int variants = block.integer && form == BlockForm::Binary ? 2 : 3;
    for (int variant = 0; variant < variants; ++variant) {
      hostsim::BlockWriter writer(form);
      writer.begin(block.id, block.token, variant != 2);
      if (variant == 1) {
        if (block.integer) {
          // Too short to be read as an integer in the binary form, where
          // any four bytes would be one.
          writer.writeString("no");
        } else {
          writer.writeInt(7);
        }
      } else if (variant == 2) {
        writer.begin(block.id, block.token);
        writer.writeInt(1);
        writer.end();
      }
      writer.end();
      cases.push_back(writer.finish());
    }
  }
  if (form == BlockForm::Binary) {
    // A string block whose string never ends.
    for (const KnownBlock &block : known) {
      if (block.integer) continue;
      std::string data;
      appendBigEndian(data, block.id);
      appendBigEndian(data, 8);
      data += "unending";
      cases.push_back(data);
    }
  }
  return cases;
}

void checkDamagedLoads(const std::string &modulePath) {
  constexpr int kRandomCases = 200;
  for (const char *server : kNodes) {
    const std::vector<KnownBlock> known = knownBlocks(server);
    for (const BlockForm form : kForms) {
      const auto host = openHost(modulePath);
      std::string valid;
      {
        Node &source = placeNode(*host, server);
        configure(source, openPanel(*host, source));
        valid = saveChecked(source, form);
        source.destroy();
      }
      std::vector<std::string> cases = {""};
      for (std::size_t cut = 1; cut < valid.size(); ++cut) cases.push_back(valid.substr(0, cut));
      for (const std::string &misfilled : misfilledBlocks(known, form)) cases.push_back(misfilled);
      std::mt19937 random(20240611);
      for (int i = 0; i < kRandomCases; ++i) {
        cases.push_back(form == BlockForm::Binary ? randomBinaryBlocks(random, known)
                                                  : randomTextBlocks(random, known));
        std::string bytes(random() % 40, '\0');
        for (char &c : bytes) c = static_cast<char>(random());
        cases.push_back(bytes);
      }
      for (const std::string &data : cases) {
        for (const LoadOptions &options : kHostKinds) {
          const std::string which =
              std::string(server) + ", " + formName(form) + " data " + shown(data, 32);
          Node &damaged = placeNode(*host, server);
          damaged.load(form, data, options);
          // What survived must still be the node's own: it saves, and the
          // save reloads to the same.
          const std::string saved = saveChecked(damaged, form);
          Node &reloaded = placeNode(*host, server);
          reloaded.load(form, saved, options);
          const std::string again = saveChecked(reloaded, form);
          if (again != saved) {
            fail(which + ": expected what a damaged load left to save and reload unchanged, " +
                 "but " + firstDifference(saved, again));
          }
          damaged.destroy();
          reloaded.destroy();
        }
      }
    }
  }
}

// The name behind a string value, read as a host's panel reads it but
// never past the field.
std::string readName(const PanelRecord &panel, uint32_t vid, const std::string &who) {
  const auto *field = static_cast<const char *>(panel.valueAddress(vid));
  if (field == nullptr) {
    fail(who + ": expected get to give the address of value " + hex(vid) + ", but it gave none");
  }
  const void *end = std::memchr(field, '\0', kNameField);
  if (end == nullptr) {
    fail(who + ": expected the name of value " + hex(vid) + " to end within its " +
         std::to_string(kNameField) + "-byte field, but no byte of the field is zero");
  }
  return std::string(field, static_cast<const char *>(end));
}

// A name that did not fit may be cut to the field or refused; either way
// what the field holds is the offered name's start or what it held before.
void expectFitted(const std::string &held, const std::string &offered, const std::string &before,
                  const std::string &who) {
  if (offered.size() < kNameField) {
    if (held != offered) {
      fail(who + ": expected the " + std::to_string(offered.size()) +
           "-character name to be kept whole, but the field holds " + shown(held));
    }
  } else if (!offered.starts_with(held) && held != before) {
    fail(who + ": expected a " + std::to_string(offered.size()) +
         "-character name to be cut to fit or refused, but the field holds " + shown(held));
  }
}

constexpr std::array<std::size_t, 3> kLongNames = {kNameField - 1, kNameField, 4096};

void checkLoadedLongNames(const std::string &modulePath) {
  for (const BlockForm form : kForms) {
    for (const std::size_t length : kLongNames) {
      const std::string name = patternName(length);
      const std::string who = std::string(kSingle) + ", " + formName(form) +
                              " data with names of " + std::to_string(length) + " characters";
      hostsim::BlockWriter writer(form);
      writer.begin(hostsim::blockId("ROBJ"), "Object");
      writer.writeString(name);
      writer.end();
      writer.begin(hostsim::blockId("INVT"), "Invert");
      writer.writeInt(1);
      writer.end();
      writer.begin(hostsim::blockId("WMAP"), "WeightMap");
      writer.writeString(name);
      writer.end();
      const auto host = openHost(modulePath);
      Node &node = placeNode(*host, kSingle);
      node.load(form, writer.finish());
      const PanelRecord &panel = openPanel(*host, node);
      for (const uint32_t vid : {kReferenceObjectId, kWeightMapId}) {
        expectFitted(readName(panel, vid, who), name, "", who);
      }
    }
  }
}

// ---- panels -------------------------------------------------------------------

void checkGetSetEveryId(const std::string &modulePath) {
  for (const char *server : kNodes) {
    const std::string name = server;
    const auto host = openHost(modulePath);
    Node &node = placeNode(*host, server);
    const PanelRecord &panel = openPanel(*host, node);
    if (panel.data == nullptr || panel.get == nullptr || panel.set == nullptr) {
      fail(name + ": expected the panel to be described with its values, get and set, but it " +
           "was not");
    }
    uint32_t highest = 0;
    for (const PanelControl *control = panel.controls; control != nullptr && control->cid != 0;
         ++control) {
      if (panel.dataEntry(control->cid) == nullptr) {
        fail(name + ": expected control " + hex(control->cid) + " to show the value of its id, " +
             "but no value has it");
      }
    }
    const std::string unchanged = saveChecked(node, BlockForm::Binary);
    for (const PanelDataDesc *value = panel.data; value->vid != 0; ++value) {
      highest = std::max(highest, value->vid);
      const std::string which = name + " value " + hex(value->vid);
      char offered[8] = "1";  // reads as a short text or as an integer
      if (panel.get(nullptr, value->vid) != nullptr ||
          panel.set(nullptr, value->vid, offered) != 0) {
        fail(which + ": expected get and set for no instance to give none and 0, but they did not");
      }
      panel.set(node.instance(), value->vid, nullptr);
      if (saveChecked(node, BlockForm::Binary) != unchanged) {
        fail(which + ": expected a set with no value to change nothing, but the node saves " +
             "differently");
      }
      if (panel.valueAddress(value->vid) == nullptr) {
        fail(which + ": expected get to give the value's address, but it gave none");
      }
    }
    for (const uint32_t unknown : {0u, 0x8000u, highest + 1, 0xFFFFu, 0xFFFFFFFFu}) {
      int32_t number = 3;
      char text[] = "unknown";
      if (panel.valueAddress(unknown) != nullptr || panel.setValue(unknown, &number) != 0 ||
          panel.setValue(unknown, text) != 0) {
        fail(name + ": expected get and set for the unknown id " + hex(unknown) +
             " to give none and 0, but they did not");
      }
      if (saveChecked(node, BlockForm::Binary) != unchanged) {
        fail(name + ": expected a set for the unknown id " + hex(unknown) +
             " to change nothing, but the node saves differently");
      }
    }
    for (const PanelDataDesc *value = panel.data; value->vid != 0; ++value) {
      const std::string which = name + " value " + hex(value->vid);
      if (std::strcmp(value->dataType, "string") == 0) {
        const std::string offered = "Set " + hex(value->vid);
        const int answer = panel.setString(value->vid, offered);
        const std::string held = panel.stringValue(value->vid).value_or("(none)");
        if (answer != 1 || held != offered) {
          fail(which + ": expected set to store " + shown(offered) + " and answer 1, but it " +
               "answered " + std::to_string(answer) + " and get reads " + shown(held));
        }
      } else {
        const int32_t before = panel.intValue(value->vid).value_or(0);
        const int32_t offered = before == 0 ? 1 : 0;
        const int answer = panel.setInt(value->vid, offered);
        const auto held = panel.intValue(value->vid);
        if (answer != 1 || held != offered) {
          fail(which + ": expected set to store " + std::to_string(offered) + " and answer 1, " +
               "but it answered " + std::to_string(answer) + " and get reads " +
               (held ? std::to_string(*held) : "none"));
        }
      }
    }
  }
}

void checkPanelLongNames(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  for (const char *server : kNodes) {
    Node &node = placeNode(*host, server);
    const PanelRecord &panel = openPanel(*host, node);
    for (const PanelDataDesc *value = panel.data; value != nullptr && value->vid != 0; ++value) {
      if (std::strcmp(value->dataType, "string") != 0) continue;
      for (const std::size_t length : kLongNames) {
        const std::string who = std::string(server) + " value " + hex(value->vid) +
                                " set to a name of " + std::to_string(length) + " characters";
        const std::string before = readName(panel, value->vid, who);
        const std::string offered = patternName(length);
        panel.setString(value->vid, offered);
        const std::string held = readName(panel, value->vid, who);
        expectFitted(held, offered, before, who);
        for (const BlockForm form : kForms) {
          Node &reloaded = placeNode(*host, server);
          reloaded.load(form, saveChecked(node, form));
          const std::string kept = readName(openPanel(*host, reloaded), value->vid, who);
          if (kept != held) {
            fail(who + ": expected a " + formName(form) + " save and load to keep " + shown(held) +
                 ", but it gave " + shown(kept));
          }
          reloaded.destroy();
        }
      }
    }
  }
}

void checkInputSizeEdits(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  Node &node = placeNode(*host, kMulti);
  const PanelRecord &panel = openPanel(*host, node);
  int32_t count = 1;
  for (const int32_t edit : {3, 5, 2, 2, 0, 4, -1, 1, 7, 1, INT32_MIN, 2}) {
    const std::string which = std::string(kMulti) + ": after editing Input Size from " +
                              std::to_string(count) + " to " + std::to_string(edit);
    const hostsim::Input *firstStage = node.input("Reference Normal 1");
    const int answer = panel.editInt(kInputSizeId, edit);
    const auto held = panel.intValue(kInputSizeId);
    if (answer != 1 || held != edit) {
      fail(which + ", expected set to answer 1 and get to read " + std::to_string(edit) +
           ", but set answered " + std::to_string(answer) + " and get reads " +
           (held ? std::to_string(*held) : "none"));
    }
    failOnProblem(which + ", ", stageProblem(node, std::max(edit, 0)));
    if (count >= 1 && edit >= 1 && node.input("Reference Normal 1") != firstStage) {
      fail(which + ", expected stage 1 to keep its inputs and so its connections, but they " +
           "were made anew");
    }
    if (node.output("World Normal") == nullptr) {
      fail(which + ", expected the output World Normal to stay, but it is gone");
    }
    count = edit;
  }
  // Only a changed value resizes; the host's other events about the
  // control pass by.
  panel.setInt(kInputSizeId, 4);
  for (const int event : hostsim::kPanelEventsOtherThanValueChanged) {
    panel.notifyChange(kInputSizeId, kInputSizeId, event);
    const std::string problem = stageProblem(node, count);
    if (!problem.empty()) {
      fail(std::string(kMulti) + ": after setting Input Size to 4 and the panel event " +
           std::to_string(event) + ", " + problem);
    }
  }
  panel.notifyChange(kInputSizeId, kInputSizeId, hostsim::kPanelEventValueChanged);
  const std::string problem = stageProblem(node, 4);
  if (!problem.empty()) {
    fail(std::string(kMulti) + ": after setting Input Size to 4 and the value-change event, " +
         problem);
  }
}

// ---- evaluation -----------------------------------------------------------------

// A scene with something for every source of a reference and a weight: the
// shaded object with a painted weight map, and an object whose forward axis
// can be the reference.
struct EvalScene {
  ItemId shaded;
  std::array<PointId, 4> points;
};

EvalScene buildScene(Host &host) {
  hostsim::SceneObject &sphere = host.scene().addObject("Sphere");
  EvalScene scene{sphere.id(), {}};
  const float paint[4] = {0.0F, 0.25F, 0.75F, 1.0F};
  for (std::size_t i = 0; i < scene.points.size(); ++i) {
    scene.points[i] = sphere.addPoint();
    sphere.setWeight("Gradient", scene.points[i], paint[i]);
  }
  host.scene().addObject("Pointer").setForward({0.2, -0.4, 0.9});
  return scene;
}

// Per-spot sources: moderate values that change from spot to spot.
void referenceFromSpot(const NodalAccess &spot, double *out) {
  out[0] = spot.wNorm[1] + 0.3;
  out[1] = 0.5 - spot.wNorm[0];
  out[2] = 0.8 * spot.wNorm[2] + 0.1;
}

void weightFromSpot(const NodalAccess &spot, double *out) { out[0] = 2.0 * spot.wNorm[2]; }

// One way a user sets a node up.
struct EvalSetup {
  const char *server;
  const char *label;
  void (*apply)(Host &host, Node &node, const PanelRecord &panel);
};

const EvalSetup kEvalSetups[] = {
    {kSingle, "reference object and weight map",
     [](Host &host, Node & /*node*/, const PanelRecord &panel) {
       panel.setString(kReferenceObjectId, "Pointer");
       panel.setString(kWeightMapId, "Gradient");
       host.newTime(0, 0.0);
     }},
    {kSingle, "inputs connected",
     [](Host & /*host*/, Node &node, const PanelRecord &panel) {
       panel.setInt(kInvertId, 0);
       node.connect("Reference Normal", referenceFromSpot);
       node.connect("Weight", weightFromSpot);
     }},
    {kMulti, "three stages connected",
     [](Host & /*host*/, Node &node, const PanelRecord &panel) {
       panel.editInt(kInputSizeId, 3);
       node.connect("Reference Normal 1", Vec3{0.0, 1.0, 0.0});
       node.connect("Weight 1", weightFromSpot);
       node.connect("Reference Normal 2", referenceFromSpot);
       node.connect("Weight 2", 0.5);
       node.connect("Reference Normal 3", Vec3{-3.0, 0.5, 2.0});
       node.connect("Weight 3", -1.5);
     }},
};

// Random unit normals and barycentric weights, then the awkward normals:
// along the axes and along and against a reference.
std::vector<NodalAccess> spots(const EvalScene &scene, int count) {
  std::mt19937 random(7);
  std::normal_distribution<double> gaussian;
  std::uniform_real_distribution<float> share(0.0F, 1.0F);
  std::vector<Vec3> normals = {{0, 0, 1}, {0, 0, -1}, {0, 1, 0}, {0, -1, 0}, {1, 0, 0}};
  const double along = std::sqrt(0.2 * 0.2 + 0.4 * 0.4 + 0.9 * 0.9);
  normals.push_back({0.2 / along, -0.4 / along, 0.9 / along});
  normals.push_back({-0.2 / along, 0.4 / along, -0.9 / along});
  while (static_cast<int>(normals.size()) < count) {
    Vec3 n{gaussian(random), gaussian(random), gaussian(random)};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (length < 1e-6) continue;
    normals.push_back({n[0] / length, n[1] / length, n[2] / length});
  }
  std::vector<NodalAccess> out;
  for (const Vec3 &n : normals) {
    float w[4] = {share(random), share(random), share(random), share(random)};
    const float sum = w[0] + w[1] + w[2] + w[3] + 1e-3F;
    out.push_back(hostsim::makeSpot(
        n, scene.shaded, {scene.points[0], scene.points[1], scene.points[2], scene.points[3]},
        {w[0] / sum, w[1] / sum, w[2] / sum, w[3] / sum}));
  }
  return out;
}

Vec3 normalOf(const NodalAccess &spot) { return {spot.wNorm[0], spot.wNorm[1], spot.wNorm[2]}; }

// Runs body for each setup on a node set up that way in a host of its own.
template <typename Body>
void forEachSetup(const std::string &modulePath, Body body) {
  for (const EvalSetup &setup : kEvalSetups) {
    const auto host = openHost(modulePath);
    const EvalScene scene = buildScene(*host);
    Node &node = placeNode(*host, setup.server);
    setup.apply(*host, node, openPanel(*host, node));
    body(std::string(setup.server) + " (" + setup.label + ")", scene, node);
  }
}

void checkFiniteResults(const std::string &modulePath) {
  forEachSetup(modulePath, [](const std::string &which, const EvalScene &scene, Node &node) {
    for (const NodalAccess &spot : spots(scene, 3000)) {
      const Evaluation result = node.evaluate(spot);
      if (!result.setOnce()) {
        fail(which + ": expected evaluate to set World Normal once, but for the normal " +
             shown(normalOf(spot)) + " it set it " + std::to_string(result.setValueCalls) +
             " times");
      }
      if (!std::isfinite(result.value[0]) || !std::isfinite(result.value[1]) ||
          !std::isfinite(result.value[2])) {
        fail(which + ": expected a finite World Normal, but for the normal " +
             shown(normalOf(spot)) + " it gave " + shown(result.value));
      }
    }
  });
}

// Bit for bit, so that a NaN matches the same NaN.
bool sameEvaluation(const Evaluation &a, const Evaluation &b) {
  if (a.setValueCalls != b.setValueCalls) return false;
  for (std::size_t i = 0; i < a.value.size(); ++i) {
    if (std::bit_cast<uint64_t>(a.value[i]) != std::bit_cast<uint64_t>(b.value[i])) return false;
  }
  return true;
}

void checkThreadsMatchSerial(const std::string &modulePath) {
  constexpr int kThreads = 8;
  forEachSetup(modulePath, [](const std::string &which, const EvalScene &scene, Node &node) {
    const std::vector<NodalAccess> all = spots(scene, 2000);
    std::vector<Evaluation> serial;
    serial.reserve(all.size());
    for (const NodalAccess &spot : all) serial.push_back(node.evaluate(spot));

    std::vector<std::vector<Evaluation>> results(kThreads, std::vector<Evaluation>(all.size()));
    std::vector<std::string> errors(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        try {
          // Each thread starts at a different spot, so that different spots
          // are evaluated at the same moment.
          for (std::size_t i = 0; i < all.size(); ++i) {
            const std::size_t at = (i + t * all.size() / kThreads) % all.size();
            results[t][at] = node.evaluate(all[at]);
          }
        } catch (const std::exception &error) {
          errors[t] = error.what();
        }
      });
    }
    for (std::thread &thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
      if (!errors[t].empty()) {
        fail(which + ": thread " + std::to_string(t) + " failed: " + errors[t]);
      }
      for (std::size_t i = 0; i < all.size(); ++i) {
        if (!sameEvaluation(results[t][i], serial[i])) {
          fail(which + ": expected " + std::to_string(kThreads) +
               " threads evaluating at once to give what a serial run gave, but for the normal " +
               shown(normalOf(all[i])) + " thread " + std::to_string(t) + " got " +
               shown(results[t][i].value) + " where the serial run got " + shown(serial[i].value));
        }
      }
    }
  });
}

const ValidateCheck kChecks[] = {
    {"descriptor/servers", checkServers},
    {"descriptor/tags", checkTags},
    {"activation/handler-versions", checkHandlerVersions},
    {"activation/interface-versions", checkInterfaceVersions},
    {"activation/missing-services", checkMissingServices},
    {"instance/create-destroy-many", checkCreateDestroyMany},
    {"instance/copy", checkCopy},
    {"state/save-load-save-binary", checkSaveLoadSaveBinary},
    {"state/save-load-save-text", checkSaveLoadSaveText},
    {"state/damaged-loads", checkDamagedLoads},
    {"state/long-names", checkLoadedLongNames},
    {"panel/get-set-every-id", checkGetSetEveryId},
    {"panel/long-names", checkPanelLongNames},
    {"panel/input-size-edits", checkInputSizeEdits},
    {"eval/finite-results", checkFiniteResults},
    {"eval/threads-match-serial", checkThreadsMatchSerial},
};

}  // namespace

std::span<const ValidateCheck> validateChecks() { return kChecks; }

}  // namespace kerrowbend_host
