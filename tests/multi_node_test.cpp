// The multi-reference node's instance as a host sees it: the inputs it makes
// and destroys as its stage count changes (by load, panel edit or copy),
// what it saves, and that it stays sound when the host gives no input id or
// memory runs out.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostsim/block_io.h"
#include "hostsim/host.h"
#include "tests/module_fixture.h"

#ifdef KERROWBEND_HEAP_COUNTING
#include "tests/heap_counter.h"
#endif

namespace kerrowbend_test {
namespace {

using hostsim::BlockForm;
using hostsim::blockId;
using Names = std::vector<std::string>;

int32_t stagesFor(int32_t count) { return std::clamp(count, 0, facts::kStageLimit); }

// What the host is asked to do with inputs when a node goes from `from`
// stages to `to`: make the new stages' inputs in increasing order, or
// destroy the removed stages' inputs from the lowest upward.
Names inputCallsForResize(int from, int to) {
  Names calls;
  for (const std::string &name : stageInputs(from + 1, to)) {
    calls.push_back("input.create " + name + (name.starts_with(facts::kWeightInput) ? " 2" : " 3"));
  }
  for (const std::string &name : stageInputs(to + 1, from)) {
    calls.push_back("input.destroy " + name);
  }
  return calls;
}

// The count a node saves, read back from its data.
int32_t savedCount(hostsim::Node &node) {
  hostsim::BlockReader reader(BlockForm::Binary, node.save(BlockForm::Binary));
  const BlockIdent blocks[] = {{facts::kCountBlock.id, facts::kCountBlock.token}, {0, nullptr}};
  int32_t count = 0;
  EXPECT_EQ(reader.findBlock(blocks), facts::kCountBlock.id);
  EXPECT_EQ(reader.readInts(&count, 1), 1);
  return count;
}

Names inputCalls(hostsim::Host &host) { return host.log().withPrefix("input."); }

// ---- creation and destruction ---------------------------------------------

TEST_F(MultiNodeTest, StartsWithStageOneThenTheOutput) {
  host.log().clear();
  hostsim::Node &fresh = host.createNode(kMulti, "fresh");
  EXPECT_EQ(host.log().entries(),
            (Names{"node.setPreviewType 2", "input.create Reference Normal 1 3",
                   "input.create Weight 1 2", "output.create World Normal 3"}));
  EXPECT_EQ(fresh.inputs()[0]->eventFunc(), fresh.inputs()[1]->eventFunc());
  EXPECT_NE(fresh.inputs()[0]->eventFunc(), nullptr);
  EXPECT_EQ(savedCount(fresh), 1);
}

TEST_F(MultiNodeTest, DestroyReleasesThePanelButLeavesInputsAndOutputToTheHost) {
  loadCount(*node, 9);  // beyond the first growth of the stage list
  InterfaceRecord record{node->instance(), nullptr, nullptr, nullptr};
  ASSERT_EQ(host.activateInterface(kMulti, NODE_INTERFACE_VERSION, &record), ACTIVATE_OK);
  host.log().clear();
  node->destroy();
  EXPECT_EQ(host.log().entries(), Names{"panel.destroy"});
}

// ---- stage count changes --------------------------------------------------

enum class Driver { Load, PanelEdit, Copy };

struct Resize {
  Driver driver;
  int32_t from;
  int32_t to;
};

std::ostream &operator<<(std::ostream &out, const Resize &r) {
  const char *driver[] = {"load", "panel edit", "copy"};
  return out << driver[static_cast<int>(r.driver)] << " " << r.from << " -> " << r.to;
}

class MultiResizeTest : public MultiNodeTest, public ::testing::WithParamInterface<Resize> {
 protected:
  // Sets the count the way the case's driver does: a scene file, the
  // panel's edit (set, then the value-change notification), or a copy from
  // a node that has it.
  void setCount(int32_t count) {
    switch (GetParam().driver) {
      case Driver::Load:
        loadCount(*node, count);
        break;
      case Driver::PanelEdit: {
        InterfaceRecord record{node->instance(), nullptr, nullptr, nullptr};
        ASSERT_EQ(host.activateInterface(kMulti, NODE_INTERFACE_VERSION, &record), ACTIVATE_OK);
        EXPECT_EQ(host.panels().find(record.panel)->editInt(facts::kInputSizeId, count), 1);
        break;
      }
      case Driver::Copy: {
        host.log().setRecording(false);
        hostsim::Node &source = host.createNode(kMulti, "source");
        loadCount(source, count);
        host.log().setRecording(true);
        EXPECT_EQ(node->copyFrom(source), nullptr);
        break;
      }
    }
  }
};

// Stages that stay keep their inputs, and so their connections: only the
// difference reaches the host, and the count is kept as given.
TEST_P(MultiResizeTest, MakesOrDestroysOnlyTheDifference) {
  const auto [driver, from, to] = GetParam();
  setCount(from);
  ASSERT_EQ(node->inputNames(), stageInputs(1, stagesFor(from)));
  std::vector<const hostsim::Input *> staying;
  for (const auto &input : node->inputs()) {
    if (!input->destroyed() && staying.size() < 2 * static_cast<std::size_t>(stagesFor(to))) {
      staying.push_back(input.get());
    }
  }

  host.log().clear();
  setCount(to);
  EXPECT_EQ(inputCalls(host), inputCallsForResize(stagesFor(from), stagesFor(to)));
  EXPECT_EQ(node->inputNames(), stageInputs(1, stagesFor(to)));
  for (const hostsim::Input *input : staying) EXPECT_FALSE(input->destroyed()) << input->name();
  EXPECT_EQ(savedCount(*node), to);
  EXPECT_TRUE(host.log().withPrefix("output.").empty());
}

std::vector<Resize> resizeCases() {
  const Resize counts[] = {{Driver::Load, 1, 3},
                           {Driver::Load, 4, 2},
                           {Driver::Load, 3, 3},
                           {Driver::Load, 1, 12},
                           {Driver::Load, 12, 1},
                           {Driver::Load, 3, 0},
                           {Driver::Load, 3, -1},
                           {Driver::Load, 3, INT_MIN},
                           {Driver::Load, 0, 2},
                           {Driver::Load, INT_MIN, 2},
                           {Driver::Load, -5, INT_MIN},
                           {Driver::Load, 7, 6},
                           {Driver::Load, -5, 2},
                           // Past the limit the count is kept but no more stages are made.
                           {Driver::Load, 1, INT_MAX},
                           {Driver::Load, facts::kStageLimit + 1, 3},
                           {Driver::Load, facts::kStageLimit, facts::kStageLimit + 1}};
  std::vector<Resize> cases;
  for (Driver driver : {Driver::Load, Driver::PanelEdit, Driver::Copy}) {
    for (Resize r : counts) cases.push_back({driver, r.from, r.to});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Counts, MultiResizeTest, ::testing::ValuesIn(resizeCases()));

// ---- scene data -----------------------------------------------------------

class MultiDataTest : public MultiNodeTest, public ::testing::WithParamInterface<BlockForm> {
 protected:
  BlockForm form() const { return GetParam(); }

  // Scene data with an INUM block per count, between two blocks the node
  // does not know.
  std::string data(std::initializer_list<int32_t> counts) const {
    hostsim::BlockWriter writer(form());
    writer.begin(facts::kObjectBlock.id, facts::kObjectBlock.token);
    writer.writeString("Cube");
    writer.end();
    for (int32_t count : counts) {
      writer.begin(facts::kCountBlock.id, facts::kCountBlock.token);
      writer.writeInt(count);
      writer.end();
    }
    writer.begin(blockId("JUNK"), "Junk");
    writer.end();
    return writer.finish();
  }
};

// A scene saved, loaded into a fresh node and saved again must not drift.
TEST_P(MultiDataTest, SavesTheCountAsOneNumBlockThatReloadsToTheSameStages) {
  for (int32_t count :
       {1, 3, 0, -4, INT_MIN, facts::kStageLimit, facts::kStageLimit + 1, INT_MAX}) {
    hostsim::Node &source = host.createNode(kMulti, "source");
    loadCount(source, count, form());
    hostsim::BlockWriter expected(form());
    expected.begin(facts::kCountBlock.id, facts::kCountBlock.token);
    expected.writeInt(count);
    expected.end();
    const std::string first = source.save(form());
    EXPECT_EQ(first, expected.finish()) << "count " << count;

    hostsim::Node &reloaded = host.createNode(kMulti, "reloaded");
    EXPECT_EQ(reloaded.load(form(), first), nullptr);
    EXPECT_EQ(reloaded.save(form()), first) << "count " << count;
    EXPECT_EQ(reloaded.inputNames(), source.inputNames()) << "count " << count;
  }
}

TEST_P(MultiDataTest, TheLastCountWinsAndUnknownBlocksAreSteppedOver) {
  for (bool hostReturnsUnknown : {false, true}) {
    hostsim::Node &target = host.createNode(kMulti, "target");
    hostsim::LoadOptions options;
    options.returnUnknownBlocks = hostReturnsUnknown;
    host.log().clear();
    EXPECT_EQ(target.load(form(), data({5, 2}), options), nullptr);
    EXPECT_EQ(inputCalls(host), inputCallsForResize(1, 2)) << "one resize, after reading";
  }
}

TEST_P(MultiDataTest, DataWithoutAReadableCountKeepsTheCountAndTheStages) {
  loadCount(*node, 3, form());
  hostsim::BlockWriter emptyCount(form());
  emptyCount.begin(facts::kCountBlock.id, facts::kCountBlock.token);
  emptyCount.end();
  for (const std::string &scene : {data({}), emptyCount.finish()}) {
    host.log().clear();
    EXPECT_EQ(node->load(form(), scene), nullptr);
    EXPECT_TRUE(inputCalls(host).empty());
    EXPECT_EQ(savedCount(*node), 3);
  }
}

INSTANTIATE_TEST_SUITE_P(BothForms, MultiDataTest,
                         ::testing::Values(BlockForm::Binary, BlockForm::Text),
                         [](const auto &info) {
                           return info.param == BlockForm::Binary ? "Binary" : "Text";
                         });

// ---- copy -----------------------------------------------------------------

TEST_F(MultiNodeTest, CopyLeavesTheSourceAlone) {
  hostsim::Node &source = host.createNode(kMulti, "source");
  loadCount(source, 3);
  ASSERT_EQ(node->copyFrom(source), nullptr);
  EXPECT_EQ(source.inputNames(), stageInputs(1, 3));
  EXPECT_EQ(node->inputs().size(), 6u) << "new stages are made on the destination's node";
}

TEST_F(MultiNodeTest, CallbacksGivenNoInstanceOrNoStateDoNothing) {
  const InstanceFuncs &funcs = *node->activation().record.inst;
  host.log().clear();
  EXPECT_EQ(funcs.copy(nullptr, node->instance()), nullptr);
  EXPECT_EQ(funcs.copy(node->instance(), nullptr), nullptr);
  EXPECT_EQ(funcs.load(nullptr, nullptr), nullptr);
  EXPECT_EQ(funcs.load(node->instance(), nullptr), nullptr);
  EXPECT_EQ(funcs.save(nullptr, nullptr), nullptr);
  EXPECT_EQ(funcs.save(node->instance(), nullptr), nullptr);
  funcs.destroy(nullptr);
  EXPECT_EQ(node->newTime(3, 0.5), nullptr);
  EXPECT_TRUE(host.log().entries().empty());
}

// ---- inputs the host gives no id for --------------------------------------

TEST_F(MultiNodeTest, AStageWhoseInputGotNoIdKeepsItsPlaceAndItsNullIsNeverHandedBack) {
  host.refuseInputIds([](std::string_view name) { return name == facts::stageWeightInput(2); });
  loadCount(*node, 3);
  EXPECT_EQ(node->inputNames(), (Names{facts::stageReferenceInput(1), facts::stageWeightInput(1),
                                       facts::stageReferenceInput(2), facts::stageReferenceInput(3),
                                       facts::stageWeightInput(3)}))
      << "stage 3 keeps its number";
  host.log().clear();
  loadCount(*node, 1);
  EXPECT_EQ(inputCalls(host),
            (Names{"input.destroy Reference Normal 2", "input.destroy Reference Normal 3",
                   "input.destroy Weight 3"}));
  host.refuseInputIds([](std::string_view /*name*/) { return true; });
  loadCount(*node, 4);
  host.log().clear();
  loadCount(*node, 1);
  EXPECT_TRUE(inputCalls(host).empty());
  EXPECT_EQ(savedCount(*node), 1);
}

// ---- memory that cannot be had ---------------------------------------------

#ifdef KERROWBEND_HEAP_COUNTING

// Whether every input on the node belongs to a stage, stages numbered from
// 1 without a gap; gives the number of stages through stages.
::testing::AssertionResult inputsFormWholeStages(const hostsim::Node &node, int *stages) {
  const Names names = node.inputNames();
  *stages = static_cast<int>(names.size() / 2);
  if (names == stageInputs(1, *stages)) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure() << "inputs:";
  for (const auto &name : names) failure << " [" << name << "]";
  return failure;
}

// Placing a node takes the instance, the stage list, its slots and stage
// 1's record; growing to 12 stages takes a record per stage and one growth
// of the slots. Each of those allocations is refused in turn: what was made
// stays usable, and a later resize finishes the job.
TEST_F(MultiNodeTest, RefusedMemoryStopsAddingStagesAndLeavesNoOrphanInput) {
  auto &cube = host.scene().addObject("Cube");
  host.log().setRecording(false);
  for (bool placing : {true, false}) {
    bool refusedOne = true;
    for (std::size_t failAt = placing ? 1 : 0; refusedOne; ++failAt) {
      SCOPED_TRACE((placing ? "placing, allocation " : "growing, allocation ") +
                   std::to_string(failAt));
      hostsim::Node *target = placing ? nullptr : &host.createNode(kMulti, "target");
      {
        heapcount::FailScope scope(failAt, heapcount::FailScope::kCallocOnly);
        if (placing) target = &host.createNode(kMulti, "target");
        if (!placing) loadCount(*target, 12);
        refusedOne = scope.failed();
      }
      int stages = 0;
      ASSERT_NE(target->instance(), nullptr);
      ASSERT_TRUE(inputsFormWholeStages(*target, &stages));
      EXPECT_EQ(stages == (placing ? 1 : 12), !refusedOne);
      EXPECT_EQ(target->evaluate(hostsim::makeSpot({0, 0, 1}, cube.id())).value,
                (hostsim::Vec3{0, 0, 1}));
      InterfaceRecord record{target->instance(), nullptr, nullptr, nullptr};
      ASSERT_EQ(host.activateInterface(kMulti, NODE_INTERFACE_VERSION, &record), ACTIVATE_OK);
      EXPECT_EQ(host.panels().find(record.panel)->editInt(facts::kInputSizeId, 12), 1);
      ASSERT_TRUE(inputsFormWholeStages(*target, &stages));
      EXPECT_EQ(stages, 12);
      hostsim::Node &copy = host.createNode(kMulti, "copy");
      EXPECT_EQ(copy.copyFrom(*target), nullptr);
      EXPECT_EQ(savedCount(copy), 12);
      target->destroy();
      ASSERT_LT(failAt, 40u);
    }
  }
}

TEST_F(ModuleTest, AnInstanceThatCannotBeAllocatedIsReportedAndNothingIsMade) {
  for (const char *server : facts::kNodes) {
    SCOPED_TRACE(server);
    ASSERT_EQ(host.activateHandler(server), ACTIVATE_OK);
    hostsim::Node *node = nullptr;
    {
      heapcount::FailScope scope(0, heapcount::FailScope::kCallocOnly);
      node = &host.createNode(server, "target");
    }
    EXPECT_EQ(node->instance(), nullptr);
    EXPECT_EQ(node->createError(), facts::kCreateFailed);
    EXPECT_EQ(node->previewType(), -1);
    EXPECT_TRUE(node->inputs().empty());
    EXPECT_TRUE(node->outputs().empty());
  }
}

#endif

}  // namespace
}  // namespace kerrowbend_test
