// The multi-reference node's instance as a host sees it: the inputs it makes
// and destroys as its stage count changes (by load, copy or creation), what
// it saves, and that it stays sound when the host gives no input id or
// memory runs out.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostsim/blocks.h"
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

// Scene data holding one INUM block per count, in order.
std::string countData(BlockForm form, std::initializer_list<int32_t> counts) {
  hostsim::BlockWriter writer(form);
  for (int32_t count : counts) {
    writer.begin(blockId("INUM"), "Num");
    writer.writeInt(count);
    writer.end();
  }
  return writer.finish();
}

void loadCount(hostsim::Node &node, int32_t count, BlockForm form = BlockForm::Binary) {
  ASSERT_EQ(node.load(form, countData(form, {count})), nullptr);
}

// The count a node saves, read back from its data.
int32_t savedCount(hostsim::Node &node) {
  hostsim::BlockReader reader(BlockForm::Binary, node.save(BlockForm::Binary));
  const BlockIdent blocks[] = {{blockId("INUM"), "Num"}, {0, nullptr}};
  EXPECT_EQ(reader.findBlock(blocks), blockId("INUM"));
  int32_t count = 0;
  EXPECT_EQ(reader.readInts(&count, 1), 1);
  return count;
}

// The inputs of stages first..last, in the order the node makes them.
Names stageInputs(int first, int last) {
  Names names;
  for (int k = first; k <= last; ++k) {
    names.push_back("Reference Normal " + std::to_string(k));
    names.push_back("Weight " + std::to_string(k));
  }
  return names;
}

// What the host is asked to do with inputs when a node goes from `from`
// stages to `to`: make the new stages' inputs in increasing order, or
// destroy the removed stages' inputs from the lowest upward.
Names inputCallsForResize(int from, int to) {
  Names calls;
  const bool growing = to > from;
  for (const std::string &name : growing ? stageInputs(from + 1, to) : stageInputs(to + 1, from)) {
    const bool vector = name.starts_with("Reference");
    calls.push_back(growing ? "input.create " + name + (vector ? " 3" : " 2")
                            : "input.destroy " + name);
  }
  return calls;
}

Names inputCalls(hostsim::Host &host) { return host.log().withPrefix("input."); }

// ---- creation and destruction ---------------------------------------------

TEST_F(MultiNodeTest, StartsWithStageOneThenTheOutput) {
  hostsim::Node &fresh = host.createNode(kMulti, "fresh");
  EXPECT_EQ(fresh.previewType(), 2);
  ASSERT_EQ(fresh.inputs().size(), 2u);
  EXPECT_EQ(fresh.inputNames(), stageInputs(1, 1));
  EXPECT_EQ(fresh.inputs()[0]->connectionType(), CONNECTION_VECTOR);
  EXPECT_EQ(fresh.inputs()[1]->connectionType(), CONNECTION_SCALAR);
  EXPECT_NE(fresh.inputs()[0]->eventFunc(), nullptr);
  EXPECT_EQ(fresh.inputs()[0]->eventFunc(), fresh.inputs()[1]->eventFunc());
  ASSERT_EQ(fresh.outputs().size(), 1u);
  EXPECT_EQ(fresh.outputs()[0]->name(), "World Normal");
  EXPECT_EQ(fresh.outputs()[0]->connectionType(), CONNECTION_VECTOR);
  // The output comes after the stage's inputs.
  const Names calls = host.log().entries();
  const auto at = [&](const std::string &entry) {
    return std::find(calls.begin(), calls.end(), entry) - calls.begin();
  };
  EXPECT_LT(at("input.create Weight 1 2"), at("output.create World Normal 3"));
  EXPECT_EQ(savedCount(fresh), 1);
}

TEST_F(MultiNodeTest, DestroyReleasesThePanelButLeavesInputsAndOutputToTheHost) {
  loadCount(*node, 9);  // beyond the first growth of the stage list
  InterfaceRecord record{node->instance(), nullptr, nullptr, nullptr};
  ASSERT_EQ(host.activateInterface(kMulti, 4, &record), 0);
  ASSERT_NE(record.panel, nullptr);
  host.log().clear();
  node->destroy();
  EXPECT_EQ(host.log().entries(), Names{"panel.destroy"});
}

