// The eval/* checks: each node, set up the ways a user sets it up, gives a
// finite World Normal for every normal, and several threads evaluating at
// once give what a serial run gave.
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <latch>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tools/validate_check_groups.h"
#include "tools/validate_support.h"

namespace kerrowbend_host {

using hostsim::Evaluation;
using hostsim::Vec3;

namespace {

std::string shown(const Vec3 &v) {
  char text[96];
  std::snprintf(text, sizeof text, "(%.9g, %.9g, %.9g)", v[0], v[1], v[2]);
  return text;
}

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
       node.connect(kReferenceInput, referenceFromSpot);
       node.connect(kWeightInput, weightFromSpot);
     }},
    {kMulti, "three stages connected",
     [](Host & /*host*/, Node &node, const PanelRecord &panel) {
       panel.editInt(kInputSizeId, 3);
       node.connect(stageReferenceInput(1), Vec3{0.0, 1.0, 0.0});
       node.connect(stageWeightInput(1), weightFromSpot);
       node.connect(stageReferenceInput(2), referenceFromSpot);
       node.connect(stageWeightInput(2), 0.5);
       node.connect(stageReferenceInput(3), Vec3{-3.0, 0.5, 2.0});
       node.connect(stageWeightInput(3), -1.5);
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

}  // namespace

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

namespace {

// Bit for bit, so that a NaN matches the same NaN.
bool sameValue(const Evaluation &a, const Evaluation &b) {
  for (std::size_t i = 0; i < a.value.size(); ++i) {
    if (std::bit_cast<uint64_t>(a.value[i]) != std::bit_cast<uint64_t>(b.value[i])) return false;
  }
  return true;
}

constexpr int kThreads = 8;
// Each thread goes over every spot up to this often, from a place of its
// own, so that many different spots are shaded at the same moment for long
// enough that state a module shares between calls is overwritten under
// another thread on every run. Passes after the first stop once the budget
// is spent, which only a slow (sanitizer) build reaches; there, where every
// access is watched, fewer spots do.
constexpr int kPasses = 10;
#if defined(KERROWBEND_SLOW_BUILD)
constexpr auto kBudget = std::chrono::milliseconds(500);
constexpr int kSpots = 2000;
#else
constexpr auto kBudget = std::chrono::milliseconds(1500);
constexpr int kSpots = 6000;
#endif

// Runs the spots on kThreads threads at once, thread t on nodes[t], and
// fails unless every thread got what the serial run got on nodes[0], and
// set World Normal exactly once per evaluation.
void expectThreadsMatchSerial(const std::string &which, const EvalScene &scene,
                              const std::vector<Node *> &nodes) {
  const std::vector<NodalAccess> all = spots(scene, kSpots);
  std::vector<Evaluation> serial;
  serial.reserve(all.size());
  for (const NodalAccess &spot : all) serial.push_back(nodes.front()->evaluate(spot));

  std::vector<std::vector<Evaluation>> results(kThreads, std::vector<Evaluation>(all.size()));
  std::vector<std::size_t> setOtherThanOnce(kThreads, all.size());
  std::vector<int> timesSet(kThreads, 1);
  std::vector<std::string> errors(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const Node &node = *nodes[static_cast<std::size_t>(t) % nodes.size()];
      start.arrive_and_wait();
      const auto deadline = std::chrono::steady_clock::now() + kBudget;
      try {
        for (int pass = 0;
             pass < kPasses && (pass == 0 || std::chrono::steady_clock::now() < deadline); ++pass) {
          for (std::size_t i = 0; i < all.size(); ++i) {
            const std::size_t at = (i + t * all.size() / kThreads) % all.size();
            const Evaluation result = node.evaluate(all[at]);
            if (!result.setOnce() && setOtherThanOnce[t] == all.size()) {
              setOtherThanOnce[t] = at;
              timesSet[t] = result.setValueCalls;
            }
            // A pass that differs from the serial run is kept over one that
            // matches.
            if (pass == 0 || sameValue(results[t][at], serial[at])) results[t][at] = result;
          }
        }
      } catch (const std::exception &error) {
        errors[t] = error.what();
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    if (!errors[t].empty()) fail(which + ": thread " + std::to_string(t) + " failed: " + errors[t]);
    if (setOtherThanOnce[t] != all.size()) {
      const std::size_t at = setOtherThanOnce[t];
      fail(which + ": expected each of " + std::to_string(kThreads) +
           " threads evaluating at once to set World Normal exactly once per evaluation, but " +
           "for the normal " + shown(normalOf(all[at])) + " thread " + std::to_string(t) +
           " set it " + std::to_string(timesSet[t]) + " times");
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (!sameValue(results[t][i], serial[i])) {
        fail(which + ": expected " + std::to_string(kThreads) +
             " threads evaluating at once to give what a serial run gave, but for the normal " +
             shown(normalOf(all[i])) + " thread " + std::to_string(t) + " got " +
             shown(results[t][i].value) + " where the serial run got " + shown(serial[i].value));
      }
    }
  }
}

}  // namespace

void checkThreadsSharedInstance(const std::string &modulePath) {
  forEachSetup(modulePath, [](const std::string &which, const EvalScene &scene, Node &node) {
    expectThreadsMatchSerial(which + ", one instance shaded from every thread", scene, {&node});
  });
}

void checkThreadsDistinctInstances(const std::string &modulePath) {
  for (const EvalSetup &setup : kEvalSetups) {
    const auto host = openHost(modulePath);
    const EvalScene scene = buildScene(*host);
    std::vector<Node *> nodes;
    for (int t = 0; t < kThreads; ++t) {
      Node &node = placeNode(*host, setup.server);
      setup.apply(*host, node, openPanel(*host, node));
      nodes.push_back(&node);
    }
    expectThreadsMatchSerial(std::string(setup.server) + " (" + setup.label +
                                 "), an instance of its own for each thread",
                             scene, nodes);
  }
}

}  // namespace kerrowbend_host
