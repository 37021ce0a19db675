// Cost of shading one spot with the multi-reference node for a growing
// number of connected stages, and of an "Input Size" edit that adds or
// removes many stages at once. Shading visits the stages in one pass, so
// its cost per stage ("per_stage") should hold steady as stages are added;
// the edit finds its stages by position and grows faster than their count.
// Loading a damaged count shows the most a scene's count can cost.
#include <cstdint>
#include <string>

#include <benchmark/benchmark.h>

#include "hostsim/block_io.h"
#include "hostsim/host.h"
#include "hostsim/module_facts.h"

namespace {

namespace facts = hostsim::facts;

// A host with the multi node activated and a node placed, its panel open.
struct MultiBench {
  hostsim::Host host{KERROWBEND_MODULE_PATH};
  hostsim::Node *node = nullptr;
  hostsim::PanelRecord *panel = nullptr;

  bool setUp(benchmark::State &state) {
    if (host.activateHandler(facts::kMulti) != ACTIVATE_OK) {
      state.SkipWithError("activation failed");
      return false;
    }
    node = &host.createNode(facts::kMulti, "bench");
    InterfaceRecord record{node->instance(), nullptr, nullptr, nullptr};
    host.activateInterface(facts::kMulti, NODE_INTERFACE_VERSION, &record);
    panel = host.panels().find(record.panel);
    host.log().setRecording(false);
    return true;
  }
};

void BM_MultiShadeSpotConnectedStages(benchmark::State &state) {
  MultiBench bench;
  if (!bench.setUp(state)) return;
  const auto stages = static_cast<int>(state.range(0));
  bench.panel->editInt(facts::kInputSizeId, stages);
  for (int k = 1; k <= stages; ++k) {
    bench.node->connect(
        facts::stageReferenceInput(k),
        hostsim::Vec3{k % 3 == 0 ? 1.0 : 0.0, k % 3 == 1 ? 1.0 : 0.0, k % 3 == 2 ? 1.0 : 0.0});
    bench.node->connect(facts::stageWeightInput(k), 0.3);
  }
  const hostsim::SceneObject &shaded = bench.host.scene().addObject("Shaded");
  const NodalAccess spot = hostsim::makeSpot({0.0, 0.6, 0.8}, shaded.id());
  for (auto _ : state) {
    benchmark::DoNotOptimize(bench.node->evaluate(spot));
  }
  state.counters["stages"] = stages;
  state.counters["per_stage"] = benchmark::Counter(
      stages, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_MultiShadeSpotConnectedStages)->Arg(1)->Arg(8)->Arg(64)->Arg(512);

// One round trip: "Input Size" from 1 to the argument and back to 1, each
// edit a set followed by the value-change notification, as a host sends it.
// Every round trip gets a fresh node, and the host forgets the last one, so
// no round inherits records from the one before.
void BM_MultiInputSizeRoundTrip(benchmark::State &state) {
  MultiBench bench;
  if (!bench.setUp(state)) return;
  const auto stages = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    hostsim::Node &node = bench.host.createNode(facts::kMulti, "round trip");
    InterfaceRecord record{node.instance(), nullptr, nullptr, nullptr};
    bench.host.activateInterface(facts::kMulti, NODE_INTERFACE_VERSION, &record);
    const hostsim::PanelRecord &panel = *bench.host.panels().find(record.panel);
    state.ResumeTiming();
    panel.editInt(facts::kInputSizeId, stages);
    panel.editInt(facts::kInputSizeId, 1);
    state.PauseTiming();
    node.destroy();
    bench.host.forgetDestroyed();
    state.ResumeTiming();
  }
  state.counters["stages"] = stages;
}

BENCHMARK(BM_MultiInputSizeRoundTrip)->Arg(1000)->Iterations(20)->Unit(benchmark::kMillisecond);

// Loading a scene whose stage count is the argument, into a fresh node each
// time: with 2147483647, a damaged count, the node stops at its stage limit,
// so this is what such a scene costs the host at most.
void BM_MultiLoadSceneCount(benchmark::State &state) {
  MultiBench bench;
  if (!bench.setUp(state)) return;
  hostsim::BlockWriter writer(hostsim::BlockForm::Binary);
  writer.begin(facts::kCountBlock.id, facts::kCountBlock.token);
  writer.writeInt(static_cast<int32_t>(state.range(0)));
  writer.end();
  const std::string data = writer.finish();
  for (auto _ : state) {
    state.PauseTiming();
    hostsim::Node &node = bench.host.createNode(facts::kMulti, "loaded");
    state.ResumeTiming();
    node.load(hostsim::BlockForm::Binary, data);
    state.PauseTiming();
    node.destroy();
    bench.host.forgetDestroyed();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_MultiLoadSceneCount)->Arg(2147483647)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
