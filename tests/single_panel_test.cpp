// The single-reference node's panel as a host drives it: the interface
// activation, the one-time build of each instance's panel, the get and set
// callbacks behind its three controls, the refresh on input events and the
// two popups. Settings are read back through the panel's own callbacks and
// through what the node saves.
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "hostsim/block_io.h"
#include "hostsim/host.h"
#include "tests/module_fixture.h"
#include "tests/panel_tables.h"

namespace kerrowbend_test {
namespace {

using hostsim::BlockForm;
using hostsim::PanelRecord;

constexpr uint32_t kObjectValue = facts::kReferenceObjectId;
constexpr uint32_t kInvertValue = facts::kInvertId;
constexpr uint32_t kMapValue = facts::kWeightMapId;
constexpr uint32_t kOtherIds[] = {0, 0x8000, 0x8004, 0xFFFFFFFF};

// Record fields a host may leave filled from an earlier use; an activation
// that must not touch the record leaves them so.
void earlierOptions(void * /*instance*/) {}
Error earlierCommand(void * /*instance*/, const char * /*command*/) { return nullptr; }
const auto kEarlierPanel = reinterpret_cast<PanelId>(uintptr_t{0x5A5A5A50});

InterfaceRecord usedRecord(void *instance) {
  return InterfaceRecord{instance, kEarlierPanel, earlierOptions, earlierCommand};
}

void expectUntouched(const InterfaceRecord &record, void *instance) {
  EXPECT_EQ(record.inst, instance) << "instance field";
  EXPECT_EQ(record.panel, kEarlierPanel) << "panel field";
  EXPECT_TRUE(record.options == earlierOptions) << "options field changed";
  EXPECT_TRUE(record.command == earlierCommand) << "command field changed";
}

std::string nameOfLength(std::size_t length) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name(length, ' ');
  for (std::size_t i = 0; i < length; ++i) name[i] = kAlphabet[i % (sizeof kAlphabet - 1)];
  return name;
}

// The node's settings as it saves them, in the text form: one line per block.
std::string savedText(hostsim::Node &node) { return node.save(BlockForm::Text); }

std::string settingsText(const std::string &object, int32_t invert, const std::string &map) {
  hostsim::BlockWriter writer(BlockForm::Text);
  writer.begin(facts::kObjectBlock.id, facts::kObjectBlock.token);
  writer.writeString(object);
  writer.end();
  writer.begin(facts::kInvertBlock.id, facts::kInvertBlock.token);
  writer.writeInt(invert);
  writer.end();
  writer.begin(facts::kWeightMapBlock.id, facts::kWeightMapBlock.token);
  writer.writeString(map);
  writer.end();
  return writer.finish();
}

// Activates the node's interface server as a host does when the user opens
// the node's panel; gives the panel the host keeps for it, or null.
PanelRecord *openPanel(hostsim::Host &host, const hostsim::Node &node) {
  InterfaceRecord record{node.instance(), nullptr, nullptr, nullptr};
  EXPECT_EQ(host.activateInterface(kSingle, NODE_INTERFACE_VERSION, &record), ACTIVATE_OK);
  return record.panel != nullptr ? host.panels().find(record.panel) : nullptr;
}

// ---- interface activation and panel build ----------------------------------

class PanelActivationTest : public DragNodeTest {};

TEST_F(PanelActivationTest, OtherVersionsReturn1AndTouchNeitherRecordNorInstance) {
  for (int version : {2, 3, 5}) {
    InterfaceRecord record = usedRecord(node->instance());
    host.log().clear();
    EXPECT_EQ(host.activateInterface(kSingle, version, &record), ACTIVATE_BAD_VERSION)
        << "version " << version;
    SCOPED_TRACE("version " + std::to_string(version));
    expectUntouched(record, node->instance());
    EXPECT_TRUE(host.log().entries().empty()) << host.log().entries().front();
  }
  EXPECT_TRUE(host.panels().panels().empty());
  ASSERT_NE(openPanel(host, *node), nullptr) << "the instance still has no panel to hand back";
}

TEST_F(PanelActivationTest, WithoutARecordReturns3) {
  host.log().clear();
  EXPECT_EQ(host.activateInterface(kSingle, NODE_INTERFACE_VERSION, nullptr),
            ACTIVATE_MISSING_RECORD);
  EXPECT_TRUE(host.log().entries().empty()) << host.log().entries().front();
}

TEST_F(PanelActivationTest, ARecordWithoutInstanceGets0AndNoPanelOptionsOrCommand) {
  InterfaceRecord record = usedRecord(nullptr);
  EXPECT_EQ(host.activateInterface(kSingle, NODE_INTERFACE_VERSION, &record), ACTIVATE_OK);
  EXPECT_EQ(record.panel, nullptr);
  EXPECT_EQ(record.options, nullptr);
  EXPECT_EQ(record.command, nullptr);
  EXPECT_TRUE(host.panels().panels().empty());
}

TEST_F(PanelActivationTest, HandsBackTheNewPanelWithOptionsAndCommandCleared) {
  InterfaceRecord record = usedRecord(node->instance());
  EXPECT_EQ(host.activateInterface(kSingle, NODE_INTERFACE_VERSION, &record), ACTIVATE_OK);
  ASSERT_EQ(host.panels().panels().size(), 1u);
  EXPECT_EQ(record.panel, host.panels().panels()[0]->id());
  EXPECT_EQ(record.inst, node->instance());
  EXPECT_EQ(record.options, nullptr);
  EXPECT_EQ(record.command, nullptr);
}

TEST_F(PanelActivationTest, BuildAsksTheHostInOrderAndLooksNoServiceUp) {
  host.log().clear();
  ASSERT_NE(openPanel(host, *node), nullptr);
  EXPECT_EQ(host.log().entries(),
            (std::vector<std::string>{"node.name", "panel.create 1", "panel.describe",
                                      "panel.hint 0", "panel.viewInst", "panel.setData 0"}));
}

TEST_F(PanelActivationTest, ALaterActivationHandsBackThePanelWithoutCallingTheHost) {
  PanelRecord *panel = openPanel(host, *node);
  ASSERT_NE(panel, nullptr);
  host.log().clear();
  InterfaceRecord again = usedRecord(node->instance());
  EXPECT_EQ(host.activateInterface(kSingle, NODE_INTERFACE_VERSION, &again), ACTIVATE_OK);
  EXPECT_EQ(again.panel, panel->id());
  EXPECT_EQ(again.options, nullptr);
  EXPECT_EQ(again.command, nullptr);
  EXPECT_TRUE(host.log().entries().empty()) << host.log().entries().front();
  EXPECT_EQ(host.panels().panels().size(), 1u);
  EXPECT_EQ(panel->describeCalls, 1);
  EXPECT_EQ(panel->hintIds.size(), 1u);
}

TEST_F(PanelActivationTest, EachInstanceGetsAPanelOfItsOwn) {
  hostsim::Node &other = host.createNode(kSingle, "Kerrowbend (2)");
  PanelRecord *first = openPanel(host, *node);
  PanelRecord *second = openPanel(host, other);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(first->viewedInstance, node->instance());
  EXPECT_EQ(second->viewedInstance, other.instance());
  EXPECT_STREQ(second->labels.at(0).text, "Kerrowbend (2)");
}

TEST_F(PanelActivationTest, ARefusedPanelGives0WithNoPanelAndTheNextActivationTriesAgain) {
  host.panels().setCreateRefused(true);
  host.log().clear();
  InterfaceRecord record = usedRecord(node->instance());
  EXPECT_EQ(host.activateInterface(kSingle, NODE_INTERFACE_VERSION, &record), ACTIVATE_OK);
  EXPECT_EQ(record.panel, nullptr);
  EXPECT_EQ(record.options, nullptr);
  EXPECT_EQ(record.command, nullptr);
  EXPECT_EQ(host.log().entries(), (std::vector<std::string>{"node.name", "panel.create 1"}));

  node->connect(facts::kWeightInput, 1.0);
  EXPECT_EQ(node->input(facts::kWeightInput)->lastEventResult(), 1);

  host.panels().setCreateRefused(false);
  host.log().clear();
  PanelRecord *panel = openPanel(host, *node);
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(host.log().count("panel.create 1"), 1u);
  EXPECT_EQ(host.log().count("panel.setData 0"), 1u);
  EXPECT_EQ(panel->viewedInstance, node->instance());
}

TEST_F(PanelActivationTest, InputEventsBeforeAnyPanelAreHarmless) {
  host.log().clear();
  node->connect(facts::kReferenceInput, hostsim::Vec3{1.0, 0.0, 0.0});
  node->disconnect(facts::kWeightInput);
  EXPECT_EQ(node->input(facts::kReferenceInput)->lastEventResult(), 1);
  EXPECT_EQ(node->input(facts::kWeightInput)->lastEventResult(), 1);
  EXPECT_TRUE(host.log().withPrefix("panel.").empty());
  EXPECT_EQ(host.panels().strayCalls(), 0);
}

TEST_F(PanelActivationTest, DestroyingTheInstanceDestroysItsPanel) {
  PanelRecord *panel = openPanel(host, *node);
  ASSERT_NE(panel, nullptr);
  host.log().clear();
  node->destroy();
  EXPECT_EQ(host.log().entries(), std::vector<std::string>{"panel.destroy"});
  EXPECT_TRUE(panel->destroyed);
  EXPECT_EQ(host.panels().strayCalls(), 0);
}

TEST_F(PanelActivationTest, DestroyingAnInstanceWithoutAPanelMakesNoPanelCall) {
  host.log().clear();
  node->destroy();
  EXPECT_TRUE(host.log().withPrefix("panel.").empty());
}

TEST_F(PanelActivationTest, ACopyBuildsItsOwnPanel) {
  PanelRecord *original = openPanel(host, *node);
  ASSERT_NE(original, nullptr);
  hostsim::Node &copy = host.createNode(kSingle, "Kerrowbend (2)");
  ASSERT_EQ(copy.copyFrom(*node), nullptr);

  host.log().clear();
  PanelRecord *own = openPanel(host, copy);
  ASSERT_NE(own, nullptr);
  EXPECT_NE(own, original);
  EXPECT_EQ(own->viewedInstance, copy.instance());
  EXPECT_EQ(host.log().count("panel.create 1"), 1u);
}

// Hosts set up before the first handler activation, since the module
// fetches its services only then.
class PanelServiceTest : public ModuleTest {};

TEST_F(PanelServiceTest, ChecksVersionThenRecordThenPanelServiceBeforeAnyHandler) {
  int placeholder = 0;  // no node exists yet; the activation must not use it
  InterfaceRecord record = usedRecord(&placeholder);
  EXPECT_EQ(host.activateInterface(kSingle, 3, &record), ACTIVATE_BAD_VERSION);
  EXPECT_EQ(host.activateInterface(kSingle, NODE_INTERFACE_VERSION, nullptr),
            ACTIVATE_MISSING_RECORD);
  EXPECT_EQ(host.activateInterface(kSingle, NODE_INTERFACE_VERSION, &record),
            ACTIVATE_MISSING_SERVICE);
  expectUntouched(record, &placeholder);
  EXPECT_TRUE(host.log().entries().empty()) << host.log().entries().front();
}

TEST_F(PanelServiceTest, AHostWithoutAPanelServiceGets2EveryTime) {
  host.setServiceAvailable(PANEL_SERVICE, false);
  host.setServiceAvailable(PANEL_SERVICE_1, false);
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK)
      << "the panel service is optional to the node";
  hostsim::Node &node = host.createNode(kSingle, "Kerrowbend (1)");
  host.setServiceAvailable(PANEL_SERVICE, true);  // too late: services are fetched once

