// The multi-reference node's panel as a host drives it: the interface
// activation, the one-time build, and the "Input Size" value behind get,
// set and the change notification. How edits resize the stages is tested
// with the other ways the count changes.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostsim/host.h"
#include "tests/module_fixture.h"
#include "tests/panel_tables.h"

namespace kerrowbend_test {
namespace {

using hostsim::PanelRecord;
using Names = std::vector<std::string>;

// Activates the node's interface server as a host does when the user opens
// the node's panel; gives the panel the host keeps for it, or null.
PanelRecord *openPanel(hostsim::Host &host, const hostsim::Node &node) {
  InterfaceRecord record{node.instance(), nullptr, nullptr, nullptr};
  EXPECT_EQ(host.activateInterface(kMulti, NODE_INTERFACE_VERSION, &record), ACTIVATE_OK);
  return record.panel != nullptr ? host.panels().find(record.panel) : nullptr;
}

TEST_F(ModuleTest, MultiInterfaceActivationResults) {
  void (*const earlierOptions)(void *) = [](void *) {};
  const auto earlierPanel = reinterpret_cast<PanelId>(uintptr_t{0x5A5A5A50});
  // Before any handler activation there is no panel service to build with.
  InterfaceRecord record{nullptr, earlierPanel, earlierOptions, nullptr};
  EXPECT_EQ(host.activateInterface(kMulti, NODE_INTERFACE_VERSION, &record),
            ACTIVATE_MISSING_SERVICE);

  ASSERT_EQ(host.activateHandler(kMulti), ACTIVATE_OK);
  hostsim::Node &node = host.createNode(kMulti, "node");
  host.log().clear();
  for (int version : {3, 5}) {
    record = InterfaceRecord{node.instance(), earlierPanel, earlierOptions, nullptr};
    EXPECT_EQ(host.activateInterface(kMulti, version, &record), ACTIVATE_BAD_VERSION)
        << "version " << version;
    EXPECT_EQ(record.panel, earlierPanel);
    EXPECT_EQ(record.options, earlierOptions);
  }
  EXPECT_EQ(host.activateInterface(kMulti, NODE_INTERFACE_VERSION, nullptr),
            ACTIVATE_MISSING_RECORD);
  EXPECT_TRUE(host.log().entries().empty());

  record = InterfaceRecord{node.instance(), earlierPanel, earlierOptions, nullptr};
  EXPECT_EQ(host.activateInterface(kMulti, NODE_INTERFACE_VERSION, &record), ACTIVATE_OK);
  ASSERT_EQ(host.panels().panels().size(), 1u);
  EXPECT_EQ(record.panel, host.panels().panels()[0]->id());
  EXPECT_EQ(record.options, nullptr);
}

TEST_F(MultiNodeTest, BuildAsksTheHostInOrderOnceAndLabelsThePanelWithTheNodesName) {
  host.log().clear();
  PanelRecord *panel = openPanel(host, *node);
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(host.log().entries(), (Names{"node.name", "panel.create 1", "panel.describe",
                                         "panel.hint 0", "panel.viewInst", "panel.setData 0"}));
  ASSERT_EQ(panel->labels.size(), 1u);
  EXPECT_EQ(panel->labels[0].text, node->name().c_str()) << "the host's own text, not a copy";
  EXPECT_NE(panel->changeNotify, nullptr);
  EXPECT_TRUE(panel->unknownHintTags.empty());
  EXPECT_EQ(panel->viewedInstance, node->instance());
  EXPECT_EQ(panel->userData.at(0), node->instance());

  host.log().clear();
  EXPECT_EQ(openPanel(host, *node), panel);
  EXPECT_TRUE(host.log().entries().empty()) << "a built panel is handed back unasked";
  node->connect(facts::stageWeightInput(1), 0.5);
  EXPECT_EQ(panel->refreshCount, 1) << "an input event refreshes the panel";
}

// The host shows and stores the count by these names and kinds alone, and
// reads the hint array value by value: one entry off and it mislabels the
// panel or never calls the change notification.
TEST_F(MultiNodeTest, DescribesTheOneCountAndHintsOnlyTheLabelAndTheChangeNotification) {
  PanelRecord *panel = openPanel(host, *node);
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->type, PANEL_TYPE_VIEW);
  EXPECT_EQ(controlsOf(*panel),
            (std::vector<TableEntry>{{facts::kInputSizeId, "Input Size", "integer"}}));
  EXPECT_EQ(valuesOf(*panel),
            (std::vector<TableEntry>{{facts::kInputSizeId, "InputSize", "integer"}}));
  ASSERT_EQ(panel->hintIds, std::vector<uint32_t>{0});
  EXPECT_EQ(panelHints(*panel),
            (std::vector<uintptr_t>{PANEL_HINT_LABEL, 0, hintNumber(node->name().c_str()), 0,
                                    PANEL_HINT_CHANGE_NOTIFY, hintNumber(panel->changeNotify), 0}));
}

TEST_F(MultiNodeTest, ARefusedPanelLeavesNoneAndTheNextActivationTriesAgain) {
  host.panels().setCreateRefused(true);
  EXPECT_EQ(openPanel(host, *node), nullptr);
  node->connect(facts::stageWeightInput(1), 1.0);  // an input event with no panel to refresh
  EXPECT_EQ(node->input(facts::stageWeightInput(1))->lastEventResult(), 1);
  host.panels().setCreateRefused(false);
  EXPECT_NE(openPanel(host, *node), nullptr);
}

TEST_F(MultiNodeTest, GetGivesTheCountsOwnAddressAndSetStoresItUnbounded) {
  PanelRecord *panel = openPanel(host, *node);
  ASSERT_NE(panel, nullptr);
  void *address = panel->valueAddress(facts::kInputSizeId);
  loadCount(*node, 4);
  EXPECT_EQ(panel->intValue(facts::kInputSizeId), 4) << "a loaded count shows";
  EXPECT_EQ(panel->valueAddress(facts::kInputSizeId), address);
  for (uint32_t vid : {0u, 0x8000u, 0x8002u, 0xFFFFFFFFu}) {
    EXPECT_EQ(panel->get(node->instance(), vid), nullptr) << vid;
    int32_t value = 7;
    EXPECT_EQ(panel->set(node->instance(), vid, &value), 0) << vid;
  }
  int32_t value = 7;
  EXPECT_EQ(panel->get(nullptr, facts::kInputSizeId), nullptr);
  EXPECT_EQ(panel->set(nullptr, facts::kInputSizeId, &value), 0);
  EXPECT_EQ(panel->set(node->instance(), facts::kInputSizeId, nullptr), 0);
  EXPECT_EQ(panel->intValue(facts::kInputSizeId), 4);
  EXPECT_EQ(panel->setInt(facts::kInputSizeId, 2147483647), 1);
  EXPECT_EQ(panel->intValue(facts::kInputSizeId), 2147483647);
  EXPECT_EQ(node->inputNames(), stageInputs(1, 4)) << "set alone leaves the stages";
}

TEST_F(MultiNodeTest, OnlyTheValueChangeEventRebuildsTheStages) {
  PanelRecord *panel = openPanel(host, *node);
  ASSERT_NE(panel, nullptr);
  ASSERT_EQ(panel->setInt(facts::kInputSizeId, 4), 1);
  for (int event : hostsim::kPanelEventsOtherThanValueChanged) {
    EXPECT_TRUE(panel->notifyChange(facts::kInputSizeId, facts::kInputSizeId, event));
  }
  EXPECT_EQ(node->inputNames(), stageInputs(1, 1));
  // The control and value ids are not what decides.
  EXPECT_TRUE(panel->notifyChange(0, 0, PANEL_EVENT_VALUE_CHANGED));
  EXPECT_EQ(node->inputNames(), stageInputs(1, 4));
  // A notification for no panel is ignored.
  panel->changeNotify(nullptr, facts::kInputSizeId, facts::kInputSizeId, PANEL_EVENT_VALUE_CHANGED);
}

}  // namespace
}  // namespace kerrowbend_test
