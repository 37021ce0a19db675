// Shading with the single-reference node: where the weight and the
// reference come from, when the normal is passed through unchanged, and
// that shading is safe on many threads and allocates nothing.
#include <cmath>
#include <numbers>
#include <optional>
#include <ostream>
#include <random>
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

using hostsim::BlockForm;
using hostsim::makeSpot;
using hostsim::Vec3;

constexpr double kHalfPi = std::numbers::pi / 2;

// Stores the node's three settings the way a scene file would.
void configure(hostsim::Node &node, const std::string &object, int invert,
               const std::string &weightMap) {
  hostsim::BlockWriter data(BlockForm::Binary);
  data.begin(facts::kObjectBlock.id, facts::kObjectBlock.token);
  data.writeString(object);
  data.end();
  data.begin(facts::kInvertBlock.id, facts::kInvertBlock.token);
  data.writeInt(invert);
  data.end();
  data.begin(facts::kWeightMapBlock.id, facts::kWeightMapBlock.token);
  data.writeString(weightMap);
  data.end();
  ASSERT_EQ(node.load(BlockForm::Binary, data.finish()), nullptr);
}

// Dragging (0, 0, 1) toward +x by weight w lands on (sin wπ/2, 0, cos wπ/2);
// reading the weight back from the result shows which weight was used.
double weightUsed(const Vec3 &result) { return std::atan2(result[0], result[2]) / kHalfPi; }

::testing::AssertionResult isPassThrough(const hostsim::Evaluation &e, const Vec3 &normal) {
  if (!e.setOnce()) {
    return ::testing::AssertionFailure() << "output set " << e.setValueCalls << " times";
  }
  if (e.value != normal) {
    return ::testing::AssertionFailure() << "got (" << e.value[0] << ", " << e.value[1] << ", "
                                         << e.value[2] << "), expected the normal (" << normal[0]
                                         << ", " << normal[1] << ", " << normal[2] << ") unchanged";
  }
  return ::testing::AssertionSuccess();
}

// A cube with a four-point polygon and a weight map "Paint" on it, and a
// proxy object whose forward axis is +x; the node's reference is the proxy
// (not inverted) and its weight comes from "Paint".
class ShadingTest : public DragNodeTest {
 public:
  NodalAccess spot(const Vec3 &normal = {0, 0, 1}) const {
    return makeSpot(normal, cube->id(), {points[0], points[1], points[2], points[3]},
                    {bary[0], bary[1], bary[2], bary[3]});
  }

 protected:
  void SetUp() override {
    DragNodeTest::SetUp();
    cube = &host.scene().addObject("Cube");
    for (PointId &p : points) p = cube->addPoint();
    proxy = &host.scene().addObject("Proxy");
    proxy->setForward(Vec3{1, 0, 0});
    for (int i = 0; i < 4; ++i) cube->setWeight("Paint", points[i], paint[i]);
    configure(*node, "Proxy", 0, "Paint");
    host.newTime(0, 0.0);
  }

  // The weight the map gives at spot(): each product in single precision.
  double paintedWeight() const {
    double w = 0.0;
    for (int i = 0; i < 4; ++i) w += static_cast<float>(paint[i] * bary[i]);
    return w;
  }

  hostsim::SceneObject *cube = nullptr;
  hostsim::SceneObject *proxy = nullptr;
  PointId points[4] = {};
  float paint[4] = {0.1F, 0.7F, 0.3F, 0.9F};
  float bary[4] = {0.1F, 0.2F, 0.3F, 0.4F};
  const hostsim::Counters &counters = host.log().counters;
};

// ---- where the weight and the reference come from -------------------------

TEST_F(DragNodeTest, FreshNodePassesTheNormalThrough) {
  const auto &cube = host.scene().addObject("Cube");
  host.newTime(0, 0.0);
  EXPECT_TRUE(isPassThrough(node->evaluate(makeSpot({0.3, 0.4, 0.5}, cube.id())), {0.3, 0.4, 0.5}));
}