// ---- stage count changes --------------------------------------------------

struct Resize {
  int32_t from;
  int32_t to;
};

std::ostream &operator<<(std::ostream &out, const Resize &r) {
  return out << r.from << " -> " << r.to;
}

class MultiResizeTest : public MultiNodeTest, public ::testing::WithParamInterface<Resize> {};

// Each count is loaded as a scene file would give it; the stages that stay
// keep their inputs, so only the difference reaches the host.
TEST_P(MultiResizeTest, LoadingACountMakesOrDestroysOnlyTheDifference) {
  const auto [from, to] = GetParam();
  loadCount(*node, from);
  const auto stagesFor = [](int32_t count) { return count > 0 ? count : 0; };
  ASSERT_EQ(node->inputNames(), stageInputs(1, stagesFor(from)));
  std::vector<const hostsim::Input *> kept;
  for (const auto &input : node->inputs()) {
    if (!input->destroyed()) kept.push_back(input.get());
  }

  host.log().clear();
  loadCount(*node, to);
  EXPECT_EQ(inputCalls(host), inputCallsForResize(stagesFor(from), stagesFor(to)));
  EXPECT_EQ(node->inputNames(), stageInputs(1, stagesFor(to)));
  for (std::size_t i = 0; i < kept.size() && i < 2 * static_cast<std::size_t>(stagesFor(to)); ++i) {
    EXPECT_FALSE(kept[i]->destroyed()) << kept[i]->name() << " is kept, not made anew";
  }
  EXPECT_EQ(savedCount(*node), to) << "the count is kept as loaded";
  EXPECT_EQ(node->outputs().size(), 1u);
  EXPECT_FALSE(node->outputs()[0]->destroyed());
}

INSTANTIATE_TEST_SUITE_P(Counts, MultiResizeTest,
                         ::testing::Values(Resize{1, 3}, Resize{4, 2}, Resize{3, 3}, Resize{1, 12},
                                           Resize{12, 1}, Resize{3, 0}, Resize{3, -1},
                                           Resize{3, INT_MIN}, Resize{0, 2}, Resize{-5, 2},
                                           Resize{INT_MIN, 2}, Resize{INT_MIN, INT_MIN},
                                           Resize{7, 6}, Resize{1, 0}));

TEST_F(MultiNodeTest, RepeatedResizesReuseFreedSlotsAndKeepStageOrder) {
  // Grow past the list's first growth, shrink, grow again: positions must
  // still follow stage numbers whatever slots the stages landed in.
  for (int32_t count : {9, 2, 11, 0, 13, 4}) loadCount(*node, count);
  EXPECT_EQ(node->inputNames(), stageInputs(1, 4));
  host.log().clear();
  loadCount(*node, 6);
  EXPECT_EQ(inputCalls(host), inputCallsForResize(4, 6));
}

// ---- scene data -----------------------------------------------------------

class MultiDataTest : public MultiNodeTest, public ::testing::WithParamInterface<BlockForm> {
 protected:
  BlockForm form() const { return GetParam(); }
};

// A scene saved, loaded into a fresh node and saved again must not drift.
TEST_P(MultiDataTest, SavesTheCountAsOneNumBlockThatReloadsToTheSameStages) {
  for (int32_t count : {1, 3, 0, -4, INT_MIN}) {
    hostsim::Node &source = host.createNode(kMulti, "source");
    loadCount(source, count, form());
    const std::string first = source.save(form());
    EXPECT_EQ(first, countData(form(), {count})) << "count " << count;

    hostsim::Node &reloaded = host.createNode(kMulti, "reloaded");
    EXPECT_EQ(reloaded.load(form(), first), nullptr);
    EXPECT_EQ(reloaded.save(form()), first) << "count " << count;
    EXPECT_EQ(reloaded.inputNames(), source.inputNames()) << "count " << count;
  }
}