  InterfaceRecord record = usedRecord(node.instance());
  host.log().clear();
  EXPECT_EQ(host.activateInterface(kSingle, NODE_INTERFACE_VERSION, &record),
            ACTIVATE_MISSING_SERVICE);
  expectUntouched(record, node.instance());
  EXPECT_TRUE(host.log().entries().empty()) << host.log().entries().front();
}

TEST_F(PanelServiceTest, FallsBackToTheOlderPanelServiceName) {
  host.setServiceAvailable(PANEL_SERVICE, false);
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  EXPECT_EQ(host.lookupCount(PANEL_SERVICE_1), 1);
  hostsim::Node &node = host.createNode(kSingle, "Kerrowbend (1)");
  PanelRecord *panel = openPanel(host, node);
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->viewedInstance, node.instance());
}

TEST_F(PanelServiceTest, AsksForTheOlderNameOnlyWhenTheNewerIsMissing) {
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  EXPECT_EQ(host.lookupCount(PANEL_SERVICE), 1);
  EXPECT_EQ(host.lookupCount(PANEL_SERVICE_1), 0);
}

TEST_F(PanelServiceTest, UsesThePanelServiceFetchedByTheOtherNodesActivation) {
  ASSERT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  host.setServiceAvailable(PANEL_SERVICE, false);
  host.setServiceAvailable(PANEL_SERVICE_1, false);
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  hostsim::Node &node = host.createNode(kSingle, "Kerrowbend (1)");
  EXPECT_NE(openPanel(host, node), nullptr);
}

