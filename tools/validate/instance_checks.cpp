// The instance/* checks: many instances of each node created and
// destroyed, each with its own inputs, output and panel; and the host calls
// a create and a resize make, with their arguments, in order.
#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "tools/validate/groups.h"
#include "tools/validate/support.h"

namespace kerrowbend_host {

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

namespace {

// What a host is asked for when a node is placed: the node operation with
// 2, then the inputs and the output, each with its connection type.
std::vector<std::string> createCalls(const std::string &server) {
  std::vector<std::string> calls = {"node.setPreviewType 2"};
  for (const Connector &input : madeInputs(server)) {
    calls.push_back("input.create " + input.name + " " + std::to_string(input.type));
  }
  calls.push_back("output.create " + std::string(kOutput) + " " +
                  std::to_string(CONNECTION_VECTOR));
  return calls;
}

}  // namespace

void checkCreateCalls(const std::string &modulePath) {
  for (const char *server : kNodes) {
    const std::string name = server;
    const auto host = openHost(modulePath);
    placeNode(*host, server).destroy();
    host->log().setRecording(true);
    host->log().clear();
    Node &node = placeNode(*host, server);
    const std::vector<std::string> calls = host->log().entries();
    if (calls != createCalls(server) || node.previewType() != 2) {
      fail(name + ": expected create to ask the host for " + joined(createCalls(server)) +
           ", in that order, but it asked for " + joined(calls));
    }
    if (name != kMulti) continue;
    // Stages removed give up their inputs from the lowest number upward,
    // each named to the host by its node and its id.
    const PanelRecord &panel = openPanel(*host, node);
    panel.editInt(kInputSizeId, 3);
    host->log().clear();
    panel.editInt(kInputSizeId, 1);
    const std::vector<std::string> expected = {
        "input.destroy " + stageReferenceInput(2), "input.destroy " + stageWeightInput(2),
        "input.destroy " + stageReferenceInput(3), "input.destroy " + stageWeightInput(3)};
    const std::vector<std::string> destroyed = host->log().withPrefix("input.");
    if (destroyed != expected) {
      fail(name + ": expected Input Size 3 to 1 to ask the host for " + joined(expected) +
           ", but it asked for " + joined(destroyed));
    }
  }
}

}  // namespace kerrowbend_host