TEST_F(ShadingTest, ConnectedInputsOverrideTheNamedObjectAndMap) {
  node->connect(facts::kWeightInput, 0.5);
  node->connect(facts::kReferenceInput, Vec3{2, 0, 0});
  configure(*node, "Nothing by this name", 0, "No such map");
  host.log().clear();
  const auto result = node->evaluate(spot());
  EXPECT_NEAR(result.value[0], std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(result.value[1], 0.0, 1e-12);
  EXPECT_NEAR(result.value[2], std::sqrt(0.5), 1e-12);
  EXPECT_FALSE(host.log().contains("object.meshInfo 1")) << "the map is not consulted";
  EXPECT_FALSE(host.log().contains("lookup LW Time Info")) << "the time is not needed";
}

TEST_F(ShadingTest, InvertTurnsTheNormalTowardTheNegatedReference) {
  node->connect(facts::kWeightInput, 1.0);
  node->connect(facts::kReferenceInput, Vec3{0, 1, 0});
  for (int invert : {1, -7}) {
    configure(*node, "Proxy", invert, "Paint");
    const auto result = node->evaluate(spot());
    EXPECT_NEAR(result.value[1], -1.0, 1e-12) << "invert " << invert;
  }
}

TEST_F(ShadingTest, WeightMapIsBlendedWithSinglePrecisionProducts) {
  double viaDoubles = 0.0;
  for (int i = 0; i < 4; ++i) viaDoubles += double{paint[i]} * double{bary[i]};
  ASSERT_GT(std::abs(viaDoubles - paintedWeight()), 1e-10) << "inputs must tell the two apart";
  const auto result = node->evaluate(spot());
  EXPECT_NEAR(weightUsed(result.value), paintedWeight(), 1e-14);
}

// An empty vertex slot is skipped, never handed to the host as a null
// point, wherever it falls among the four.
TEST_F(ShadingTest, VertexSlotsWithoutAPointOrAValueAddNothing) {
  cube->weightMap("Paint").clear(points[1]);
  for (int empty : {0, 2, 3}) {
    auto s = spot();
    s.verts[empty] = nullptr;
    double expected = 0.0;
    for (int i : {0, 2, 3}) {
      if (i != empty) expected += double{static_cast<float>(paint[i] * bary[i])};
    }
    EXPECT_NEAR(weightUsed(node->evaluate(s).value), expected, 1e-14) << "slot " << empty;
  }
  EXPECT_EQ(host.scene().nullPointQueries(), 0);
}

TEST_F(ShadingTest, MapWithoutValuesAtTheSpotGivesWeightZero) {
  for (PointId p : points) cube->weightMap("Paint").clear(p);
  const auto result = node->evaluate(spot({0, 0, 1}));
  EXPECT_TRUE(isPassThrough(result, {0, 0, 1})) << "weight 0 leaves the normal as it is";
  EXPECT_EQ(counters.meshInfoObtained, 1);
}

// A plugged weight input wins over the map name, whatever that holds; only
// an unplugged one falls back to the map, or to 1 without a name.
struct WeightCase {
  const char *label;
  std::optional<double> input;  // the Weight input's value, or unplugged
  const char *mapName;
  double expected;
};

void PrintTo(const WeightCase &c, std::ostream *os) { *os << c.label; }

class WeightSourceTest : public ShadingTest, public ::testing::WithParamInterface<WeightCase> {};

TEST_P(WeightSourceTest, WeightComesFromThePluggedInputBeforeAnyMapName) {
  const WeightCase &c = GetParam();
  configure(*node, "Proxy", 0, c.mapName);
  if (c.input) node->connect(facts::kWeightInput, *c.input);
  EXPECT_NEAR(weightUsed(node->evaluate(spot()).value), c.expected, 1e-14);
  EXPECT_EQ(counters.meshInfoObtained, 0) << "no map is sampled";
}

INSTANTIATE_TEST_SUITE_P(Sources, WeightSourceTest,
                         ::testing::Values(WeightCase{"UnpluggedWithoutMapNameIsOne", std::nullopt,
                                                      "", 1.0},
                                           WeightCase{"PluggedWithoutMapName", 0.25, "", 0.25},
                                           WeightCase{"PluggedWithMissingMap", 0.25, "Dust", 0.25}),
                         [](const auto &info) { return std::string(info.param.label); });

TEST_F(ShadingTest, ReferenceObjectIsReadAtTheCurrentTime) {
  proxy->setForward([](double time) { return Vec3{std::sin(time), 0, std::cos(time)}; });
  node->connect(facts::kWeightInput, 1.0);
  for (double time : {0.5, 1.0, 1.5}) {
    host.scene().setTime(time);  // no new time: the object stays cached, its axis moves
    const auto result = node->evaluate(spot());
    EXPECT_NEAR(result.value[0], std::sin(time), 1e-12) << "time " << time;
    EXPECT_NEAR(result.value[2], std::cos(time), 1e-12) << "time " << time;
  }
}

// The mesh's vertex-map lookup moved to a later entry in hosts above 10.0.
struct VersionCase {
  int major;
  int minor;
  bool laterLookup;
};

void PrintTo(const VersionCase &c, std::ostream *os) {
  *os << "host " << c.major << "." << c.minor;
}

class LookupEntryTest : public ShadingTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(LookupEntryTest, HostVersionChoosesTheVertexMapLookup) {
  const VersionCase c = GetParam();
  host.setProductVersion(c.major, c.minor);
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);  // the version is read at each activation
  node->evaluate(spot());
  EXPECT_EQ(counters.vmapLookupV2, c.laterLookup ? 1 : 0) << c.major << "." << c.minor;
  EXPECT_EQ(counters.vmapLookupV1, c.laterLookup ? 0 : 1) << c.major << "." << c.minor;
}

