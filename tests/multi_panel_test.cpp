// The multi-reference node's panel as a host drives it: the interface
// activation, the one-time build, the "Input Size" value behind get and
// set, and the change notification that rebuilds the stages.
#include <climits>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostsim/blocks.h"
#include "hostsim/host.h"
#include "tests/module_fixture.h"

namespace kerrowbend_test {
namespace {

using hostsim::BlockForm;
using hostsim::PanelRecord;
using Names = std::vector<std::string>;

constexpr uint32_t kInputSize = 0x8001;

// Activates the node's interface server as a host does when the user opens
// the node's panel; gives the panel the host keeps for it, or null.
PanelRecord *openPanel(hostsim::Host &host, const hostsim::Node &node) {
  InterfaceRecord record{node.instance(), nullptr, nullptr, nullptr};
  EXPECT_EQ(host.activateInterface(kMulti, 4, &record), 0);
  return record.panel != nullptr ? host.panels().find(record.panel) : nullptr;
}

// The number of stages the node has, from the inputs it keeps.
std::size_t stageCount(const hostsim::Node &node) { return node.inputNames().size() / 2; }

class MultiPanelTest : public MultiNodeTest {
 protected:
  void SetUp() override {
    MultiNodeTest::SetUp();
    panel = openPanel(host, *node);
    ASSERT_NE(panel, nullptr);
  }