// ---- the built panel --------------------------------------------------------

class DragPanelTest : public DragNodeTest {
 protected:
  void SetUp() override {
    DragNodeTest::SetUp();
    if (HasFatalFailure()) return;
    panel = openPanel(host, *node);
    ASSERT_NE(panel, nullptr);
  }

  PanelRecord *panel = nullptr;
};

TEST_F(DragPanelTest, DescribesThreeControlsAndTheValuesBehindThem) {
  EXPECT_EQ(panel->type, PANEL_TYPE_VIEW);
  EXPECT_EQ(controlsOf(*panel),
            (std::vector<TableEntry>{{kObjectValue, "Reference Object", "sPresetText"},
                                     {kInvertValue, "Invert Vector", "iBoolean"},
                                     {kMapValue, "WeightMap", "sPresetText"}}));
  EXPECT_EQ(valuesOf(*panel), (std::vector<TableEntry>{{kObjectValue, "ReferenceObject", "string"},
                                                       {kInvertValue, "InvertVector", "integer"},
                                                       {kMapValue, "WeightMap", "string"}}));
}

TEST_F(DragPanelTest, HintsLabelThePanelWithTheNodeNameAndGiveTwoPopups) {
  ASSERT_EQ(panel->hintIds, std::vector<uint32_t>{0});
  ASSERT_EQ(panel->popups.size(), 2u);
  const hostsim::PanelPopupHint &objects = panel->popups[0];
  const hostsim::PanelPopupHint &maps = panel->popups[1];
  const std::vector<uintptr_t> expected = {
      PANEL_HINT_LABEL,
      0,
      hintNumber(node->name().c_str()),
      0,
      PANEL_HINT_POPUP_FUNCS,
      kObjectValue,
      hintNumber(objects.count),
      hintNumber(objects.name),
      PANEL_HINT_POPUP_FUNCS,
      kMapValue,
      hintNumber(maps.count),
      hintNumber(maps.name),
      0,
  };
  EXPECT_EQ(panelHints(*panel), expected);
  EXPECT_TRUE(panel->unknownHintTags.empty()) << panel->unknownHintTags.front();

  EXPECT_NE(objects.count, nullptr);
  EXPECT_NE(objects.name, nullptr);
  EXPECT_NE(objects.count, maps.count) << "each popup lists its own choices";
  EXPECT_NE(objects.name, maps.name);
  EXPECT_EQ(panel->popup(kInvertValue), nullptr);
  EXPECT_EQ(panel->labels.at(0).textCopy, "Kerrowbend (1)");
}