TEST_P(MultiDataTest, TheLastOfSeveralCountsWinsAndUnknownBlocksAreSteppedOver) {
  for (bool hostReturnsUnknown : {false, true}) {
    hostsim::Node &target = host.createNode(kMulti, "target");
    hostsim::BlockWriter writer(form());
    writer.begin(blockId("ROBJ"), "Object");
    writer.writeString("Cube");
    writer.end();
    for (int32_t count : {5, 2}) {
      writer.begin(blockId("INUM"), "Num");
      writer.writeInt(count);
      writer.end();
    }
    writer.begin(blockId("JUNK"), "Junk");
    writer.writeInt(9);
    writer.end();
    hostsim::LoadOptions options;
    options.returnUnknownBlocks = hostReturnsUnknown;
    host.log().clear();
    EXPECT_EQ(target.load(form(), writer.finish(), options), nullptr);
    EXPECT_EQ(target.inputNames(), stageInputs(1, 2)) << "unknown returned " << hostReturnsUnknown;
    EXPECT_EQ(inputCalls(host), inputCallsForResize(1, 2)) << "one resize, after reading";
  }
}

TEST_P(MultiDataTest, DataWithoutAReadableCountKeepsTheCountAndTheStages) {
  loadCount(*node, 3, form());
  hostsim::BlockWriter empty(form());
  hostsim::BlockWriter emptyCount(form());
  emptyCount.begin(blockId("INUM"), "Num");
  emptyCount.end();
  for (const std::string &data : {empty.finish(), emptyCount.finish()}) {
    host.log().clear();
    EXPECT_EQ(node->load(form(), data), nullptr);
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

TEST_F(MultiNodeTest, CopyTakesTheCountAndResizesOnTheDestinationsOwnNode) {
  hostsim::Node &source = host.createNode(kMulti, "source");
  loadCount(source, 3);
  const hostsim::Input *ownFirst = node->input("Reference Normal 1");
  host.log().clear();
  EXPECT_EQ(node->copyFrom(source), nullptr);
  EXPECT_EQ(inputCalls(host), inputCallsForResize(1, 3));
  EXPECT_EQ(node->inputNames(), stageInputs(1, 3));
  EXPECT_EQ(node->input("Reference Normal 1"), ownFirst) << "stage 1 keeps its own input";
  EXPECT_EQ(source.inputNames(), stageInputs(1, 3)) << "the source is left alone";
  EXPECT_EQ(savedCount(*node), 3);

  hostsim::Node &small = host.createNode(kMulti, "small");
  host.log().clear();
  EXPECT_EQ(source.copyFrom(small), nullptr);
  EXPECT_EQ(inputCalls(host), inputCallsForResize(3, 1));
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
  EXPECT_TRUE(host.log().entries().empty());
  EXPECT_EQ(node->newTime(3, 0.5), nullptr);
}

// ---- inputs the host gives no id for --------------------------------------

TEST_F(MultiNodeTest, AStageWhoseInputGotNoIdKeepsItsPlaceAndItsNullIsNeverHandedBack) {
  host.refuseInputIds([](std::string_view name) { return name == "Weight 2"; });
  loadCount(*node, 3);
  EXPECT_EQ(node->inputNames(), (Names{"Reference Normal 1", "Weight 1", "Reference Normal 2",
                                       "Reference Normal 3", "Weight 3"}))
      << "stage 3 keeps its number";
  host.log().clear();
  loadCount(*node, 1);
  EXPECT_EQ(inputCalls(host),
            (Names{"input.destroy Reference Normal 2", "input.destroy Reference Normal 3",
                   "input.destroy Weight 3"}));
}

TEST_F(ModuleTest, ANodeWhoseInputsAllGotNoIdStillCountsAndSavesItsStages) {
  ASSERT_EQ(host.activateHandler(kMulti), 0);
  host.refuseInputIds([](std::string_view /*name*/) { return true; });
  hostsim::Node &node = host.createNode(kMulti, "no inputs");
  loadCount(node, 4);
  EXPECT_TRUE(node.inputNames().empty());
  EXPECT_EQ(savedCount(node), 4);
  host.log().clear();
  loadCount(node, 0);
  EXPECT_TRUE(inputCalls(host).empty()) << "no null id is handed back";
}

// ---- memory that cannot be had ---------------------------------------------

#ifdef KERROWBEND_HEAP_COUNTING

// Whether every input on the node belongs to a stage, stages numbered from
// 1 without a gap; gives the number of stages through stages.
::testing::AssertionResult inputsFormWholeStages(const hostsim::Node &node, int *stages) {
  const Names names = node.inputNames();
  if (names.size() % 2 != 0 || names != stageInputs(1, static_cast<int>(names.size() / 2))) {
    auto failure = ::testing::AssertionFailure() << "inputs:";
    for (const auto &name : names) failure << " [" << name << "]";
    return failure;
  }
  *stages = static_cast<int>(names.size() / 2);
  return ::testing::AssertionSuccess();
}

// Growing from 1 to 12 stages takes a record per stage and one growth of
// the stage list; each of those allocations is refused in turn.
TEST_F(MultiNodeTest, GrowingStopsCleanlyWhereMemoryRunsOut) {
  host.log().setRecording(false);
  bool refusedOne = true;
  for (std::size_t failAt = 0; refusedOne; ++failAt) {
    SCOPED_TRACE("allocation " + std::to_string(failAt) + " refused");
    hostsim::Node &target = host.createNode(kMulti, "target");
    const std::string data = countData(BlockForm::Binary, {12});
    {
      heapcount::FailScope scope(failAt, heapcount::FailScope::kCallocOnly);
      EXPECT_EQ(target.load(BlockForm::Binary, data), nullptr);
      refusedOne = scope.failed();
    }
    int stages = 0;
    ASSERT_TRUE(inputsFormWholeStages(target, &stages));
    EXPECT_EQ(stages == 12, !refusedOne);
    EXPECT_GE(stages, 1) << "stages that existed stay";
    // Everything else still works, and a later resize finishes the job.
    EXPECT_EQ(savedCount(target), 12);
    EXPECT_TRUE(target.evaluate(hostsim::makeSpot({0, 0, 1})).setOnce());
    loadCount(target, 12);
    ASSERT_TRUE(inputsFormWholeStages(target, &stages));
    EXPECT_EQ(stages, 12);
    target.destroy();
    ASSERT_LT(failAt, 40u);
  }
}

TEST_F(ModuleTest, ANodeWhoseStageListCouldNotBeMadeWorksWithoutStages) {
  ASSERT_EQ(host.activateHandler(kMulti), 0);
  auto &cube = host.scene().addObject("Cube");
  bool refusedOne = true;
  for (std::size_t failAt = 1; refusedOne; ++failAt) {  // 0 is the instance itself
    SCOPED_TRACE("allocation " + std::to_string(failAt) + " refused");
    hostsim::Node *node = nullptr;
    {
      heapcount::FailScope scope(failAt, heapcount::FailScope::kCallocOnly);
      node = &host.createNode(kMulti, "target");
      refusedOne = scope.failed();
    }
    ASSERT_NE(node->instance(), nullptr);
    int stages = 0;
    ASSERT_TRUE(inputsFormWholeStages(*node, &stages));
    EXPECT_EQ(stages == 1, !refusedOne);
    EXPECT_EQ(node->evaluate(hostsim::makeSpot({0, 0, 1}, cube.id())).value,
              (hostsim::Vec3{0, 0, 1}));
    InterfaceRecord record{node->instance(), nullptr, nullptr, nullptr};
    ASSERT_EQ(host.activateInterface(kMulti, 4, &record), 0);
    ASSERT_EQ(host.panels().find(record.panel)->editInt(0x8001, 3), 1);
    ASSERT_TRUE(inputsFormWholeStages(*node, &stages));
    EXPECT_EQ(stages, 3) << "a later resize makes the list";
    hostsim::Node &copy = host.createNode(kMulti, "copy");
    EXPECT_EQ(copy.copyFrom(*node), nullptr);
    EXPECT_EQ(copy.inputNames(), stageInputs(1, 3));
    node->destroy();
  }
}

TEST_F(ModuleTest, AnInstanceThatCannotBeAllocatedIsReportedAndNothingIsMade) {
  ASSERT_EQ(host.activateHandler(kMulti), 0);
  hostsim::Node *node = nullptr;
  {
    heapcount::FailScope scope(0, heapcount::FailScope::kCallocOnly);
    node = &host.createNode(kMulti, "target");
  }
  EXPECT_EQ(node->instance(), nullptr);
  EXPECT_EQ(node->createError(), "Couldn't allocate memory for instance.");
  EXPECT_TRUE(node->inputs().empty());
  EXPECT_TRUE(node->outputs().empty());
}

#endif

}  // namespace
}  // namespace kerrowbend_test