INSTANTIATE_TEST_SUITE_P(Versions, LookupEntryTest,
                         ::testing::Values(VersionCase{9, 6, false}, VersionCase{10, 0, false},
                                           VersionCase{10, 1, true}, VersionCase{11, 0, true},
                                           VersionCase{15, 15, true}));

TEST_F(ShadingTest, ProductCodeBitsOutsideTheVersionAreIgnored) {
  host.setProductCode(hostsim::productCodeFor(10, 0) | 0xFF00FFFFu);
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  node->evaluate(spot());
  EXPECT_EQ(counters.vmapLookupV1, 1) << "decodes to 100";
}

TEST_F(ShadingTest, OtherNodesActivationKeepsTheVersionItRead) {
  host.setProductVersion(9, 0);
  ASSERT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  node->evaluate(spot());
  EXPECT_EQ(counters.vmapLookupV2, 1) << "still 10.1 from this node's activation";
}

// The contract asks every lookup for usage mode 0: the fetch at the first
// activation, the product code at each, and the time at each spot shaded
// through the reference object, whichever routine carries it.
TEST_F(ShadingTest, EveryLookupIsMadeWithUsageModeZero) {
  hostsim::HandlerOptions other;
  other.routine = 2;
  ASSERT_EQ(host.activateHandler(kMulti, NODE_HANDLER_VERSION, other), ACTIVATE_OK);
  ASSERT_EQ(host.activateHandler(kSingle, NODE_HANDLER_VERSION, other), ACTIVATE_OK);
  node->evaluate(spot());
  host.log().setRecording(false);  // the counter stays exact without the log
  node->evaluate(spot());
  EXPECT_EQ(host.lookupCount(NODE_FUNCS_SERVICE), 1);
  EXPECT_EQ(host.lookupCount(PRODUCT_INFO_SERVICE), 3);
  EXPECT_EQ(host.lookupCount(TIME_INFO_SERVICE), 2);
  EXPECT_EQ(counters.lookupsWithNonZeroMode, 0);
  for (const hostsim::LookupCall &call : host.lookupCalls()) {
    EXPECT_EQ(call.useMode, 0) << call.name << " through routine " << call.routine;
    // The time goes through the routine kept at the first activation, not
    // the one a later activation brought.
    if (call.name == TIME_INFO_SERVICE) {
      EXPECT_EQ(call.routine, 0);
    }
  }
}