TEST_F(DragPanelTest, ViewsTheInstanceAndKeepsItAsUserData) {
  EXPECT_EQ(panel->viewedInstance, node->instance());
  EXPECT_EQ(panel->viewInstCalls, 1);
  EXPECT_EQ(panel->userData, (std::map<uint32_t, void *>{{0, node->instance()}}));
}

// ---- get and set ------------------------------------------------------------

TEST_F(DragPanelTest, GetGivesEachSettingAndNothingForOtherIdsOrNoInstance) {
  EXPECT_EQ(panel->stringValue(kObjectValue), "");
  EXPECT_EQ(panel->intValue(kInvertValue), 1);
  EXPECT_EQ(panel->stringValue(kMapValue), "");
  for (uint32_t id : kOtherIds) EXPECT_EQ(panel->valueAddress(id), nullptr) << "id " << id;
  for (uint32_t id : {kObjectValue, kInvertValue, kMapValue}) {
    EXPECT_EQ(panel->get(nullptr, id), nullptr) << "id " << id << " of no instance";
  }
}

// The host reads through the address it was given, so it must be the
// instance's field itself, not a copy that goes stale.
TEST_F(DragPanelTest, GetGivesTheAddressOfTheInstancesOwnField) {
  const auto *object = static_cast<const char *>(panel->valueAddress(kObjectValue));
  const auto *invert = static_cast<const int32_t *>(panel->valueAddress(kInvertValue));
  const auto *map = static_cast<const char *>(panel->valueAddress(kMapValue));
  ASSERT_NE(object, nullptr);
  ASSERT_NE(invert, nullptr);
  ASSERT_NE(map, nullptr);
  ASSERT_EQ(node->load(BlockForm::Text, settingsText("Cube", 0, "Map")), nullptr);
  EXPECT_STREQ(object, "Cube");
  EXPECT_EQ(*invert, 0);
  EXPECT_STREQ(map, "Map");
}

