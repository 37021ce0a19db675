// Shading with the multi-reference node: the chain of stages, which stages
// are left out and what the host is asked for each, when the normal is
// passed through, and that shading is safe on many threads and allocates
// nothing.
#include <cmath>
#include <numbers>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/module_fixture.h"

#ifdef KERROWBEND_HEAP_COUNTING
#include "tests/heap_counter.h"
#endif

namespace kerrowbend_test {
namespace {

using hostsim::makeSpot;
using hostsim::Vec3;
using Names = std::vector<std::string>;

constexpr double kHalfPi = std::numbers::pi / 2;
const double kRootHalf = std::sqrt(0.5);

::testing::AssertionResult near(const Vec3 &actual, const Vec3 &expected, double tolerance) {
  for (int i = 0; i < 3; ++i) {
    if (!(std::abs(actual[i] - expected[i]) <= tolerance)) {
      return ::testing::AssertionFailure()
             << "got (" << actual[0] << ", " << actual[1] << ", " << actual[2] << "), expected ("
             << expected[0] << ", " << expected[1] << ", " << expected[2] << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

// A cube in the scene and the node with a chosen number of stages.
class MultiShadingTest : public MultiNodeTest {
 protected:
  void SetUp() override {
    MultiNodeTest::SetUp();
    cube = &host.scene().addObject("Cube");
  }

  // Plugs stage k's inputs; an empty optional leaves that input unplugged.
  static void connectStage(hostsim::Node &target, int k, std::optional<Vec3> reference,
                           std::optional<double> weight) {
    if (reference) target.connect(facts::stageReferenceInput(k), *reference);
    if (weight) target.connect(facts::stageWeightInput(k), *weight);
  }

  NodalAccess spot(const Vec3 &normal = {0, 0, 1}) const { return makeSpot(normal, cube->id()); }

  hostsim::SceneObject *cube = nullptr;
};

// ---- the chain ------------------------------------------------------------

TEST_F(MultiShadingTest, StagesApplyInOrderEachFromThePreviousResult) {
  loadCount(*node, 2);
  connectStage(*node, 1, Vec3{1, 0, 0}, 1.0);
  connectStage(*node, 2, Vec3{0, 1, 0}, 0.5);
  EXPECT_TRUE(near(node->evaluate(spot()).value, {kRootHalf, kRootHalf, 0}, 1e-12));

  // Swapping the stages' connections gives another result: order matters.
  connectStage(*node, 1, Vec3{0, 1, 0}, 0.5);
  connectStage(*node, 2, Vec3{1, 0, 0}, 1.0);
  EXPECT_TRUE(near(node->evaluate(spot()).value, {1, 0, 0}, 1e-12));
}

// A normal in the xz-plane at angle theta from +z toward +x, dragged toward
// +x by weight w, turns by w times the angle left between the two.
double turnTowardX(double theta, double w) { return theta + w * (kHalfPi - theta); }

Vec3 atAngle(double theta) { return {std::sin(theta), 0, std::cos(theta)}; }

TEST_F(MultiShadingTest, WeightsAreUsedAsGivenAlsoOutsideZeroToOne) {
  loadCount(*node, 2);
  connectStage(*node, 1, Vec3{3, 0, 0}, std::nullopt);
  connectStage(*node, 2, Vec3{3, 0, 0}, std::nullopt);
  const double cases[][2] = {{0.25, 0.25}, {-0.5, 0.25}, {1.5, -0.25}, {0.5, 1.0}, {2, -1}};
  for (const auto &w : cases) {
    connectStage(*node, 1, std::nullopt, w[0]);
    connectStage(*node, 2, std::nullopt, w[1]);
    const double theta = turnTowardX(turnTowardX(0, w[0]), w[1]);
    EXPECT_TRUE(near(node->evaluate(spot()).value, atAngle(theta), 1e-12))
        << "weights " << w[0] << ", " << w[1];
  }
}

TEST_F(MultiShadingTest, AZeroReferenceScalesTheNormalInsteadOfTurningIt) {
  connectStage(*node, 1, Vec3{0, 0, 0}, 0.5);
  const double scale = std::pow(std::cos(std::numbers::pi * 0.5 / 4), 2);
  EXPECT_TRUE(near(node->evaluate(spot()).value, {0, 0, scale}, 1e-12));
}

// ---- which stages are left out, and what the host is asked ----------------

// The host calls a stage may make, in order; each is made only when the
// ones before it let the stage go on.
const Names kStageTwoCalls = {"input.check Weight 2", "input.evaluate Weight 2",
                              "input.check Reference Normal 2",
                              "input.evaluate Reference Normal 2"};

struct StageCase {
  const char *name;
  std::optional<double> weight;
  std::optional<Vec3> reference;
  std::size_t calls;  // how many of kStageTwoCalls are made
  bool used;
};

std::ostream &operator<<(std::ostream &out, const StageCase &c) { return out << c.name; }

class StageSkipTest : public MultiShadingTest, public ::testing::WithParamInterface<StageCase> {};

// Stage 2 of three is set up as the case says; stages 1 and 3 turn the
// normal toward +x by a quarter each, so a used stage 2 shows in the result.
TEST_P(StageSkipTest, AsksTheHostOnlyWhatTheStageNeeds) {
  const StageCase &c = GetParam();
  loadCount(*node, 3);
  connectStage(*node, 1, Vec3{1, 0, 0}, 0.25);
  connectStage(*node, 2, c.reference, c.weight);
  connectStage(*node, 3, Vec3{1, 0, 0}, 0.25);
  host.log().clear();
  const auto result = node->evaluate(spot());
  EXPECT_TRUE(result.setOnce());

  Names stageTwo;
  for (const std::string &call : host.log().withPrefix("input.")) {
    if (call.ends_with(" 2")) stageTwo.push_back(call);
  }
  EXPECT_EQ(stageTwo, Names(kStageTwoCalls.begin(), kStageTwoCalls.begin() + c.calls));
  const Vec3 skipped = atAngle(turnTowardX(turnTowardX(0, 0.25), 0.25));
  if (c.used) {
    EXPECT_FALSE(near(result.value, skipped, 1e-9)) << "stage 2 must change the result";
  } else {
    EXPECT_TRUE(near(result.value, skipped, 1e-12));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stages, StageSkipTest,
    ::testing::Values(StageCase{"WeightUnplugged", std::nullopt, Vec3{0, 1, 0}, 1, false},
                      StageCase{"WeightZero", 0.0, Vec3{0, 1, 0}, 2, false},
                      StageCase{"WeightNegativeZero", -0.0, Vec3{0, 1, 0}, 2, false},
                      StageCase{"ReferenceUnplugged", 0.5, std::nullopt, 3, false},
                      StageCase{"BothPlugged", 0.5, Vec3{0, 1, 0}, 4, true},
                      StageCase{"WeightNaN", std::nan(""), Vec3{0, 1, 0}, 4, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(MultiShadingTest, AStageWithAnInputWithoutIdIsSkippedUnasked) {
  host.refuseInputIds([](std::string_view name) { return name == facts::stageWeightInput(2); });
  loadCount(*node, 3);
  connectStage(*node, 1, Vec3{1, 0, 0}, 0.25);
  node->connect(facts::stageReferenceInput(2), Vec3{0, 1, 0});
  connectStage(*node, 3, Vec3{1, 0, 0}, 0.25);
  host.log().clear();
  const auto result = node->evaluate(spot());
  for (const std::string &call : host.log().withPrefix("input.")) {
    EXPECT_FALSE(call.ends_with(" 2") || call.ends_with("(null)")) << call;
  }
  EXPECT_TRUE(near(result.value, atAngle(turnTowardX(turnTowardX(0, 0.25), 0.25)), 1e-12))
      << "stages 1 and 3 still apply";
}

// ---- the pass-through -------------------------------------------------------

TEST_F(MultiShadingTest, NormalPassesThroughWhereNoStageCanAct) {
  const Vec3 normal = {0.3, -0.4, 2.5};  // not unit: handed on exactly
  // A fresh node: one stage, nothing plugged.
  EXPECT_EQ(node->evaluate(spot(normal)).value, normal);
  connectStage(*node, 1, Vec3{1, 0, 0}, 1.0);
  for (int32_t count : {0, -3}) {
    loadCount(*node, count);
    host.log().clear();
    EXPECT_EQ(node->evaluate(spot(normal)).value, normal) << "count " << count;
    EXPECT_TRUE(host.log().withPrefix("input.").empty());
  }
}

TEST_F(MultiShadingTest, OnlySpotsOnTheScenesObjectsAreShaded) {
  connectStage(*node, 1, Vec3{1, 0, 0}, 1.0);
  const Vec3 normal = {0, 0, 1};
  hostsim::SceneObject &gone = host.scene().addObject("Gone");
  host.scene().remove(gone);
  for (ItemId object : {ItemId{nullptr}, gone.id()}) {
    host.log().clear();
    const auto result = node->evaluate(makeSpot(normal, object));
    EXPECT_EQ(result.value, normal);
    EXPECT_TRUE(result.setOnce());
    EXPECT_TRUE(host.log().withPrefix("input.").empty());
  }
  // A later activation without an item table stops every node shading.
  ASSERT_EQ(host.activateHandler(kMulti, NODE_HANDLER_VERSION, {.itemTable = false}), ACTIVATE_OK);
  EXPECT_EQ(node->evaluate(spot(normal)).value, normal);
}

// Without the item service no spot can be shown to lie on a scene object.
TEST_F(ModuleTest, WithoutItemInfoTheMultiNodePassesEverySpotThrough) {
  host.setServiceAvailable(ITEM_INFO_SERVICE, false);
  host.setServiceAvailable(ITEM_INFO_SERVICE_5, false);
  ASSERT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  hostsim::Node &node = host.createNode(kMulti, "n");
  const hostsim::SceneObject &cube = host.scene().addObject("Cube");
  node.connect(facts::stageReferenceInput(1), Vec3{1, 0, 0});
  node.connect(facts::stageWeightInput(1), 1.0);
  host.log().clear();
  const Vec3 normal = {0, 0.6, 0.8};
  const auto result = node.evaluate(makeSpot(normal, cube.id()));
  EXPECT_EQ(result.value, normal);
  EXPECT_TRUE(result.setOnce());
  EXPECT_TRUE(host.log().withPrefix("input.").empty());
}

// ---- many threads, no allocation -------------------------------------------

TEST_F(MultiShadingTest, ManyThreadsShadeOneInstanceAsOneThreadDoes) {
  loadCount(*node, 4);
  for (int k = 1; k <= 4; ++k) {
    node->connect(facts::stageReferenceInput(k), [k](const NodalAccess &s, double *out) {
      out[0] = s.wNorm[1] * k;
      out[1] = 1.0 - k;
      out[2] = s.wNorm[0];
    });
  }
  node->connect(facts::stageWeightInput(1),
                [](const NodalAccess &s, double *out) { out[0] = s.wNorm[2]; });
  node->connect(facts::stageWeightInput(2), 0.0);
  node->connect(facts::stageWeightInput(4), -0.75);
  std::vector<NodalAccess> spots;
  for (int i = 0; i < 2000; ++i) {
    const double a = i * 0.013;
    spots.push_back(
        spot({std::sin(a) * std::cos(3 * a), std::sin(a) * std::sin(3 * a), std::cos(a)}));
  }
  std::vector<Vec3> serial;
  for (const NodalAccess &s : spots) serial.push_back(node->evaluate(s).value);

  host.log().setRecording(false);
  std::vector<std::vector<Vec3>> perThread(8);
  std::vector<std::thread> threads;
  for (auto &out : perThread) {
    threads.emplace_back([&, out = &out] {
      for (const NodalAccess &s : spots) out->push_back(node->evaluate(s).value);
    });
  }
  for (auto &t : threads) t.join();
  for (std::size_t t = 0; t < perThread.size(); ++t) {
    ASSERT_EQ(perThread[t], serial) << "thread " << t;
  }
}

#ifdef KERROWBEND_HEAP_COUNTING
TEST_F(MultiShadingTest, ShadingAllocatesNothingOnAnyPath) {
  loadCount(*node, 9);  // past the stage list's first growth
  connectStage(*node, 1, Vec3{1, 0, 0}, 0.5);
  connectStage(*node, 2, std::nullopt, 0.5);
  connectStage(*node, 3, Vec3{0, 1, 0}, std::nullopt);
  connectStage(*node, 4, Vec3{0, 1, 0}, 0.0);
  connectStage(*node, 9, Vec3{0, 0, 0}, 0.3);
  host.log().setRecording(false);
  heapcount::Scope scope;
  node->evaluate(spot({0.2, 0.1, 0.9}));
  node->evaluate(makeSpot({0.2, 0.1, 0.9}));  // off the scene
  EXPECT_EQ(scope.allocations(), 0u);
}
#endif

}  // namespace
}  // namespace kerrowbend_test
