// Cost of shading one spot with the single-reference node, both inputs
// connected, in scenes of growing size. Every spot first checks that its
// object is in the scene by walking the objects from the first, so the
// shaded object is put last: the cost grows with the scene.
#include <string>

#include <benchmark/benchmark.h>

#include "hostsim/host.h"

namespace {

void BM_ShadeSpotBothInputsConnected(benchmark::State &state) {
  hostsim::Host host(KERROWBEND_MODULE_PATH);
  if (host.activateHandler("Kerrowbend") != ACTIVATE_OK) {
    state.SkipWithError("activation failed");
    return;
  }
  const auto objectCount = static_cast<int>(state.range(0));
  for (int i = 1; i < objectCount; ++i) host.scene().addObject("Object " + std::to_string(i));
  const hostsim::SceneObject &shaded = host.scene().addObject("Shaded");
  hostsim::Node &node = host.createNode("Kerrowbend", "bench");
  node.connect("Weight", 0.5);
  node.connect("Reference Normal", hostsim::Vec3{1, 0, 0});
  host.newTime(0, 0.0);
  host.log().setRecording(false);

  const NodalAccess spot = hostsim::makeSpot({0.0, 0.6, 0.8}, shaded.id());
  for (auto _ : state) {
    benchmark::DoNotOptimize(node.evaluate(spot));
  }
  state.counters["objects"] = objectCount;
}

BENCHMARK(BM_ShadeSpotBothInputsConnected)->Arg(1)->Arg(100)->Arg(10000);

}  // namespace