TEST_F(DragPanelTest, SetStoresEachSettingAndAnswers0ForOtherIdsOrNoInstance) {
  EXPECT_EQ(panel->setString(kObjectValue, "Cube"), 1);
  EXPECT_EQ(panel->setInt(kInvertValue, 0), 1);
  EXPECT_EQ(panel->setString(kMapValue, "Map"), 1);
  EXPECT_EQ(panel->stringValue(kObjectValue), "Cube");
  EXPECT_EQ(panel->intValue(kInvertValue), 0);
  EXPECT_EQ(panel->stringValue(kMapValue), "Map");

  char text[] = "Other";
  for (uint32_t id : kOtherIds) EXPECT_EQ(panel->setValue(id, text), 0) << "id " << id;
  for (uint32_t id : {kObjectValue, kInvertValue, kMapValue}) {
    EXPECT_EQ(panel->set(nullptr, id, text), 0) << "id " << id << " of no instance";
  }
  EXPECT_EQ(savedText(*node), settingsText("Cube", 0, "Map"));
}

TEST_F(DragPanelTest, SetWithoutAValueChangesNothingAndAnswers0) {
  ASSERT_EQ(node->load(BlockForm::Text, settingsText("Cube", 0, "Map")), nullptr);
  for (uint32_t id : {kObjectValue, kInvertValue, kMapValue}) {
    EXPECT_EQ(panel->setValue(id, nullptr), 0) << "id " << id;
  }
  EXPECT_EQ(savedText(*node), settingsText("Cube", 0, "Map"));
}

TEST_F(DragPanelTest, InvertKeepsWhateverIntegerItIsGiven) {
  for (int32_t invert : {5, -1, 0, 1, INT32_MIN}) {
    EXPECT_EQ(panel->setInt(kInvertValue, invert), 1) << "invert " << invert;
    EXPECT_EQ(panel->intValue(kInvertValue), invert);
    EXPECT_EQ(savedText(*node), settingsText("", invert, "")) << "invert " << invert;
  }
}

// The names lie side by side in the instance, then invert: a name that
// spilled over its field would show in the setting after it.
TEST_F(DragPanelTest, KeepsA259CharacterNameWholeAndCutsLongerOnesTo259) {
  for (std::size_t length : {kLongestName, facts::kNameField, std::size_t{1000}}) {
    const std::string name = nameOfLength(length);
    const std::string kept = name.substr(0, kLongestName);
    ASSERT_EQ(node->load(BlockForm::Text, settingsText("Cube", 0, "Map")), nullptr);

    EXPECT_EQ(panel->setString(kObjectValue, name), 1) << "object name of " << length;
    EXPECT_EQ(panel->stringValue(kObjectValue), kept) << "object name of " << length;
    EXPECT_EQ(panel->stringValue(kMapValue), "Map") << "after an object name of " << length;

    EXPECT_EQ(panel->setString(kMapValue, name), 1) << "map name of " << length;
    EXPECT_EQ(panel->stringValue(kMapValue), kept) << "map name of " << length;
    EXPECT_EQ(panel->intValue(kInvertValue), 0) << "after a map name of " << length;
    EXPECT_EQ(savedText(*node), settingsText(kept, 0, kept)) << "names of " << length;
  }
}

