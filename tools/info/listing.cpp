// kerrowbend-host info [MODULE]: what a host sees when it loads the module,
// and what each of its nodes makes when placed, with the values a new node
// starts with. The child that runs the module's code gathers it all as one
// JSON document; --json prints that document, and the listing is written
// from it, so the two forms cannot tell different stories.
#include <cstdio>
#include <exception>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostsim/format.h"
#include "hostsim/host.h"
#include "tools/cli/command_line.h"
#include "tools/cli/commands.h"
#include "tools/process/child_run.h"
#include "tools/process/module_location.h"

namespace kerrowbend_host {

namespace {

// Keys stay in the order they are written, which is the listing's order.
using Json = nlohmann::ordered_json;

// A tag list longer than this is taken to have lost its closing entry.
constexpr int kMaxTags = 4096;

using hostsim::hex;

Json text(const char *value) { return value != nullptr ? Json(value) : Json(nullptr); }

const char *connectionName(int type) {
  switch (type) {
    case CONNECTION_SCALAR:
      return "scalar";
    case CONNECTION_VECTOR:
      return "vector";
    default:
      return "other";
  }
}

Json serverEntry(const ServerRecord &server) {
  Json entry = {{"class", text(server.className)},
                {"name", text(server.name)},
                {"activate", server.activate != nullptr},
                {"tags", nullptr},
                {"tagsClosed", true}};
  if (server.tagInfo == nullptr) return entry;
  entry["tags"] = Json::array();
  int count = 0;
  for (const ServerTagInfo *tag = server.tagInfo; tag->string != nullptr || tag->tag != 0; ++tag) {
    if (++count > kMaxTags) {
      entry["tagsClosed"] = false;
      break;
    }
    entry["tags"].push_back({{"tag", hex(tag->tag)}, {"text", text(tag->string)}});
  }
  return entry;
}

// What a new node's panel shows for the value: a number for an integer, a
// text for a string; null when the panel reads nothing.
Json startingValue(const hostsim::PanelRecord &panel, const PanelDataDesc &data) {
  const std::string type = data.dataType != nullptr ? data.dataType : "";
  if (type == "integer") {
    const auto value = panel.intValue(data.vid);
    return value ? Json(*value) : Json(nullptr);
  }
  if (type == "string") {
    const auto value = panel.stringValue(data.vid);
    return value ? Json(*value) : Json(nullptr);
  }
  return nullptr;
}

// Places one node of the handler server in a fresh host, as a user would,
// opens its panel, and says what the node made and what its panel shows.
Json nodeEntry(const std::string &modulePath, const std::string &server) {
  tellParent("placing the " + server + " node");
  hostsim::Host host(modulePath);
  Json node = {{"name", server}};
  const int activated = host.activateHandler(server);
  if (activated != ACTIVATE_OK) {
    node["handlerActivation"] = activated;
    return node;
  }
  hostsim::Node &placed = host.createNode(server, server + " (1)");
  if (placed.instance() == nullptr) {
    node["createError"] = placed.createError();
    return node;
  }
  node["inputs"] = Json::array();
  for (const auto &input : placed.inputs()) {
    node["inputs"].push_back({{"name", input->name()},
                              {"type", connectionName(input->connectionType())},
                              {"connected", input->connected()}});
  }
  node["outputs"] = Json::array();
  for (const auto &output : placed.outputs()) {
    node["outputs"].push_back(
        {{"name", output->name()}, {"type", connectionName(output->connectionType())}});
  }
  node["panel"] = nullptr;
  if (host.module().findServer(SERVER_CLASS_NODE_INTERFACE, server) == nullptr) return node;
  tellParent("opening the " + server + " node's panel");
  InterfaceRecord record{placed.instance(), nullptr, nullptr, nullptr};
  const int opened = host.activateInterface(server, NODE_INTERFACE_VERSION, &record);
  const hostsim::PanelRecord *panel = host.panels().find(record.panel);
  if (opened != ACTIVATE_OK || panel == nullptr) {
    node["interfaceActivation"] = opened;
    return node;
  }
  node["panel"] = Json::array();
  for (const PanelControl *control = panel->controls; control != nullptr && control->cid != 0;
       ++control) {
    Json entry = {{"id", hex(control->cid)},
                  {"label", text(control->label)},
                  {"class", text(control->ctrlClass)},
                  {"value", nullptr}};
    if (const PanelDataDesc *data = panel->dataEntry(control->cid)) {
      entry["value"] = {{"name", text(data->name)},
                        {"type", text(data->dataType)},
                        {"starts", startingValue(*panel, *data)}};
    }
    node["panel"].push_back(entry);
  }
  return node;
}

// In the child: everything info says, as one document.
Json describeModule(const std::string &modulePath) {
  Json document;
  std::vector<std::string> nodes;
  {
    tellParent("loading the module");
    hostsim::Host host(modulePath);
    const hostsim::ModuleFile &module = host.module();
    const ModuleDescriptor &descriptor = module.descriptor();
    char handle[32];
    std::snprintf(handle, sizeof handle, "%p", module.startupHandle());
    document = {{"module", module.path()},
                {"syncCode", hex(descriptor.sysSync)},
                {"version", hex(descriptor.sysVersion)},
                {"machineCode", hex(descriptor.sysMachine)},
                {"startupHandle", handle},
                {"servers", Json::array()}};
    for (const ServerRecord *server : module.servers()) {
      document["servers"].push_back(serverEntry(*server));
      if (server->className != nullptr && server->name != nullptr &&
          std::string(server->className) == SERVER_CLASS_NODE_HANDLER) {
        nodes.emplace_back(server->name);
      }
    }
  }
  // Each node is placed in a host of its own, as the first thing it sees.
  document["nodes"] = Json::array();
  for (const std::string &node : nodes) document["nodes"].push_back(nodeEntry(modulePath, node));
  return document;
}

std::string quoted(const Json &value) {
  return value.is_string() ? "\"" + value.get<std::string>() + "\"" : "(null)";
}

// A starting value as the panel shows it: a check box on or off, a number,
// or a text.
std::string shown(const Json &control) {
  const Json &starts = control["value"]["starts"];
  if (starts.is_null()) return "(nothing)";
  if (starts.is_number() && control["class"] == "iBoolean") {
    return starts.get<int>() != 0 ? "on" : "off";
  }
  return starts.is_number() ? std::to_string(starts.get<int>()) : quoted(starts);
}

void printNode(const Json &node, std::ostream &out) {
  out << "node " << quoted(node["name"]) << '\n';
  if (node.contains("handlerActivation")) {
    out << "  handler activation failed with " << node["handlerActivation"].get<int>() << '\n';
    return;
  }
  if (node.contains("createError")) {
    out << "  create failed: " << node["createError"].get<std::string>() << '\n';
    return;
  }
  for (const Json &input : node["inputs"]) {
    out << "  input   " << quoted(input["name"]) << ' ' << input["type"].get<std::string>()
        << (input["connected"].get<bool>() ? "  connected" : "  unplugged") << '\n';
  }
  for (const Json &output : node["outputs"]) {
    out << "  output  " << quoted(output["name"]) << ' ' << output["type"].get<std::string>()
        << '\n';
  }
  if (node.contains("interfaceActivation")) {
    out << "  no panel (interface activation gave " << node["interfaceActivation"].get<int>()
        << ")\n";
    return;
  }
  if (node["panel"].is_null()) return;
  for (const Json &control : node["panel"]) {
    out << "  control " << control["id"].get<std::string>() << ' ' << quoted(control["label"])
        << ' ' << quoted(control["class"]);
    const Json &value = control["value"];
    if (!value.is_null()) {
      out << "  value " << quoted(value["name"]) << ' ' << quoted(value["type"]) << "  starts "
          << shown(control);
    }
    out << '\n';
  }
}

std::string listing(const Json &document) {
  std::ostringstream out;
  out << "module          " << document["module"].get<std::string>() << '\n'
      << "sync code       " << document["syncCode"].get<std::string>() << '\n'
      << "version         " << document["version"].get<std::string>() << '\n'
      << "machine code    " << document["machineCode"].get<std::string>() << '\n'
      << "startup handle  " << document["startupHandle"].get<std::string>() << '\n'
      << "servers         " << document["servers"].size() << '\n';
  for (const Json &server : document["servers"]) {
    out << "  " << (server["class"].is_string() ? server["class"].get<std::string>() : "(null)")
        << ' ' << quoted(server["name"]);
    if (!server["activate"].get<bool>()) out << "  (no activate routine)";
    out << '\n';
    if (server["tags"].is_null()) {
      out << "    no tags\n";
      continue;
    }
    for (const Json &tag : server["tags"]) {
      out << "    tag " << tag["tag"].get<std::string>() << "  " << quoted(tag["text"]) << '\n';
    }
    if (!server["tagsClosed"].get<bool>()) out << "    ... (the tag list has no closing entry)\n";
  }
  for (const Json &node : document["nodes"]) printNode(node, out);
  return out.str();
}

struct InfoRun {
  std::string modulePath;
  double timeLimit = kDefaultTimeLimit;
  bool json = false;
};

int runInfo(InfoRun run) {
  if (run.modulePath.empty()) run.modulePath = defaultModulePath("the MODULE argument");
  ChildOutcome outcome =
      runInChild([&run] { return describeModule(run.modulePath).dump(); }, run.timeLimit);
  const Json document =
      Json::parse(childAnswer(outcome, "'" + run.modulePath + "'", run.timeLimit));
  std::cout << (run.json ? document.dump(2) + '\n' : listing(document));
  return kExitOk;
}

}  // namespace

void addInfoCommand(CLI::App &app, int &exitCode) {
  auto run = std::make_shared<InfoRun>();
  CLI::App *info = app.add_subcommand(
      "info",
      "Load the module and print what a host sees of it, what each node makes and the values "
      "a new node starts with");
  readLeniently(*info);
  info->add_option("MODULE", run->modulePath,
                   "the module file to load (default: " + modulePlaces() + ")")
      ->type_name("");
  info->add_flag("--json", run->json, "print the same as one JSON document");
  addTimeLimitOption(
      *info, run->timeLimit,
      "seconds the module may go without showing progress before it is stopped as hung");
  info->callback(
      [info, run, &exitCode] { exitCode = runCommand(*info, [&run] { return runInfo(*run); }); });
}

}  // namespace kerrowbend_host