// ---- pass-through ----------------------------------------------------------

// The weight is settled first: once the map proves missing, the reference
// (plugged or from the object) is never asked for.
TEST_F(ShadingTest, NamedMapMissingFromTheObjectPassesThroughWithoutTouchingTheReference) {
  configure(*node, "Proxy", 0, "Dust");
  for (bool plugged : {false, true}) {
    SCOPED_TRACE(plugged ? "reference plugged" : "reference object");
    if (plugged) node->connect(facts::kReferenceInput, Vec3{1, 0, 0});
    host.log().clear();
    EXPECT_TRUE(isPassThrough(node->evaluate(spot({0, 0.6, 0.8})), {0, 0.6, 0.8}));
    ASSERT_TRUE(host.log().contains("mesh.lookupV2 Dust")) << "the map was sought";
    for (const char *call : {"input.check Reference Normal", "input.evaluate Reference Normal",
                             "lookup LW Time Info", "item.param 4"}) {
      EXPECT_FALSE(host.log().contains(call)) << call;
    }
  }
}

// The time is looked up before the reference object is known to be
// missing, so a host counts one lookup per spot either way.
TEST_F(ShadingTest, MissingReferenceObjectPassesThroughAfterLookingUpTheTime) {
  configure(*node, "Gone", 0, "Paint");
  host.newTime(1, 0.04);
  host.log().clear();
  EXPECT_TRUE(isPassThrough(node->evaluate(spot({0, 0.6, 0.8})), {0, 0.6, 0.8}));
  EXPECT_EQ(host.log().count("lookup LW Time Info"), 1u);
  EXPECT_FALSE(host.log().contains("item.param 4"));
}

TEST_F(ShadingTest, SpotOnAnObjectOutsideTheScenePassesThrough) {
  node->connect(facts::kWeightInput, 1.0);
  node->connect(facts::kReferenceInput, Vec3{1, 0, 0});
  auto s = spot({0, 0.6, 0.8});
  s.objId = nullptr;
  EXPECT_TRUE(isPassThrough(node->evaluate(s), {0, 0.6, 0.8})) << "no object";
  hostsim::SceneObject &old = host.scene().addObject("Old");
  host.scene().remove(old);
  s.objId = old.id();
  EXPECT_TRUE(isPassThrough(node->evaluate(s), {0, 0.6, 0.8})) << "removed object";
}

TEST_F(ShadingTest, MeshInfoRefusedPassesThrough) {
  host.scene().setMeshInfoRefused(true);
  EXPECT_TRUE(isPassThrough(node->evaluate(spot({0, 0.6, 0.8})), {0, 0.6, 0.8}));
}

TEST_F(ShadingTest, MeshInfoIsAskedFrozenAndReleasedOnEveryPathThatObtainedIt) {
  node->evaluate(spot());  // map found
  configure(*node, "Proxy", 0, "Dust");
  node->evaluate(spot());  // map not found
  configure(*node, "Gone", 0, "Paint");
  host.newTime(1, 0.04);
  node->evaluate(spot());  // map found, reference not
  EXPECT_EQ(counters.meshInfoObtained, 3);
  EXPECT_EQ(counters.meshReleased, 3);
  EXPECT_EQ(host.log().withPrefix("object.meshInfo "),
            std::vector<std::string>(3, "object.meshInfo 1"));
}

TEST_F(ShadingTest, MeshInfoWithoutAReleaseEntryIsNotReleased) {
  host.scene().setMeshReleaseAvailable(false);
  EXPECT_NEAR(weightUsed(node->evaluate(spot()).value), paintedWeight(), 1e-14);
  EXPECT_EQ(counters.meshInfoObtained, 1);
  EXPECT_EQ(counters.meshReleased, 0);
}