TEST_F(DragPanelTest, WithholdsANameWhileItsInputIsConnectedButStillStoresIt) {
  struct Case {
    std::vector<const char *> connected;
    bool objectShown;
    bool mapShown;
  };
  const Case cases[] = {
      {{}, true, true},
      {{facts::kReferenceInput}, false, true},
      {{facts::kWeightInput}, true, false},
      {{facts::kReferenceInput, facts::kWeightInput}, false, false},
  };
  for (const Case &c : cases) {
    std::string inputs;
    for (const char *input : c.connected) inputs += std::string(" \"") + input + "\"";
    SCOPED_TRACE("connected:" + inputs);
    ASSERT_EQ(node->load(BlockForm::Text, settingsText("Cube", 0, "Map")), nullptr);
    for (const char *input : c.connected) node->connect(input, 1.0);

    const std::optional<std::string> withheld;
    EXPECT_EQ(panel->stringValue(kObjectValue), c.objectShown ? "Cube" : withheld);
    EXPECT_EQ(panel->intValue(kInvertValue), 0) << "invert is shown whatever is connected";
    EXPECT_EQ(panel->stringValue(kMapValue), c.mapShown ? "Map" : withheld);

    EXPECT_EQ(panel->setString(kObjectValue, "New object"), 1);
    EXPECT_EQ(panel->setString(kMapValue, "New map"), 1);
    for (const char *input : c.connected) node->disconnect(input);
    EXPECT_EQ(panel->stringValue(kObjectValue), "New object");
    EXPECT_EQ(panel->stringValue(kMapValue), "New map");
  }
}

// The object is looked up by name at each new time, not when the name is
// set: a set name shades from the next new time on. A set comes from the
// panel itself, so it has no view to refresh.
TEST_F(DragPanelTest, ASetObjectNameShadesFromTheNextNewTimeAndRefreshesNothing) {
  hostsim::SceneObject &cube = host.scene().addObject("Cube");
  host.scene().addObject("Proxy").setForward(hostsim::Vec3{1, 0, 0});
  ASSERT_EQ(node->load(BlockForm::Text, settingsText("", 0, "")), nullptr);
  host.newTime(0, 0.0);
  const hostsim::Vec3 normal{0, 0, 1};
  host.log().clear();
  EXPECT_EQ(panel->setString(kObjectValue, "Proxy"), 1);
  EXPECT_EQ(node->evaluate(hostsim::makeSpot(normal, cube.id())).value, normal);
  host.newTime(1, 0.04);
  EXPECT_NEAR(node->evaluate(hostsim::makeSpot(normal, cube.id())).value[0], 1.0, 1e-12);
  EXPECT_EQ(panel->refreshCount, 0);
  EXPECT_EQ(host.log().count("panel.viewRefresh"), 0u);
}

TEST_F(DragPanelTest, InputEventsRefreshThePanelAndAnswer1) {
  node->connect(facts::kReferenceInput, hostsim::Vec3{1.0, 0.0, 0.0});
  EXPECT_EQ(panel->refreshCount, 1);
  EXPECT_EQ(node->input(facts::kReferenceInput)->lastEventResult(), 1);
  node->connect(facts::kWeightInput, 0.5);
  EXPECT_EQ(panel->refreshCount, 2);
  EXPECT_EQ(node->input(facts::kWeightInput)->lastEventResult(), 1);
  node->disconnect(facts::kReferenceInput);
  EXPECT_EQ(panel->refreshCount, 3);
  EXPECT_EQ(host.log().count("panel.viewRefresh"), 3u);
  EXPECT_EQ(panel->stringValue(kObjectValue), "") << "the refreshed view sees the name again";
}

// ---- popups -----------------------------------------------------------------

