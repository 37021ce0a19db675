// kerrowbend-host info <module-file>: what a host sees when it loads the
// module, and what each of its nodes makes when placed.
#include <cstdio>
#include <exception>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "hostsim/format.h"
#include "hostsim/host.h"
#include "tools/cli/command_line.h"
#include "tools/cli/commands.h"
#include "tools/process/child_run.h"

namespace kerrowbend_host {

namespace {

// A tag list longer than this is taken to have lost its closing entry.
constexpr int kMaxTags = 4096;

using hostsim::hex;

std::string quoted(const char *text) {
  return text != nullptr ? "\"" + std::string(text) + "\"" : "(null)";
}

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

void printServer(const ServerRecord &server, std::ostream &out) {
  out << "  " << (server.className != nullptr ? server.className : "(null)") << ' '
      << quoted(server.name);
  if (server.activate == nullptr) out << "  (no activate routine)";
  out << '\n';
  if (server.tagInfo == nullptr) {
    out << "    no tags\n";
    return;
  }
  int count = 0;
  for (const ServerTagInfo *tag = server.tagInfo; tag->string != nullptr || tag->tag != 0; ++tag) {
    if (++count > kMaxTags) {
      out << "    ... (the tag list has no closing entry)\n";
      return;
    }
    out << "    tag " << hex(tag->tag) << "  " << quoted(tag->string) << '\n';
  }
}

// Places one node of the handler server in a fresh host, as a user would,
// opens its panel, and lists what the node made.
void printNode(const std::string &modulePath, const std::string &server, std::ostream &out) {
  tellParent("placing the " + server + " node");
  hostsim::Host host(modulePath);
  out << "node " << quoted(server.c_str()) << '\n';
  const int activated = host.activateHandler(server);
  if (activated != ACTIVATE_OK) {
    out << "  handler activation failed with " << activated << '\n';
    return;
  }
  hostsim::Node &node = host.createNode(server, server + " (1)");
  if (node.instance() == nullptr) {
    out << "  create failed: " << node.createError() << '\n';
    return;
  }
  for (const auto &input : node.inputs()) {
    out << "  input   " << quoted(input->name().c_str()) << ' '
        << connectionName(input->connectionType()) << '\n';
  }
  for (const auto &output : node.outputs()) {
    out << "  output  " << quoted(output->name().c_str()) << ' '
        << connectionName(output->connectionType()) << '\n';
  }
  if (host.module().findServer(SERVER_CLASS_NODE_INTERFACE, server) == nullptr) return;
  tellParent("opening the " + server + " node's panel");
  InterfaceRecord record{node.instance(), nullptr, nullptr, nullptr};
  const int opened = host.activateInterface(server, NODE_INTERFACE_VERSION, &record);
  const hostsim::PanelRecord *panel = host.panels().find(record.panel);
  if (opened != ACTIVATE_OK || panel == nullptr) {
    out << "  no panel (interface activation gave " << opened << ")\n";
    return;
  }
  for (const PanelControl *control = panel->controls; control != nullptr && control->cid != 0;
       ++control) {
    const PanelDataDesc *data = panel->dataEntry(control->cid);
    out << "  control " << hex(control->cid) << ' ' << quoted(control->label) << ' '
        << quoted(control->ctrlClass);
    if (data != nullptr) out << "  value " << quoted(data->name) << ' ' << quoted(data->dataType);
    out << '\n';
  }
}

// In the child: everything info prints.
std::string describeModule(const std::string &modulePath) {
  std::ostringstream out;
  std::vector<std::string> nodes;
  {
    tellParent("loading the module");
    hostsim::Host host(modulePath);
    const hostsim::ModuleFile &module = host.module();
    const ModuleDescriptor &descriptor = module.descriptor();
    out << "module          " << module.path() << '\n'
        << "sync code       " << hex(descriptor.sysSync) << '\n'
        << "version         " << hex(descriptor.sysVersion) << '\n'
        << "machine code    " << hex(descriptor.sysMachine) << '\n'
        << "startup handle  " << module.startupHandle() << '\n'
        << "servers         " << module.servers().size() << '\n';
    for (const ServerRecord *server : module.servers()) {
      printServer(*server, out);
      if (server->className != nullptr && server->name != nullptr &&
          std::string(server->className) == SERVER_CLASS_NODE_HANDLER) {
        nodes.emplace_back(server->name);
      }
    }
  }
  // Each node is placed in a host of its own, as the first thing it sees.
  for (const std::string &node : nodes) printNode(modulePath, node, out);
  return out.str();
}

int runInfo(const std::string &modulePath, double timeLimit) {
  ChildOutcome outcome =
      runInChild([&modulePath] { return describeModule(modulePath); }, timeLimit);
  std::cout << childAnswer(outcome, "'" + modulePath + "'", timeLimit);
  return kExitOk;
}

}  // namespace

void addInfoCommand(CLI::App &app, int &exitCode) {
  auto modulePath = std::make_shared<std::string>();
  auto timeLimit = std::make_shared<double>(kDefaultTimeLimit);
  CLI::App *info = app.add_subcommand(
      "info", "Load the module and print what a host sees of it and what each node makes");
  readLeniently(*info);
  info->add_option("module", *modulePath, "the module file (kerrowbend.p)")->required();
  addTimeLimitOption(
      *info, *timeLimit,
      "seconds the module may go without showing progress before it is stopped as hung");
  info->callback([info, modulePath, timeLimit, &exitCode] {
    exitCode = runCommand(*info, [&] { return runInfo(*modulePath, *timeLimit); });
  });
}

}  // namespace kerrowbend_host