// Hosts that lack a service from the start: the fixture activates only
// after switching it off, since services are fetched once per module.
class MissingServiceShadingTest : public ModuleTest {
 protected:
  hostsim::Node &placeAfterSwitchingOff(std::initializer_list<const char *> names) {
    for (const char *name : names) host.setServiceAvailable(name, false);
    EXPECT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
    cube = &host.scene().addObject("Cube");
    p = cube->addPoint();
    cube->setWeight("Paint", p, 0.5F);
    host.scene().addObject("Proxy").setForward(Vec3{1, 0, 0});
    hostsim::Node &n = host.createNode(kSingle, "n");
    configure(n, "Proxy", 0, "Paint");
    host.newTime(0, 0.0);
    return n;
  }
  NodalAccess spot() const { return makeSpot({0, 0.6, 0.8}, cube->id(), {p}, {1.0F}); }

  hostsim::SceneObject *cube = nullptr;
  PointId p = nullptr;
};

TEST_F(MissingServiceShadingTest, WithoutObjectInfoTheMapCannotBeSampled) {
  hostsim::Node &n =
      placeAfterSwitchingOff({OBJECT_INFO_SERVICE, OBJECT_INFO_SERVICE_8, OBJECT_INFO_SERVICE_7});
  host.log().clear();
  EXPECT_TRUE(isPassThrough(n.evaluate(spot()), {0, 0.6, 0.8}));
  // A weight of 0 would leave the normal as it is too; only the calls tell
  // that the reference was never sought.
  for (const char *call : {"input.check Reference Normal", "lookup LW Time Info", "item.param 4"}) {
    EXPECT_FALSE(host.log().contains(call)) << call;
  }
  n.connect(facts::kWeightInput, 1.0);
  EXPECT_NEAR(n.evaluate(spot()).value[0], 1.0, 1e-12) << "a connected weight needs no mesh";
}

TEST_F(MissingServiceShadingTest, WithoutTimeInfoOnlyAConnectedReferenceShades) {
  hostsim::Node &n = placeAfterSwitchingOff({TIME_INFO_SERVICE});
  EXPECT_TRUE(isPassThrough(n.evaluate(spot()), {0, 0.6, 0.8}));
  n.connect(facts::kReferenceInput, Vec3{1, 0, 0});
  EXPECT_NE(n.evaluate(spot()).value, (Vec3{0, 0.6, 0.8}));
}

TEST_F(MissingServiceShadingTest, WithoutItemInfoNothingIsOnAnObject) {
  hostsim::Node &n = placeAfterSwitchingOff({ITEM_INFO_SERVICE, ITEM_INFO_SERVICE_5});
  n.connect(facts::kWeightInput, 1.0);
  n.connect(facts::kReferenceInput, Vec3{1, 0, 0});
  EXPECT_TRUE(isPassThrough(n.evaluate(spot()), {0, 0.6, 0.8}));
}

TEST_F(ModuleTest, WithoutARenderTableOnlyAConnectedReferenceShades) {
  hostsim::HandlerOptions options;
  options.renderTable = false;
  ASSERT_EQ(host.activateHandler(kSingle, NODE_HANDLER_VERSION, options), ACTIVATE_OK);
  const auto &cube = host.scene().addObject("Cube");
  host.scene().addObject("Proxy").setForward(Vec3{1, 0, 0});
  hostsim::Node &n = host.createNode(kSingle, "n");
  configure(n, "Proxy", 0, "");
  host.newTime(0, 0.0);  // the host has no way to tell the node
  EXPECT_TRUE(isPassThrough(n.evaluate(makeSpot({0, 0, 1}, cube.id())), {0, 0, 1}));
  n.connect(facts::kReferenceInput, Vec3{1, 0, 0});
  EXPECT_NEAR(n.evaluate(makeSpot({0, 0, 1}, cube.id())).value[0], 1.0, 1e-12);
}

