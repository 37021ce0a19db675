// One node instance shaded from 1, 2, 4 and 8 render threads at once, both
// inputs connected, in a scene of one object. Shading reads the instance
// and writes nothing shared, so the spots per second should grow with the
// threads up to the number of cores and hold there beyond it.
#include <memory>

#include <benchmark/benchmark.h>

#include "hostsim/host.h"

namespace {

// The host and node every thread of one run shades: thread 0 builds them
// before the timed loop and tears them down after it. The benchmark library
// holds all threads at a barrier on entering and on leaving the loop, so no
// thread sees them half built or already gone.
struct SharedNode {
  hostsim::Host host{KERROWBEND_MODULE_PATH};
  hostsim::Node *node = nullptr;
  NodalAccess spot{};
};

std::unique_ptr<SharedNode> shared;

void setUp(benchmark::State &state) {
  auto built = std::make_unique<SharedNode>();
  if (built->host.activateHandler("Kerrowbend") != ACTIVATE_OK) {
    state.SkipWithError("activation failed");
    return;
  }
  const hostsim::SceneObject &shaded = built->host.scene().addObject("Shaded");
  built->node = &built->host.createNode("Kerrowbend", "bench");
  built->node->connect("Weight", 0.5);
  built->node->connect("Reference Normal", hostsim::Vec3{1, 0, 0});
  built->host.newTime(0, 0.0);
  built->host.log().setRecording(false);
  built->spot = hostsim::makeSpot({0.0, 0.6, 0.8}, shaded.id());
  shared = std::move(built);
}

void BM_ShadeSpotFromThreads(benchmark::State &state) {
  if (state.thread_index() == 0) setUp(state);
  for (auto _ : state) {
    if (!shared) {
      state.SkipWithError("no node to shade");
      break;
    }
    benchmark::DoNotOptimize(shared->node->evaluate(shared->spot));
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) shared.reset();
}

BENCHMARK(BM_ShadeSpotFromThreads)->ThreadRange(1, 8)->UseRealTime();

}  // namespace
