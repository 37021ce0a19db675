// What a host sees of the module file: the exported descriptor, the server
// list, and the activation protocol both nodes share.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/module_fixture.h"

namespace kerrowbend_test {
namespace {

using hostsim::HandlerOptions;
using hostsim::makeSpot;
using Names = std::vector<std::string>;

Names lookups(const hostsim::Host &host) {
  return const_cast<hostsim::Host &>(host).log().withPrefix("lookup ");
}

// The lookups of a first handler activation on a host that offers every
// name: the first name of each service, then the product code.
const Names kFirstChoiceLookups = {
    "lookup LW Item Info 6",    "lookup NodeFuncs",       "lookup NodeInputFuncs 3",
    "lookup NodeOutputFuncs 2", "lookup Scene Objects 7", "lookup LW Object Info 9",
    "lookup LWXPanel 2",        "lookup Product Info",
};

// ---- descriptor and servers ------------------------------------------------

using DescriptorTest = ModuleTest;

TEST_F(DescriptorTest, CarriesTheProtocolCodesAndANonNullHandle) {
  const ModuleDescriptor &d = host.module().descriptor();
  EXPECT_EQ(d.sysSync, MODULE_SYNC_CODE);
  EXPECT_EQ(d.sysVersion, MODULE_SYSTEM_VERSION);
  EXPECT_EQ(d.sysMachine, MODULE_MACHINE_CODE);
  EXPECT_EQ(host.module().startupHandle(), reinterpret_cast<void *>(4));
}

TEST_F(DescriptorTest, ListsEachNodeAsAHandlerAndAnInterfaceInOrder) {
  const auto &servers = host.module().servers();
  ASSERT_EQ(servers.size(), 4u);
  const char *expected[4][2] = {{SERVER_CLASS_NODE_HANDLER, kSingle},
                                {SERVER_CLASS_NODE_INTERFACE, kSingle},
                                {SERVER_CLASS_NODE_HANDLER, kMulti},
                                {SERVER_CLASS_NODE_INTERFACE, kMulti}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE("server " + std::to_string(i));
    EXPECT_STREQ(servers[i]->className, expected[i][0]);
    EXPECT_STREQ(servers[i]->name, expected[i][1]);
    EXPECT_NE(servers[i]->activate, nullptr);
  }
}

TEST_F(DescriptorTest, TagsNameTheNodeAndItsToolsGroup) {
  for (const ServerRecord *server : host.module().servers()) {
    SCOPED_TRACE(std::string(server->className) + " " + server->name);
    const ServerTagInfo *tags = server->tagInfo;
    ASSERT_NE(tags, nullptr);
    EXPECT_STREQ(tags[0].string, server->name);
    EXPECT_EQ(tags[0].tag, SERVER_TAG_DISPLAY_NAME);
    EXPECT_STREQ(tags[1].string, "/Tools");
    EXPECT_EQ(tags[1].tag, SERVER_TAG_NODE_GROUP);
    EXPECT_EQ(tags[2].string, nullptr);
    EXPECT_EQ(tags[2].tag, 0u);
  }
  // Both servers of a node share one list.
  const auto &servers = host.module().servers();
  EXPECT_EQ(servers[0]->tagInfo, servers[1]->tagInfo);
  EXPECT_EQ(servers[2]->tagInfo, servers[3]->tagInfo);
}

// ---- handler activation ----------------------------------------------------

class HandlerVersionTest : public ModuleTest, public ::testing::WithParamInterface<int> {};

TEST_P(HandlerVersionTest, RefusesAnUnknownVersionWithoutTouchingHostOrRecord) {
  for (const char *server : {kSingle, kMulti}) {
    SCOPED_TRACE(server);
    EXPECT_EQ(host.activateHandler(server, GetParam()), ACTIVATE_BAD_VERSION);
    const NodeHandler &record = host.handler(server)->record;
    EXPECT_EQ(record.inst->create, nullptr);
    EXPECT_EQ(record.evaluate, nullptr);
  }
  EXPECT_TRUE(lookups(host).empty()) << "no service may be fetched before the version passes";
}

INSTANTIATE_TEST_SUITE_P(Versions, HandlerVersionTest, ::testing::Values(-1, 0, 1, 4, 5, 100));

TEST_F(ModuleTest, HandlerAcceptsVersionsTwoAndThree) {
  EXPECT_EQ(host.activateHandler(kSingle, NODE_HANDLER_VERSION_PREVIOUS), ACTIVATE_OK);
  EXPECT_EQ(host.activateHandler(kSingle, NODE_HANDLER_VERSION), ACTIVATE_OK);
  EXPECT_EQ(host.activateHandler(kMulti, NODE_HANDLER_VERSION_PREVIOUS), ACTIVATE_OK);
  EXPECT_EQ(host.activateHandler(kMulti, NODE_HANDLER_VERSION), ACTIVATE_OK);
}

TEST_F(ModuleTest, FirstActivationFetchesTheFirstNameOfEachService) {
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  EXPECT_EQ(lookups(host), kFirstChoiceLookups);
}

TEST_F(ModuleTest, FallbackNamesAreTriedOnlyWhenTheNameBeforeGaveNone) {
  for (const char *name :
       {ITEM_INFO_SERVICE, NODE_INPUT_FUNCS_SERVICE, NODE_OUTPUT_FUNCS_SERVICE,
        SCENE_OBJECTS_SERVICE, OBJECT_INFO_SERVICE, OBJECT_INFO_SERVICE_8, PANEL_SERVICE}) {
    host.setServiceAvailable(name, false);
  }
  ASSERT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  const Names expected = {
      "lookup LW Item Info 6",   "lookup LW Item Info 5",   "lookup NodeFuncs",
      "lookup NodeInputFuncs 3", "lookup NodeInputFuncs 2", "lookup NodeOutputFuncs 2",
      "lookup NodeOutputFuncs",  "lookup Scene Objects 7",  "lookup Scene Objects 6",
      "lookup LW Object Info 9", "lookup LW Object Info 8", "lookup LW Object Info 7",
      "lookup LWXPanel 2",       "lookup LWXPanel",         "lookup Product Info",
  };
  EXPECT_EQ(lookups(host), expected);
}

TEST_F(ModuleTest, OptionalServicesMissingEverywhereStillActivate) {
  for (const char *name :
       {ITEM_INFO_SERVICE, ITEM_INFO_SERVICE_5, SCENE_OBJECTS_SERVICE, SCENE_OBJECTS_SERVICE_6,
        OBJECT_INFO_SERVICE, OBJECT_INFO_SERVICE_8, OBJECT_INFO_SERVICE_7, PANEL_SERVICE,
        PANEL_SERVICE_1, PRODUCT_INFO_SERVICE}) {
    host.setServiceAvailable(name, false);
  }
  EXPECT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  EXPECT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  // Without item info no spot is on a scene object: the normal passes.
  hostsim::Node &node = host.createNode(kSingle, "n");
  node.connect(facts::kWeightInput, 1.0);
  node.connect(facts::kReferenceInput, hostsim::Vec3{1, 0, 0});
  const auto result = node.evaluate(makeSpot({0, 0, 1}, host.scene().addObject("Cube").id()));
  EXPECT_EQ(result.value, (hostsim::Vec3{0, 0, 1}));
  EXPECT_TRUE(result.setOnce());
}

struct RequiredService {
  const char *label;
  std::vector<const char *> names;  // every name the service goes by
};

void PrintTo(const RequiredService &service, std::ostream *os) { *os << service.label; }

class RequiredServiceTest : public ModuleTest,
                            public ::testing::WithParamInterface<RequiredService> {};

TEST_P(RequiredServiceTest, MissingAtFirstActivationFailsEveryActivationAfter) {
  for (const char *name : GetParam().names) host.setServiceAvailable(name, false);
  EXPECT_EQ(host.activateHandler(kSingle), ACTIVATE_MISSING_SERVICE);
  EXPECT_EQ(host.handler(kSingle)->record.inst->create, nullptr) << "nothing installed";
  EXPECT_EQ(host.handler(kSingle)->record.evaluate, nullptr);

  // Services are fetched once per module lifetime, so offering the service
  // now changes nothing, for either node.
  for (const char *name : GetParam().names) host.setServiceAvailable(name, true);
  host.log().clear();
  EXPECT_EQ(host.activateHandler(kSingle), ACTIVATE_MISSING_SERVICE);
  EXPECT_EQ(host.activateHandler(kMulti), ACTIVATE_MISSING_SERVICE);
  EXPECT_EQ(lookups(host), (Names{"lookup Product Info", "lookup Product Info"}));
}

INSTANTIATE_TEST_SUITE_P(
    Services, RequiredServiceTest,
    ::testing::Values(
        RequiredService{NODE_FUNCS_SERVICE, {NODE_FUNCS_SERVICE}},
        RequiredService{"NodeInputs", {NODE_INPUT_FUNCS_SERVICE, NODE_INPUT_FUNCS_SERVICE_2}},
        RequiredService{"NodeOutputs", {NODE_OUTPUT_FUNCS_SERVICE, NODE_OUTPUT_FUNCS_SERVICE_1}}),
    [](const auto &info) { return std::string(info.param.label); });

TEST_F(ModuleTest, LaterActivationsOfEitherNodeOnlyReadTheProductCode) {
  ASSERT_EQ(host.activateHandler(kSingle, 1),
            ACTIVATE_BAD_VERSION);  // a refused version fetches nothing
  ASSERT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  EXPECT_EQ(lookups(host), kFirstChoiceLookups);
  host.log().clear();
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  ASSERT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  EXPECT_EQ(lookups(host), (Names{"lookup Product Info", "lookup Product Info"}));
}

// A host may hand each activation a lookup routine of its own. The services
// come once, through the first activation's routine; the product code and
// the instance table's private field belong to the activation at hand.
struct RoutineCase {
  const char *label;
  const char *first;   // server activated first, with routine 0
  const char *second;  // server activated next, with routine 1
};

void PrintTo(const RoutineCase &c, std::ostream *os) { *os << c.label; }

class CurrentRoutineTest : public ModuleTest, public ::testing::WithParamInterface<RoutineCase> {};

TEST_P(CurrentRoutineTest, LaterActivationUsesItsOwnRoutineForProductAndPrivateField) {
  const RoutineCase &c = GetParam();
  HandlerOptions first;
  first.routine = 0;
  ASSERT_EQ(host.activateHandler(c.first, NODE_HANDLER_VERSION, first), ACTIVATE_OK);
  const std::vector<hostsim::LookupCall> fetched = host.lookupCalls();
  EXPECT_EQ(fetched.size(), kFirstChoiceLookups.size());
  for (const hostsim::LookupCall &call : fetched) EXPECT_EQ(call.routine, 0) << call.name;

  host.log().clear();
  HandlerOptions second;
  second.routine = 1;
  ASSERT_EQ(host.activateHandler(c.second, NODE_HANDLER_VERSION, second), ACTIVATE_OK);
  EXPECT_EQ(host.handler(c.second)->instance.priv, reinterpret_cast<void *>(host.global(1)));
  EXPECT_EQ(
      host.lookupCalls(),
      (std::vector<hostsim::LookupCall>{{PRODUCT_INFO_SERVICE, /*routine=*/1, /*useMode=*/0}}));
}

INSTANTIATE_TEST_SUITE_P(Servers, CurrentRoutineTest,
                         ::testing::Values(RoutineCase{"Single", kSingle, kSingle},
                                           RoutineCase{"Multi", kMulti, kMulti},
                                           RoutineCase{"MultiAfterSingle", kSingle, kMulti}),
                         [](const auto &info) { return std::string(info.param.label); });

TEST_F(ModuleTest, InstallsCallbacksAndLeavesTheHostsOwnFieldsAsGiven) {
  auto describe = +[](void *) -> const char * { return "host's"; };
  auto *preview = reinterpret_cast<void *>(0x1234);
  HandlerOptions options;
  options.instance.describe = describe;
  options.preview = preview;
  options.flags = 0xA5A5u;
  for (const char *server : {kSingle, kMulti}) {
    SCOPED_TRACE(server);
    ASSERT_EQ(host.activateHandler(server, NODE_HANDLER_VERSION, options), ACTIVATE_OK);
    const hostsim::HandlerActivation &a = *host.handler(server);
    EXPECT_EQ(a.instance.priv, reinterpret_cast<void *>(host.global()));
    EXPECT_NE(a.instance.create, nullptr);
    EXPECT_NE(a.instance.destroy, nullptr);
    EXPECT_NE(a.instance.copy, nullptr);
    EXPECT_NE(a.instance.load, nullptr);
    EXPECT_NE(a.instance.save, nullptr);
    EXPECT_EQ(a.instance.describe, describe);
    EXPECT_EQ(a.record.preview, preview);
    EXPECT_EQ(a.record.flags, 0xA5A5u);
    EXPECT_NE(a.record.evaluate, nullptr);

    // The item callbacks report no used items and accept any id change.
    ASSERT_NE(a.items.useItems, nullptr);
    ASSERT_NE(a.items.changeId, nullptr);
    EXPECT_EQ(a.items.useItems(nullptr), nullptr);
    a.items.changeId(nullptr, nullptr);
    ASSERT_NE(a.render.init, nullptr);
    ASSERT_NE(a.render.cleanup, nullptr);
    ASSERT_NE(a.render.newTime, nullptr);
    EXPECT_EQ(a.render.init(nullptr, 0), nullptr);
    a.render.cleanup(nullptr);
  }
}

TEST_F(ModuleTest, HandlerWithoutItemOrRenderTableLeavesThemAbsent) {
  HandlerOptions options;
  options.itemTable = false;
  options.renderTable = false;
  ASSERT_EQ(host.activateHandler(kSingle, NODE_HANDLER_VERSION, options), ACTIVATE_OK);
  EXPECT_EQ(host.handler(kSingle)->record.item, nullptr);
  EXPECT_EQ(host.handler(kSingle)->record.rend, nullptr);
  EXPECT_NE(host.handler(kSingle)->record.evaluate, nullptr);
}

TEST_F(ModuleTest, HandlerWithoutARecordIsRefusedRatherThanWrittenThrough) {
  for (const char *server : {kSingle, kMulti}) {
    const ServerRecord *record = host.module().findServer(SERVER_CLASS_NODE_HANDLER, server);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->activate(3, host.global(), nullptr, nullptr), 3) << server;
    NodeHandler withoutInstanceTable{};
    EXPECT_EQ(record->activate(3, host.global(), &withoutInstanceTable, nullptr), 3) << server;
    EXPECT_EQ(withoutInstanceTable.evaluate, nullptr);
  }
}

// Shading depends on whether the last successful activation, of either
// node, offered an item table.
TEST_F(ModuleTest, LastActivationDecidesWhetherAnyNodeShades) {
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  hostsim::Node &node = host.createNode(kSingle, "n");
  node.connect(facts::kWeightInput, 1.0);
  node.connect(facts::kReferenceInput, hostsim::Vec3{1, 0, 0});
  const auto spot = makeSpot({0, 0, 1}, host.scene().addObject("Cube").id());
  // A new node inverts its reference, so shading lands on -x.
  EXPECT_NEAR(node.evaluate(spot).value[0], -1.0, 1e-12) << "shades after an item table";

  HandlerOptions withoutItems;
  withoutItems.itemTable = false;
  ASSERT_EQ(host.activateHandler(kMulti, NODE_HANDLER_VERSION, withoutItems), ACTIVATE_OK);
  EXPECT_EQ(node.evaluate(spot).value, (hostsim::Vec3{0, 0, 1})) << "passes through after none";

  ASSERT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  EXPECT_NEAR(node.evaluate(spot).value[0], -1.0, 1e-12) << "shades again";

  ASSERT_EQ(host.activateHandler(kSingle, 7, withoutItems), ACTIVATE_BAD_VERSION);
  EXPECT_NEAR(node.evaluate(spot).value[0], -1.0, 1e-12) << "a refused activation changes nothing";
}

// ---- interface activation --------------------------------------------------

TEST_F(ModuleTest, InterfaceBeforeAnyHandlerHasNoPanelService) {
  for (const char *server : {kSingle, kMulti}) {
    InterfaceRecord record{};
    EXPECT_EQ(host.activateInterface(server, NODE_INTERFACE_VERSION, &record),
              ACTIVATE_MISSING_SERVICE)
        << server;
    EXPECT_EQ(record.panel, nullptr);
  }
  EXPECT_TRUE(host.log().entries().empty()) << "an interface fetches no services";
}

TEST_F(ModuleTest, InterfaceChecksVersionThenRecordThenPanelService) {
  InterfaceRecord record{};
  auto *marker = reinterpret_cast<PanelId>(0x10);
  record.panel = marker;
  for (const char *server : {kSingle, kMulti}) {
    SCOPED_TRACE(server);
    EXPECT_EQ(host.activateInterface(server, 3, nullptr), ACTIVATE_BAD_VERSION);
    EXPECT_EQ(host.activateInterface(server, 5, &record), ACTIVATE_BAD_VERSION);
    EXPECT_EQ(host.activateInterface(server, NODE_INTERFACE_VERSION, nullptr),
              ACTIVATE_MISSING_RECORD);
    EXPECT_EQ(record.panel, marker);
  }
}

// ---- the multi-reference node until its stages exist ------------------------

TEST_F(ModuleTest, MultiNodeCreatesDestroysAndPassesTheNormalThrough) {
  ASSERT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  hostsim::Node &node = host.createNode(kMulti, "m");
  ASSERT_NE(node.instance(), nullptr);
  const auto spot = makeSpot({0.25, -0.5, 2.0}, host.scene().addObject("Cube").id());
  const auto result = node.evaluate(spot, facts::kOutput);
  EXPECT_TRUE(result.setOnce());
  EXPECT_EQ(result.value, (hostsim::Vec3{0.25, -0.5, 2.0}));
  node.destroy();
}

// Each node has one output, so the id the host names it by decides nothing:
// an id the node never made, or none, shades the same.
TEST_F(ModuleTest, BothNodesShadeTheSameWhateverOutputIdTheHostHands) {
  const auto &cube = host.scene().addObject("Cube");
  const auto spot = makeSpot({0, 0, 1}, cube.id());
  for (const char *server : facts::kNodes) {
    SCOPED_TRACE(server);
    ASSERT_EQ(host.activateHandler(server), ACTIVATE_OK);
    hostsim::Node &node = host.createNode(server, "n");
    const bool single = std::string_view(server) == kSingle;
    node.connect(single ? facts::kReferenceInput : facts::stageReferenceInput(1),
                 hostsim::Vec3{1, 0, 0});
    node.connect(single ? facts::kWeightInput : facts::stageWeightInput(1), 0.5);
    const hostsim::Evaluation own = node.evaluate(spot);
    ASSERT_TRUE(own.setOnce());
    ASSERT_NE(own.value, (hostsim::Vec3{0, 0, 1})) << "the node must act for the test to tell";
    for (uintptr_t id : {uintptr_t{0}, uintptr_t{0x7E57}}) {
      const hostsim::Evaluation other =
          node.evaluateHandingId(spot, reinterpret_cast<OutputId>(id));
      EXPECT_TRUE(other.setOnce()) << "output id " << id;
      EXPECT_EQ(other.value, own.value) << "output id " << id;
    }
  }
}

// ---- activation beside shading ---------------------------------------------

// A host may activate servers while its renderer goes on shading the nodes
// already placed. Every activation rewrites what shading reads (the host
// version, whether an item table came), with the values it had: no spot
// shaded meanwhile may come out other than it does alone.
TEST_F(ModuleTest, ActivatingBothHandlersWhileEightThreadsShadeChangesNoSpot) {
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  ASSERT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  hostsim::SceneObject &cube = host.scene().addObject("Cube");
  const PointId point = cube.addPoint();
  cube.setWeight("Paint", point, 0.75F);
  // The single node's weight comes from its map, so its shading reads the
  // host version too; the multi node's stage is plugged.
  hostsim::Node &single = host.createNode(kSingle, "single");
  hostsim::BlockWriter settings(hostsim::BlockForm::Binary);
  settings.begin(facts::kWeightMapBlock.id, facts::kWeightMapBlock.token);
  settings.writeString("Paint");
  settings.end();
  ASSERT_EQ(single.load(hostsim::BlockForm::Binary, settings.finish()), nullptr);
  single.connect(facts::kReferenceInput, hostsim::Vec3{1, 0, 0});
  hostsim::Node &multi = host.createNode(kMulti, "multi");
  multi.connect(facts::stageReferenceInput(1), hostsim::Vec3{0, 1, 0});
  multi.connect(facts::stageWeightInput(1), 0.5);

  const NodalAccess spot = makeSpot({0, 0, 1}, cube.id(), {point}, {1.0F});
  const hostsim::Node *nodes[] = {&single, &multi};
  hostsim::Vec3 alone[2];
  for (int i = 0; i < 2; ++i) {
    alone[i] = nodes[i]->evaluate(spot).value;
    ASSERT_NE(alone[i], (hostsim::Vec3{0, 0, 1})) << nodes[i]->name() << " must act";
  }

  host.log().setRecording(false);
  std::atomic<bool> done{false};
  std::atomic<int> shading{0};
  std::vector<long> differing(8, 0);
  std::vector<std::thread> threads;
  for (long &count : differing) {
    threads.emplace_back([&, counter = &count] {
      ++shading;
      while (!done.load()) {
        for (int i = 0; i < 2; ++i) {
          if (nodes[i]->evaluate(spot).value != alone[i]) ++*counter;
        }
      }
    });
  }
  while (shading.load() < 8) std::this_thread::yield();
  for (int round = 0; round < 300; ++round) {
    EXPECT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
    EXPECT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  }
  done = true;
  for (std::thread &thread : threads) thread.join();
  for (std::size_t t = 0; t < differing.size(); ++t) {
    EXPECT_EQ(differing[t], 0) << "spots shaded differently on thread " << t;
  }
}

}  // namespace
}  // namespace kerrowbend_test