// ---- render threads --------------------------------------------------------

// Spots with scattered normals and barycentric weights over the cube.
std::vector<NodalAccess> scatteredSpots(const ShadingTest &t, std::size_t count) {
  std::mt19937 random(7);
  std::normal_distribution<double> gauss;
  std::uniform_real_distribution<float> share(0.0F, 1.0F);
  std::vector<NodalAccess> spots;
  for (std::size_t i = 0; i < count; ++i) {
    NodalAccess s = t.spot({gauss(random), gauss(random), gauss(random)});
    for (float &w : s.weights) w = share(random);
    spots.push_back(s);
  }
  return spots;
}

TEST_F(ShadingTest, ManyThreadsShadeOneInstanceAsOneThreadDoes) {
  // The weight comes per spot from an input, the reference from the proxy.
  node->connect(facts::kWeightInput,
                [](const NodalAccess &s, double *out) { out[0] = s.wNorm[0]; });
  const std::vector<NodalAccess> spots = scatteredSpots(*this, 2000);
  std::vector<Vec3> serial;
  for (const NodalAccess &s : spots) serial.push_back(node->evaluate(s).value);
  node->disconnect(facts::kWeightInput);  // now from the weight map
  for (const NodalAccess &s : spots) serial.push_back(node->evaluate(s).value);

  // Evaluate the two halves again from 8 threads at once, twice over.
  node->connect(facts::kWeightInput,
                [](const NodalAccess &s, double *out) { out[0] = s.wNorm[0]; });
  host.log().setRecording(false);
  auto shadeAll = [&](std::vector<Vec3> &out) {
    for (const NodalAccess &s : spots) out.push_back(node->evaluate(s).value);
  };
  std::vector<std::vector<Vec3>> perThread(8);
  std::vector<std::thread> threads;
  for (auto &out : perThread) threads.emplace_back(shadeAll, std::ref(out));
  for (auto &t : threads) t.join();
  node->disconnect(facts::kWeightInput);
  threads.clear();
  for (auto &out : perThread) threads.emplace_back(shadeAll, std::ref(out));
  for (auto &t : threads) t.join();

  for (std::size_t t = 0; t < perThread.size(); ++t) {
    ASSERT_EQ(perThread[t].size(), serial.size());
    for (std::size_t i = 0; i < serial.size(); ++i) {
      ASSERT_EQ(perThread[t][i], serial[i]) << "thread " << t << ", spot " << i;
    }
  }
}

#ifdef KERROWBEND_HEAP_COUNTING
TEST_F(ShadingTest, ShadingAllocatesNothingOnAnyPath) {
  {
    heapcount::Scope scope;
    host.createNode(kSingle, "counted");
    ASSERT_GT(scope.allocations(), 0u) << "placing a node allocates; the counter must see it";
  }
  host.log().setRecording(false);
  // Connecting inputs and loading settings is the host's business and may
  // allocate; only the evaluations are counted.
  std::size_t allocations = 0;
  auto countShading = [&](const char *path, bool outsideToo = false) {
    heapcount::Scope scope;
    node->evaluate(spot({0.2, 0.1, 0.9}));
    if (outsideToo) node->evaluate(makeSpot({0.2, 0.1, 0.9}));
    EXPECT_EQ(scope.allocations(), 0u) << path;
    allocations += scope.allocations();
  };
  node->connect(facts::kReferenceInput, Vec3{1, 0, 0});
  countShading("weight map, connected reference");
  node->disconnect(facts::kReferenceInput);
  countShading("weight map, reference object");
  node->connect(facts::kWeightInput, 0.25);
  countShading("connected weight, reference object; spot off the scene", true);
  node->disconnect(facts::kWeightInput);
  configure(*node, "Proxy", 0, "Dust");
  countShading("weight map missing");
  EXPECT_EQ(allocations, 0u);
}
#endif

}  // namespace
}  // namespace kerrowbend_test