TEST_F(DragPanelTest, ObjectPopupListsTheScenesObjectsAsTheyAreNow) {
  EXPECT_EQ(panel->popupCount(kObjectValue), 0);
  EXPECT_STREQ(panel->popupName(kObjectValue, 0), "");

  hostsim::Scene &scene = host.scene();
  scene.addObject("Cube");
  hostsim::SceneObject &sphere = scene.addObject("Sphere");
  scene.addObject("Cone");
  EXPECT_EQ(panel->popupCount(kObjectValue), 3);
  EXPECT_EQ(panel->popupChoices(kObjectValue),
            (std::vector<std::string>{"Cube", "Sphere", "Cone"}));
  EXPECT_STREQ(panel->popupName(kObjectValue, 3), "");
  EXPECT_STREQ(panel->popupName(kObjectValue, -1), "");

  scene.rename(sphere, "Ball");
  scene.addObject("Torus");
  EXPECT_EQ(panel->popupChoices(kObjectValue),
            (std::vector<std::string>{"Cube", "Ball", "Cone", "Torus"}));
  EXPECT_EQ(panel->popupName(kObjectValue, 1), sphere.name()) << "the host's own text, not a copy";
}

TEST_F(DragPanelTest, WeightMapPopupListsWhatTheSceneGivesWithTheIndexAsReceived) {
  hostsim::SceneObject &cube = host.scene().addObject("Cube");
  cube.weightMap("Wear");
  cube.weightMap("Dirt");
  EXPECT_EQ(panel->popupChoices(kMapValue), (std::vector<std::string>{"Wear", "Dirt"}));

  host.scene().setWeightMapNames({"alpha", "beta", "gamma"});
  EXPECT_EQ(panel->popupCount(kMapValue), 3);
  EXPECT_EQ(panel->popupChoices(kMapValue), (std::vector<std::string>{"alpha", "beta", "gamma"}));

  host.log().clear();
  EXPECT_EQ(panel->popupName(kMapValue, 7), nullptr) << "the host's answer, handed on";
  EXPECT_EQ(panel->popupName(kMapValue, -1), nullptr) << "the host's answer, handed on";
  EXPECT_EQ(host.log().entries(),
            (std::vector<std::string>{"scene.vmapName 7", "scene.vmapName -1"}));

  // The count is the host's to give, even one that disagrees with its names.
  for (int count : {0, 5, -2}) {
    host.scene().setWeightMapCountAnswer(count);
    EXPECT_EQ(panel->popupCount(kMapValue), count);
  }
}

// Hosts that lack the service behind one popup: that popup offers nothing,
// the other still works.
struct SparseHost {
  const char *name;
  std::vector<const char *> missing;
  bool objectsListed;
  bool mapsListed;
};

void PrintTo(const SparseHost &host, std::ostream *os) { *os << host.name; }

class SparseHostPanelTest : public ModuleTest, public ::testing::WithParamInterface<SparseHost> {};

TEST_P(SparseHostPanelTest, APopupWithoutItsServiceOffersNothing) {
  for (const char *name : GetParam().missing) host.setServiceAvailable(name, false);
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  hostsim::Node &node = host.createNode(kSingle, "Kerrowbend (1)");
  hostsim::SceneObject &cube = host.scene().addObject("Cube");
  host.scene().addObject("Sphere");
  cube.weightMap("Wear");
  PanelRecord *panel = openPanel(host, node);
  ASSERT_NE(panel, nullptr);

  EXPECT_EQ(panel->popupCount(kObjectValue), GetParam().objectsListed ? 2 : 0);
  EXPECT_STREQ(panel->popupName(kObjectValue, 0), GetParam().objectsListed ? "Cube" : "");
  EXPECT_EQ(panel->popupCount(kMapValue), GetParam().mapsListed ? 1 : 0);
  EXPECT_STREQ(panel->popupName(kMapValue, 0), GetParam().mapsListed ? "Wear" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, SparseHostPanelTest,
    ::testing::Values(
        SparseHost{"NoItemInfo", {ITEM_INFO_SERVICE, ITEM_INFO_SERVICE_5}, false, true},
        SparseHost{
            "NoSceneObjects", {SCENE_OBJECTS_SERVICE, SCENE_OBJECTS_SERVICE_6}, true, false}),
    [](const ::testing::TestParamInfo<SparseHost> &info) { return info.param.name; });

}  // namespace
}  // namespace kerrowbend_test
