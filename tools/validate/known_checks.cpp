// The known/* checks: World Normal compared with what the drag must give,
// worked out apart from the module (hostsim/expected_drag.h), for each node
// set up as a user sets it up: constants plugged into its inputs, a
// Reference Object, a weight map, "Invert Vector" on and off, stages in
// order. Every evaluation must set World Normal exactly once, on the paths
// that drag and on those that hand the normal on unchanged.
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "hostsim/expected_drag.h"
#include "tools/validate/groups.h"
#include "tools/validate/shaded_spots.h"
#include "tools/validate/support.h"

namespace kerrowbend_host {

using hostsim::Evaluation;
using hostsim::expected::Stage;

namespace {

// The contract's worked example and its weights.
constexpr Vec3 kExampleNormal = {0.0, 0.0, 1.0};
constexpr Vec3 kExampleReference = {1.0, 0.0, 0.0};
constexpr std::array<double, 5> kExampleWeights = {0.0, 0.5, 1.0, 2.0, -1.0};

// Plugs constants into the single node's inputs with invert as given; the
// reference plugged is negated when invert is on, so the reference in
// effect stays the one given.
void plugSingle(Node &node, const PanelRecord &panel, int invert, const Vec3 &reference,
                double weight) {
  panel.setInt(kInvertId, invert);
  node.connect(kReferenceInput, invert != 0 ? hostsim::negated(reference) : reference);
  node.connect(kWeightInput, weight);
}

std::string invertText(int invert) {
  return invert != 0 ? "Invert Vector on" : "Invert Vector off";
}

}  // namespace

void checkKnownSingleInputs(const std::string &modulePath) {
  PlacedNode placed = placeInScene(modulePath, kSingle);
  Node &node = *placed.node;
  Directions directions;
  for (const int invert : {0, 1}) {
    for (const double w : kExampleWeights) {
      plugSingle(node, *placed.panel, invert, kExampleReference, w);
      expectWorldNormal(std::string(kSingle) + ", " + invertText(invert) +
                            ", the worked example with weight " + weightText(w),
                        node, spotOn(placed.scene, kExampleNormal),
                        hostsim::expected::drag(kExampleNormal, kExampleReference, w));
    }
    for (int i = 0; i < 40; ++i) {
      const Vec3 normal = directions.unit();
      const Vec3 reference = directions.clearOf(normal);
      const double w = directions.weight();
      plugSingle(node, *placed.panel, invert, reference, w);
      expectWorldNormal(std::string(kSingle) + ", " + invertText(invert) + ", reference " +
                            shownVec(reference) + " and weight " + weightText(w),
                        node, spotOn(placed.scene, normal),
                        hostsim::expected::drag(normal, reference, w));
    }
  }
  // Any positive length of reference gives what its unit vector gives.
  for (const double length : {1e-3, 0.37, 12.0, 1e4}) {
    const Vec3 normal = directions.unit();
    const Vec3 unit = directions.clearOf(normal);
    plugSingle(node, *placed.panel, 0, hostsim::scaled(unit, length), 0.75);
    expectWorldNormal(std::string(kSingle) + ", a reference of length " + weightText(length), node,
                      spotOn(placed.scene, normal), hostsim::expected::drag(normal, unit, 0.75));
  }
}

void checkKnownDegenerateReferences(const std::string &modulePath) {
  const std::array<Vec3, 3> normals = {Vec3{0, 0, 1}, Vec3{0, 1, 0}, Vec3{-1, 0, 0}};
  for (const char *server : kNodes) {
    PlacedNode placed = placeInScene(modulePath, server);
    Node &node = *placed.node;
    for (const Vec3 &normal : normals) {
      const std::array<std::pair<const char *, Vec3>, 3> references = {
          std::pair{"an equal reference", hostsim::scaled(normal, 2.0)},
          std::pair{"an opposite reference", hostsim::scaled(normal, -3.0)},
          std::pair{"a zero reference", Vec3{0, 0, 0}}};
      for (const auto &[label, reference] : references) {
        for (const double w : kExampleWeights) {
          if (std::string(server) == kSingle) {
            plugSingle(node, *placed.panel, 0, reference, w);
          } else {
            node.connect(stageReferenceInput(1), reference);
            node.connect(stageWeightInput(1), w);
          }
          expectWorldNormal(std::string(server) + ", " + label + " " + shownVec(reference) +
                                " with weight " + weightText(w),
                            node, spotOn(placed.scene, normal),
                            hostsim::expected::drag(normal, reference, w));
        }
      }
    }
  }
}

void checkKnownReferenceObject(const std::string &modulePath) {
  PlacedNode placed = placeInScene(modulePath, kSingle);
  Node &node = *placed.node;
  placed.panel->setString(kReferenceObjectId, kPointer);
  placed.host->newTime(0, 0.0);
  Directions directions;
  const Vec3 forward = placed.scene.pointerForward;
  for (const int invert : {0, 1}) {
    placed.panel->setInt(kInvertId, invert);
    const Vec3 reference = invert != 0 ? hostsim::negated(forward) : forward;
    for (const double w : {1.0, 0.5, -1.0}) {
      // Unplugged, the weight is 1.
      if (w == 1.0) {
        node.disconnect(kWeightInput);
      } else {
        node.connect(kWeightInput, w);
      }
      for (int i = 0; i < 10; ++i) {
        const Vec3 normal = directions.clearOf(forward);
        expectWorldNormal(
            std::string(kSingle) + ", Reference Object " + shown(kPointer) + ", " +
                invertText(invert) + ", weight " + (w == 1.0 ? "unplugged" : weightText(w)),
            node, spotOn(placed.scene, normal), hostsim::expected::drag(normal, reference, w));
      }
    }
  }
}

void checkKnownWeightMap(const std::string &modulePath) {
  PlacedNode placed = placeInScene(modulePath, kSingle);
  Node &node = *placed.node;
  placed.panel->setInt(kInvertId, 0);
  placed.panel->setString(kWeightMapId, kMap);
  Directions directions;
  std::mt19937 random(4);
  for (int i = 0; i < 40; ++i) {
    const Vec3 normal = directions.unit();
    const Vec3 reference = directions.clearOf(normal);
    node.connect(kReferenceInput, reference);
    const PaintedSpot painted = paintedSpot(placed.scene, normal, i, random);
    expectWorldNormal(std::string(kSingle) + ", weight map " + shown(kMap) +
                          " sampled to the weight " + weightText(painted.weight),
                      node, painted.spot,
                      hostsim::expected::drag(normal, reference, painted.weight));
  }
}

namespace {

// Stage lists whose order matters: each step stays clear of the parallel
// cases, and the same stages applied last to first end elsewhere.
std::vector<Stage> orderedStages(Directions &directions, const Vec3 &normal, int count) {
  for (;;) {
    std::vector<Stage> stages;
    Vec3 running = normal;
    bool clear = true;
    for (int k = 0; k < count; ++k) {
      const Vec3 reference = directions.clearOf(running);
      const double w = directions.weight();
      stages.push_back({hostsim::scaled(reference, 0.5 + k), w == 0.0 ? 0.3 : w});
      running = hostsim::expected::drag(running, reference, stages.back().weight);
      clear = clear && std::fabs(cosineBetween(running, reference)) < 0.95;
    }
    const std::vector<Stage> reversed(stages.rbegin(), stages.rend());
    const Vec3 backwards = hostsim::expected::chain(normal, reversed);
    const double apart = std::fabs(backwards[0] - running[0]) +
                         std::fabs(backwards[1] - running[1]) +
                         std::fabs(backwards[2] - running[2]);
    if (clear && (count == 1 || apart > 1e-3)) return stages;
  }
}

void plugStages(Node &node, const std::vector<Stage> &stages) {
  for (std::size_t k = 0; k < stages.size(); ++k) {
    node.connect(stageReferenceInput(static_cast<int>(k) + 1), stages[k].reference);
    node.connect(stageWeightInput(static_cast<int>(k) + 1), stages[k].weight);
  }
}

std::string stagesText(const std::vector<Stage> &stages) {
  std::string text;
  for (const Stage &stage : stages) {
    text += (text.empty() ? "" : ", ") + shownVec(stage.reference) + " weight " +
            weightText(stage.weight);
  }
  return text;
}

}  // namespace

void checkKnownMultiStages(const std::string &modulePath) {
  PlacedNode placed = placeInScene(modulePath, kMulti);
  Node &node = *placed.node;
  const std::string name = kMulti;
  // The contract's worked example of a chain, which the reverse order
  // turns elsewhere.
  placed.panel->editInt(kInputSizeId, 2);
  const std::vector<Stage> example = {{{1, 0, 0}, 1.0}, {{0, 1, 0}, 0.5}};
  plugStages(node, example);
  expectWorldNormal(name + ", the worked example of two stages", node,
                    spotOn(placed.scene, kExampleNormal),
                    hostsim::expected::chain(kExampleNormal, example));
  Directions directions;
  for (const int count : {1, 2, 3}) {
    placed.panel->editInt(kInputSizeId, count);
    for (int i = 0; i < 15; ++i) {
      const Vec3 normal = directions.unit();
      const std::vector<Stage> stages = orderedStages(directions, normal, count);
      plugStages(node, stages);
      expectWorldNormal(name + ", " + std::to_string(count) +
                            " stages applied in stage order: " + stagesText(stages),
                        node, spotOn(placed.scene, normal),
                        hostsim::expected::chain(normal, stages));
    }
  }
  // Three stages of which one is left out in each way the chain skips it.
  const Vec3 normal = directions.unit();
  const std::vector<Stage> stages = orderedStages(directions, normal, 3);
  struct Skip {
    const char *how;
    void (*apply)(Node &node);
  };
  const Skip skips[] = {
      {"weight 0", [](Node &n) { n.connect(stageWeightInput(2), 0.0); }},
      {"weight -0", [](Node &n) { n.connect(stageWeightInput(2), -0.0); }},
      {"its weight unplugged", [](Node &n) { n.disconnect(stageWeightInput(2)); }},
      {"its reference unplugged", [](Node &n) { n.disconnect(stageReferenceInput(2)); }},
  };
  for (const Skip &skip : skips) {
    plugStages(node, stages);
    skip.apply(node);
    const std::vector<Stage> used = {stages[0], stages[2]};
    expectWorldNormal(name + ", 3 stages with stage 2 left out for " + skip.how, node,
                      spotOn(placed.scene, normal), hostsim::expected::chain(normal, used));
  }
}

void checkKnownOutsideScene(const std::string &modulePath) {
  static int foreign = 0;
  for (const char *server : kNodes) {
    PlacedNode placed = placeInScene(modulePath, server);
    Node &node = *placed.node;
    hostsim::SceneObject &gone = placed.host->scene().addObject("Gone");
    const ItemId goneId = gone.id();
    placed.host->scene().remove(gone);
    if (std::string(server) == kSingle) {
      plugSingle(node, *placed.panel, 0, {0.0, 1.0, 0.0}, 0.5);
    } else {
      plugStages(node, {{{0, 1, 0}, 0.5}});
    }
    const std::array<std::pair<const char *, ItemId>, 3> outside = {
        std::pair{"no object", ItemId{}}, std::pair{"an object removed from the scene", goneId},
        std::pair{"an item the host never made", reinterpret_cast<ItemId>(&foreign)}};
    Directions directions;
    for (const auto &[label, object] : outside) {
      for (int i = 0; i < 3; ++i) {
        expectUnchanged(std::string(server) + ", a spot on " + label, node,
                        hostsim::makeSpot(directions.unit(), object));
      }
    }
  }
}

void checkKnownPassThrough(const std::string &modulePath) {
  struct Path {
    const char *server;
    const char *label;
    void (*apply)(Host &host, Node &node, const PanelRecord &panel);
  };
  const Path paths[] = {
      {kSingle, "as created", [](Host &, Node &, const PanelRecord &) {}},
      {kSingle, "with a Reference Object no object bears",
       [](Host &host, Node &, const PanelRecord &panel) {
         panel.setString(kReferenceObjectId, "Nobody");
         host.newTime(1, 0.5);
       }},
      {kSingle, "with a weight map the object lacks, reference plugged",
       [](Host &, Node &node, const PanelRecord &panel) {
         panel.setString(kWeightMapId, "Missing");
         node.connect(kReferenceInput, Vec3{0.0, 1.0, 0.0});
       }},
      {kMulti, "as created", [](Host &, Node &, const PanelRecord &) {}},
      {kMulti, "with Input Size 0",
       [](Host &, Node &, const PanelRecord &panel) { panel.editInt(kInputSizeId, 0); }},
      {kMulti, "with only references plugged",
       [](Host &, Node &node, const PanelRecord &panel) {
         panel.editInt(kInputSizeId, 2);
         node.connect(stageReferenceInput(1), Vec3{1.0, 0.0, 0.0});
         node.connect(stageReferenceInput(2), Vec3{0.0, 1.0, 0.0});
       }},
  };
  Directions directions;
  for (const Path &path : paths) {
    PlacedNode placed = placeInScene(modulePath, path.server);
    path.apply(*placed.host, *placed.node, *placed.panel);
    for (int i = 0; i < 3; ++i) {
      expectUnchanged(std::string(path.server) + " " + path.label, *placed.node,
                      spotOn(placed.scene, directions.unit()));
    }
  }
}

namespace {

constexpr double kLargest = std::numeric_limits<double>::max();
constexpr double kSmallest = std::numeric_limits<double>::denorm_min();

// References at the very ends of the double range and the direction each
// must act as: the square of the largest overflows and that of the
// smallest is 0, so only a module that rescales first sees a direction.
struct ExtremeReference {
  Vec3 reference;
  Vec3 direction;
};

const ExtremeReference kExtremeReferences[] = {
    {{kLargest, 0, 0}, {1, 0, 0}},
    {{0, -kLargest, kLargest}, {0, -1, 1}},
    {{kSmallest, 0, 0}, {1, 0, 0}},
    {{0, kSmallest, -kSmallest}, {0, 1, -1}},
};

}  // namespace

void checkKnownExtremeReferences(const std::string &modulePath) {
  const Vec3 normal = {0.3, -0.2, 0.9};
  for (const char *server : kNodes) {
    PlacedNode placed = placeInScene(modulePath, server);
    Node &node = *placed.node;
    const bool single = std::string(server) == kSingle;
    for (const ExtremeReference &extreme : kExtremeReferences) {
      if (single) {
        plugSingle(node, *placed.panel, 0, extreme.reference, 0.6);
      } else {
        node.connect(stageReferenceInput(1), extreme.reference);
        node.connect(stageWeightInput(1), 0.6);
      }
      expectWorldNormal(std::string(server) + ", the reference " + shownVec(extreme.reference),
                        node, spotOn(placed.scene, normal),
                        hostsim::expected::drag(normal, extreme.direction, 0.6));
    }
  }
}

}  // namespace kerrowbend_host