  PanelRecord *panel = nullptr;
};

// ---- activation and build ------------------------------------------------

TEST_F(ModuleTest, MultiInterfaceActivationResults) {
  void (*const earlierOptions)(void *) = [](void *) {};
  const auto earlierPanel = reinterpret_cast<PanelId>(uintptr_t{0x5A5A5A50});
  // Before any handler activation there is no panel service to build with.
  InterfaceRecord record{nullptr, earlierPanel, earlierOptions, nullptr};
  EXPECT_EQ(host.activateInterface(kMulti, 4, &record), 2);
  EXPECT_EQ(record.panel, earlierPanel);

  ASSERT_EQ(host.activateHandler(kMulti), 0);
  hostsim::Node &node = host.createNode(kMulti, "node");
  host.log().clear();
  for (int version : {3, 5}) {
    record = InterfaceRecord{node.instance(), earlierPanel, earlierOptions, nullptr};
    EXPECT_EQ(host.activateInterface(kMulti, version, &record), 1) << "version " << version;
    EXPECT_EQ(record.panel, earlierPanel);
    EXPECT_EQ(record.options, earlierOptions);
  }
  EXPECT_EQ(host.activateInterface(kMulti, 4, nullptr), 3);
  EXPECT_TRUE(host.log().entries().empty());
  EXPECT_TRUE(host.panels().panels().empty());

  record = InterfaceRecord{node.instance(), earlierPanel, earlierOptions, nullptr};
  EXPECT_EQ(host.activateInterface(kMulti, 4, &record), 0);
  ASSERT_EQ(host.panels().panels().size(), 1u);
  EXPECT_EQ(record.panel, host.panels().panels()[0]->id());
  EXPECT_EQ(record.options, nullptr);
}

TEST_F(ModuleTest, MultiInterfaceWithoutAPanelServiceReturns2) {
  host.setServiceAvailable("LWXPanel 2", false);
  host.setServiceAvailable("LWXPanel", false);
  ASSERT_EQ(host.activateHandler(kMulti), 0);
  hostsim::Node &node = host.createNode(kMulti, "node");
  InterfaceRecord record{node.instance(), nullptr, nullptr, nullptr};
  EXPECT_EQ(host.activateInterface(kMulti, 4, &record), 2);
}

TEST_F(MultiNodeTest, BuildAsksTheHostInOrderAndLabelsThePanelWithTheNodesName) {
  host.log().clear();
  PanelRecord *panel = openPanel(host, *node);
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(host.log().entries(), (Names{"node.name", "panel.create 1", "panel.describe",
                                         "panel.hint 0", "panel.viewInst", "panel.setData 0"}));
  ASSERT_EQ(panel->labels.size(), 1u);
  EXPECT_EQ(panel->labels[0].id, 0u);
  EXPECT_EQ(panel->labels[0].text, node->name().c_str()) << "the host's own text, not a copy";
  EXPECT_EQ(panel->labels[0].third, nullptr);
  EXPECT_NE(panel->changeNotify, nullptr);
  EXPECT_TRUE(panel->popups.empty());
  EXPECT_TRUE(panel->unknownHintTags.empty());
  EXPECT_EQ(panel->viewedInstance, node->instance());
  EXPECT_EQ(panel->userData.at(0), node->instance());
  // The control shows the value of the same id.
  ASSERT_NE(panel->control(kInputSize), nullptr);
  ASSERT_NE(panel->dataEntry(kInputSize), nullptr);
}

TEST_F(MultiPanelTest, ALaterActivationHandsBackThePanelWithoutCallingTheHost) {
  host.log().clear();
  EXPECT_EQ(openPanel(host, *node), panel);
  EXPECT_TRUE(host.log().entries().empty());
  EXPECT_EQ(host.panels().panels().size(), 1u);
}

TEST_F(MultiNodeTest, ARefusedPanelLeavesNoneAndTheNextActivationTriesAgain) {
  host.panels().setCreateRefused(true);
  EXPECT_EQ(openPanel(host, *node), nullptr);
  node->connect("Weight 1", 1.0);  // an input event with no panel to refresh
  EXPECT_EQ(node->input("Weight 1")->lastEventResult(), 1);
  host.panels().setCreateRefused(false);
  EXPECT_NE(openPanel(host, *node), nullptr);
}

TEST_F(MultiPanelTest, InputEventsRefreshThePanel) {
  node->connect("Reference Normal 1", hostsim::Vec3{1, 0, 0});
  node->disconnect("Reference Normal 1");
  EXPECT_EQ(panel->refreshCount, 2);
  EXPECT_EQ(node->input("Reference Normal 1")->lastEventResult(), 1);
}

// ---- the value ------------------------------------------------------------

TEST_F(MultiPanelTest, GetGivesTheCountsOwnAddressSoLoadsAndCopiesShow) {
  void *address = panel->valueAddress(kInputSize);
  ASSERT_NE(address, nullptr);
  EXPECT_EQ(panel->intValue(kInputSize), 1);
  hostsim::BlockWriter writer(BlockForm::Binary);
  writer.begin(hostsim::blockId("INUM"), "Num");
  writer.writeInt(4);
  writer.end();
  ASSERT_EQ(node->load(BlockForm::Binary, writer.finish()), nullptr);
  EXPECT_EQ(panel->intValue(kInputSize), 4);
  hostsim::Node &other = host.createNode(kMulti, "other");
  ASSERT_EQ(node->copyFrom(other), nullptr);
  EXPECT_EQ(panel->intValue(kInputSize), 1);
  EXPECT_EQ(panel->valueAddress(kInputSize), address);

  for (uint32_t vid : {0u, 0x8000u, 0x8002u, 0xFFFFFFFFu}) {
    EXPECT_EQ(panel->get(node->instance(), vid), nullptr) << vid;
    int32_t value = 7;
    EXPECT_EQ(panel->set(node->instance(), vid, &value), 0) << vid;
  }
  EXPECT_EQ(panel->get(nullptr, kInputSize), nullptr);
  int32_t value = 7;
  EXPECT_EQ(panel->set(nullptr, kInputSize, &value), 0);
  EXPECT_EQ(panel->set(node->instance(), kInputSize, nullptr), 0);
  EXPECT_EQ(panel->intValue(kInputSize), 1);
}

struct Edit {
  int32_t from;
  int32_t to;
  std::size_t stages;  // after the edit
  Names inputCalls;
};

std::ostream &operator<<(std::ostream &out, const Edit &e) {
  return out << e.from << " -> " << e.to;
}

class InputSizeEditTest : public MultiPanelTest, public ::testing::WithParamInterface<Edit> {};

TEST_P(InputSizeEditTest, RebuildsTheStagesAtOnceAndKeepsTheValueSet) {
  const Edit &e = GetParam();
  ASSERT_EQ(panel->editInt(kInputSize, e.from), 1);
  host.log().clear();
  ASSERT_EQ(panel->editInt(kInputSize, e.to), 1);
  EXPECT_EQ(host.log().withPrefix("input."), e.inputCalls);
  EXPECT_EQ(stageCount(*node), e.stages);
  EXPECT_EQ(panel->intValue(kInputSize), e.to) << "the value is kept as set";
}

INSTANTIATE_TEST_SUITE_P(
    Edits, InputSizeEditTest,
    ::testing::Values(
        Edit{1,
             3,
             3,
             {"input.create Reference Normal 2 3", "input.create Weight 2 2",
              "input.create Reference Normal 3 3", "input.create Weight 3 2"}},
        Edit{2,
             0,
             0,
             {"input.destroy Reference Normal 1", "input.destroy Weight 1",
              "input.destroy Reference Normal 2", "input.destroy Weight 2"}},
        Edit{1, -2, 0, {"input.destroy Reference Normal 1", "input.destroy Weight 1"}},
        Edit{1, INT_MIN, 0, {"input.destroy Reference Normal 1", "input.destroy Weight 1"}},
        Edit{INT_MIN, 1, 1, {"input.create Reference Normal 1 3", "input.create Weight 1 2"}},
        Edit{3, 3, 3, {}}));

TEST_F(MultiPanelTest, OnlyTheValueChangeEventRebuildsTheStages) {
  // set alone stores the count and leaves the stages as they are.
  ASSERT_EQ(panel->setInt(kInputSize, 4), 1);
  EXPECT_EQ(stageCount(*node), 1u);
  host.log().clear();
  for (int event : {0, 1, 3, 4, -1}) {
    EXPECT_TRUE(panel->notifyChange(kInputSize, kInputSize, event));
  }
  EXPECT_TRUE(host.log().withPrefix("input.").empty());
  EXPECT_EQ(stageCount(*node), 1u);
  // The control and value ids are not what decides.
  EXPECT_TRUE(panel->notifyChange(0, 0, PANEL_EVENT_VALUE_CHANGED));
  EXPECT_EQ(stageCount(*node), 4u);
  // A notification for no panel is ignored.
  panel->changeNotify(nullptr, kInputSize, kInputSize, PANEL_EVENT_VALUE_CHANGED);
}

}  // namespace
}  // namespace kerrowbend_test
