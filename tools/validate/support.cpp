// The helpers the groups of validate checks share; support.h
// says what each does.
#include "tools/validate/support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/validate/checks.h"

namespace kerrowbend_host {

[[noreturn]] void fail(const std::string &sentence) { throw CheckFailure(sentence); }

const char *formName(BlockForm form) { return form == BlockForm::Binary ? "binary" : "text"; }

std::string shown(std::string_view text, std::size_t limit) {
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

std::string joined(const std::vector<std::string> &names) {
  if (names.empty()) return "none";
  std::string out;
  for (const std::string &name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

std::string firstDifference(const std::string &first, const std::string &second) {
  const auto at = static_cast<std::size_t>(
      std::mismatch(first.begin(), first.end(), second.begin(), second.end()).first -
      first.begin());
  return "the first save has " + shown(first.substr(at), 24) + " from byte " + std::to_string(at) +
         " and the second " + shown(second.substr(at), 24);
}

std::string patternName(std::size_t length) {
  std::string name(length, ' ');
  for (std::size_t i = 0; i < length; ++i) name[i] = static_cast<char>('A' + i % 26);
  return name;
}

std::unique_ptr<Host> openHost(const std::string &modulePath) {
  auto host = std::make_unique<Host>(modulePath);
  host->log().setRecording(false);
  return host;
}

Node &placeNode(Host &host, const std::string &server) {
  if (host.handler(server) == nullptr) {
    const int result = host.activateHandler(server);
    if (result != ACTIVATE_OK) {
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

const PanelRecord &openPanel(Host &host, const Node &node) {
  InterfaceRecord record{node.instance(), nullptr, nullptr, nullptr};
  const int result = host.activateInterface(node.server(), NODE_INTERFACE_VERSION, &record);
  const PanelRecord *panel = record.panel != nullptr ? host.panels().find(record.panel) : nullptr;
  if (result != ACTIVATE_OK || panel == nullptr) {
    fail(node.server() + ": expected interface activation (version 4) to give 0 and a panel, " +
         "but it gave " + std::to_string(result) +
         (record.panel == nullptr ? " and no panel" : " and a panel the host never made"));
  }
  return *panel;
}

void configure(const Node &node, const PanelRecord &panel) {
  if (node.server() == kSingle) {
    panel.setString(kReferenceObjectId, "Pointer");
    panel.setInt(kInvertId, 0);
    panel.setString(kWeightMapId, "Gradient");
  } else {
    panel.editInt(kInputSizeId, 3);
  }
}

namespace {

// The multi node's inputs for stages 1..count, in the order it makes them.
std::vector<std::string> stageInputs(int count) {
  std::vector<std::string> names;
  for (int k = 1; k <= count; ++k) {
    names.push_back(stageReferenceInput(k));
    names.push_back(stageWeightInput(k));
  }
  return names;
}

}  // namespace

std::string stageProblem(const Node &node, int count) {
  const std::vector<std::string> expected = stageInputs(count);
  const std::vector<std::string> names = node.inputNames();
  if (names != expected) {
    return "expected the inputs " + joined(expected) + ", but the node has " + joined(names);
  }
  for (const std::string &name : names) {
    const int wanted = name.starts_with(kWeightInput) ? CONNECTION_SCALAR : CONNECTION_VECTOR;
    if (node.input(name)->connectionType() != wanted) {
      return "expected input " + shown(name) + " of connection type " + std::to_string(wanted) +
             ", but it has " + std::to_string(node.input(name)->connectionType());
    }
  }
  return "";
}

void failOnProblem(const std::string &context, const std::string &problem) {
  if (!problem.empty()) fail(context + problem);
}

void expectPanelsGone(Host &host, const std::string &context) {
  const auto &panels = host.panels().panels();
  const auto left = std::count_if(panels.begin(), panels.end(),
                                  [](const auto &panel) { return !panel->destroyed; });
  if (left != 0) {
    fail(context + "expected destroying an instance to destroy its panel, but " +
         std::to_string(left) + " of " + std::to_string(panels.size()) + " panels were left");
  }
  if (host.panels().strayCalls() != 0) {
    fail(context + "expected calls to the panel service only for panels that exist, but " +
         std::to_string(host.panels().strayCalls()) + " were for others");
  }
}

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

}  // namespace kerrowbend_host
