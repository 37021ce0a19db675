// The eval/* checks: each node, set up the ways a user sets it up, gives a
// finite World Normal for every normal, and several threads evaluating at
// once give what a serial run gave, also while the host activates servers.
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <latch>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tools/validate/groups.h"
#include "tools/validate/shaded_spots.h"
#include "tools/validate/support.h"

namespace kerrowbend_host {

namespace {

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
       panel.setString(kReferenceObjectId, kPointer);
       panel.setString(kWeightMapId, kMap);
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

// The awkward normals first, along the axes and along and against the
// pointer's axis, then random unit normals; each with random barycentric
// weights.
std::vector<NodalAccess> spots(const KnownScene &scene, int count) {
  std::mt19937 random(7);
  std::normal_distribution<double> gaussian;
  std::uniform_real_distribution<float> share(0.0F, 1.0F);
  std::vector<Vec3> normals = {{0, 0, 1}, {0, 0, -1}, {0, 1, 0}, {0, -1, 0}, {1, 0, 0}};
  const Vec3 &p = scene.pointerForward;
  const double along = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  normals.push_back(hostsim::scaled(p, 1.0 / along));
  normals.push_back(hostsim::scaled(p, -1.0 / along));
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

// Runs body for each setup on a node set up that way in a host of its own.
template <typename Body>
void forEachSetup(const std::string &modulePath, Body body) {
  for (const EvalSetup &setup : kEvalSetups) {
    const PlacedNode placed = placeInScene(modulePath, setup.server);
    setup.apply(*placed.host, *placed.node, *placed.panel);
    body(std::string(setup.server) + " (" + setup.label + ")", placed.scene, *placed.node);
  }
}

}  // namespace

void checkFiniteResults(const std::string &modulePath) {
  forEachSetup(modulePath, [](const std::string &which, const KnownScene &scene, Node &node) {
    for (const NodalAccess &spot : spots(scene, 3000)) {
      const Evaluation result = evaluatedOnce(which, node, spot);
      if (!std::isfinite(result.value[0]) || !std::isfinite(result.value[1]) ||
          !std::isfinite(result.value[2])) {
        fail(which + ": expected a finite World Normal, but for the normal " +
             shownVec(normalOf(spot)) + " it gave " + shownVec(result.value));
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
void expectThreadsMatchSerial(const std::string &which, const KnownScene &scene,
                              const std::vector<Node *> &nodes) {
  const std::vector<NodalAccess> all = spots(scene, kSpots);
  std::vector<Evaluation> serial;
  serial.reserve(all.size());
  for (const NodalAccess &spot : all) serial.push_back(nodes.front()->evaluate(spot));

  std::vector<std::vector<Evaluation>> results(kThreads, std::vector<Evaluation>(all.size()));
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
            const Evaluation result =
                evaluatedOnce(which + ", thread " + std::to_string(t) + " of " +
                                  std::to_string(kThreads) + " evaluating at once",
                              node, all[at]);
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
    if (!errors[t].empty()) fail(errors[t]);
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (!sameValue(results[t][i], serial[i])) {
        fail(which + ": expected " + std::to_string(kThreads) +
             " threads evaluating at once to give what a serial run gave, but for the normal " +
             shownVec(normalOf(all[i])) + " thread " + std::to_string(t) + " got " +
             shownVec(results[t][i].value) + " where the serial run got " +
             shownVec(serial[i].value));
      }
    }
  }
}

}  // namespace

void checkThreadsSharedInstance(const std::string &modulePath) {
  forEachSetup(modulePath, [](const std::string &which, const KnownScene &scene, Node &node) {
    expectThreadsMatchSerial(which + ", one instance shaded from every thread", scene, {&node});
  });
}

void checkThreadsDistinctInstances(const std::string &modulePath) {
  for (const EvalSetup &setup : kEvalSetups) {
    const auto host = openHost(modulePath);
    const KnownScene scene = buildScene(*host);
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

namespace {

// How long the host goes on activating; each round activates both handlers.
constexpr auto kActivationTime = std::chrono::milliseconds(300);
constexpr int kMinActivationRounds = 200;

}  // namespace

// A host may activate a server while its renderer shades nodes already
// placed. Activation rewrites what shading reads, with the same values:
// nothing shaded meanwhile may come out differently.
void checkThreadsBesideActivation(const std::string &modulePath) {
  const auto host = openHost(modulePath);
  const KnownScene scene = buildScene(*host);
  std::vector<Node *> nodes;
  std::vector<std::string> names;
  for (const EvalSetup &setup : kEvalSetups) {
    Node &node = placeNode(*host, setup.server);
    setup.apply(*host, node, openPanel(*host, node));
    nodes.push_back(&node);
    names.push_back(std::string(setup.server) + " (" + setup.label + ")");
  }
  const std::vector<NodalAccess> all = spots(scene, kSpots / 4);
  std::vector<std::vector<Evaluation>> serial(nodes.size());
  for (std::size_t n = 0; n < nodes.size(); ++n) {
    for (const NodalAccess &spot : all) serial[n].push_back(nodes[n]->evaluate(spot));
  }

  std::atomic<bool> done{false};
  std::vector<std::string> errors(kThreads);
  std::latch start(kThreads + 1);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::size_t n = static_cast<std::size_t>(t) % nodes.size();
      start.arrive_and_wait();
      try {
        for (std::size_t i = 0; !done.load() && errors[t].empty(); i = (i + 1) % all.size()) {
          const Evaluation result = evaluatedOnce(names[n], *nodes[n], all[i]);
          if (!sameValue(result, serial[n][i])) {
            errors[t] = names[n] + ": expected spots shaded while both handlers were activated " +
                        "again and again to give what a serial run gave, but for the normal " +
                        shownVec(normalOf(all[i])) + " thread " + std::to_string(t) + " got " +
                        shownVec(result.value) + " where the serial run got " +
                        shownVec(serial[n][i].value);
          }
        }
      } catch (const std::exception &error) {
        errors[t] = error.what();
      }
    });
  }
  start.arrive_and_wait();
  const auto until = std::chrono::steady_clock::now() + kActivationTime;
  std::string activationError;
  for (int round = 0; round < kMinActivationRounds || std::chrono::steady_clock::now() < until;
       ++round) {
    for (const char *server : kNodes) {
      const int result = host->activateHandler(server);
      if (result != ACTIVATE_OK && activationError.empty()) {
        activationError = std::string(server) + ": expected every handler activation to give 0, " +
                          "but one while threads shaded gave " + std::to_string(result);
      }
    }
  }
  done = true;
  for (std::thread &thread : threads) thread.join();
  if (!activationError.empty()) fail(activationError);
  for (const std::string &error : errors) {
    if (!error.empty()) fail(error);
  }
}

// What each shaded spot asks of the host, counted over many spots: the
// time once per spot that needs the reference object, and a mesh info for
// each spot that samples the weight map, each given back.
void checkHostCallsPerSpot(const std::string &modulePath) {
  constexpr int kCounted = 50;
  struct PerSpot {
    const char *server;
    const char *label;
    bool objectAndMap;  // reference object and weight map, else plugged inputs
    std::size_t time;
    std::size_t meshes;
  };
  const PerSpot cases[] = {
      {kSingle, "reference object and weight map", true, 1, 1},
      {kSingle, "inputs plugged", false, 0, 0},
      {kMulti, "one stage plugged", false, 0, 0},
  };
  for (const PerSpot &c : cases) {
    const std::string which = std::string(c.server) + " (" + c.label + ")";
    const PlacedNode placed = placeInScene(modulePath, c.server);
    Node &node = *placed.node;
    if (c.objectAndMap) {
      placed.panel->setString(kReferenceObjectId, kPointer);
      placed.panel->setString(kWeightMapId, kMap);
      placed.host->newTime(0, 0.0);
    } else {
      node.connect(c.server == std::string(kSingle) ? kReferenceInput : stageReferenceInput(1),
                   Vec3{1, 0, 0});
      node.connect(c.server == std::string(kSingle) ? kWeightInput : stageWeightInput(1), 0.5);
    }
    hostsim::CallLog &log = placed.host->log();
    log.setRecording(true);
    const struct {
      const char *call;
      std::size_t each;
    } counts[] = {{"lookup LW Time Info", c.time},
                  {"object.meshInfo 1", c.meshes},
                  {"mesh.destroy", c.meshes}};
    std::mt19937 random(3);
    // Counted spot by spot, so that a mesh info obtained for one spot is
    // given back by that spot's evaluation, not by a later one.
    for (int i = 0; i < kCounted; ++i) {
      log.clear();
      evaluatedOnce(which, node, paintedSpot(placed.scene, {0.2, 0.3, 0.9}, i, random).spot);
      for (const auto &count : counts) {
        const std::size_t made = log.count(count.call);
        if (made != count.each) {
          fail(which + ": expected " + std::to_string(count.each) + " " + shown(count.call) +
               " for each shaded spot, but spot " + std::to_string(i + 1) + " of " +
               std::to_string(kCounted) + " made " + std::to_string(made));
        }
      }
    }
  }
}

}  // namespace kerrowbend_host
