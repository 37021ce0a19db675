// The single-reference node as a host sees it: what creating an instance
// asks of the host, its settings in scene data (save, load, damaged data),
// copying, and finding the reference object by name at each new time.
// The settings are observed only through what the node saves, and the
// reference object only through where evaluation turns a normal.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "hostsim/block_io.h"
#include "hostsim/host.h"
#include "tests/module_fixture.h"

namespace kerrowbend_test {
namespace {

using hostsim::BlockForm;
using hostsim::Vec3;

const Vec3 kUp{0.0, 0.0, 1.0};

std::string formName(const ::testing::TestParamInfo<BlockForm> &info) {
  return info.param == BlockForm::Binary ? "Binary" : "Text";
}

// A name whose characters change along its length, so a cut in the wrong
// place shows.
std::string nameOfLength(std::size_t length) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name(length, ' ');
  for (std::size_t i = 0; i < length; ++i) name[i] = kAlphabet[i % (sizeof kAlphabet - 1)];
  return name;
}

// ---- scene data -----------------------------------------------------------

// The three settings as the node saves them.
struct Settings {
  std::string object;
  int32_t invert = facts::kNewNodeInvert;
  std::string map;
  bool operator==(const Settings &) const = default;
};

void printName(const std::string &name, std::ostream *os) {
  if (name.size() <= 40) {
    *os << '"' << name << '"';
  } else {
    *os << '"' << name.substr(0, 16) << "...\" (" << name.size() << " chars)";
  }
}

void PrintTo(const Settings &settings, std::ostream *os) {
  *os << "{object ";
  printName(settings.object, os);
  *os << ", invert " << settings.invert << ", map ";
  printName(settings.map, os);
  *os << "}";
}

// One block written by hand, to feed a loader what a scene file may hold.
struct Block {
  using Value = std::variant<std::monostate, std::string, int32_t>;
  BlockId id;
  std::string token;
  Value value;
};

// A block of one of the node's own kinds.
Block nodeBlock(const facts::BlockFact &kind, Block::Value value) {
  return {kind.id, kind.token, std::move(value)};
}
Block objectBlock(std::string name) { return nodeBlock(facts::kObjectBlock, std::move(name)); }
Block invertBlock(int32_t invert) { return nodeBlock(facts::kInvertBlock, invert); }
Block mapBlock(std::string name) { return nodeBlock(facts::kWeightMapBlock, std::move(name)); }

std::string sceneData(BlockForm form, const std::vector<Block> &blocks) {
  hostsim::BlockWriter writer(form);
  for (const Block &block : blocks) {
    writer.begin(block.id, block.token);
    if (const auto *text = std::get_if<std::string>(&block.value)) writer.writeString(*text);
    if (const auto *number = std::get_if<int32_t>(&block.value)) writer.writeInt(*number);
    writer.end();
  }
  return writer.finish();
}

// What a node holding these settings saves, byte for byte.
std::string sceneData(BlockForm form, const Settings &settings) {
  return sceneData(
      form, {objectBlock(settings.object), invertBlock(settings.invert), mapBlock(settings.map)});
}

// Reads back what a node saved. A block that is absent keeps the marker,
// and strings are read whole, so an overlong save shows as such.
Settings decode(BlockForm form, std::string data) {
  static const BlockIdent kList[] = {{facts::kObjectBlock.id, facts::kObjectBlock.token},
                                     {facts::kInvertBlock.id, facts::kInvertBlock.token},
                                     {facts::kWeightMapBlock.id, facts::kWeightMapBlock.token},
                                     {0, nullptr}};
  Settings settings{"<absent>", INT32_MIN, "<absent>"};
  hostsim::BlockReader reader(form, std::move(data));
  std::vector<char> text(4096, '\0');
  for (BlockId id = reader.findBlock(kList); id != 0; id = reader.findBlock(kList)) {
    if (id == facts::kInvertBlock.id) {
      reader.readInts(&settings.invert, 1);
    } else if (reader.readString(text.data(), static_cast<int>(text.size())) > 0) {
      (id == facts::kObjectBlock.id ? settings.object : settings.map) = text.data();
    }
    reader.endBlock();
  }
  return settings;
}

Settings saved(hostsim::Node &node, BlockForm form = BlockForm::Text) {
  return decode(form, node.save(form));
}

void load(hostsim::Node &node, const std::vector<Block> &blocks, BlockForm form = BlockForm::Text) {
  ASSERT_EQ(node.load(form, sceneData(form, blocks)), nullptr);
}

void load(hostsim::Node &node, const Settings &settings, BlockForm form = BlockForm::Text) {
  ASSERT_EQ(node.load(form, sceneData(form, settings)), nullptr);
}

std::string temporaryPath(const std::string &name) {
  return ::testing::TempDir() + "single_node_test_" + std::to_string(::getpid()) + "_" + name;
}

// ---- evaluation as the observer of the reference object ---------------------

std::string text(const Vec3 &v) {
  return "(" + std::to_string(v[0]) + ", " + std::to_string(v[1]) + ", " + std::to_string(v[2]) +
         ")";
}

::testing::AssertionResult near(const Vec3 &actual, const Vec3 &expected) {
  for (std::size_t i = 0; i < 3; ++i) {
    if (!(std::fabs(actual[i] - expected[i]) <= 1e-9)) {
      return ::testing::AssertionFailure()
             << "got " << text(actual) << ", expected " << text(expected);
    }
  }
  return ::testing::AssertionSuccess();
}

// Where the node turns the normal (0, 0, 1) of a spot on object.
Vec3 shade(const hostsim::Node &node, const hostsim::SceneObject &object) {
  const hostsim::Evaluation result = node.evaluate(hostsim::makeSpot(kUp, object.id()));
  EXPECT_TRUE(result.setOnce()) << "World Normal set " << result.setValueCalls << " times";
  return result.value;
}

// ---- creation -------------------------------------------------------------

class SingleNodeCreationTest : public ModuleTest {};

TEST_F(SingleNodeCreationTest, SetsThePreviewTypeThenMakesTwoInputsAndOneOutput) {
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  host.log().clear();
  hostsim::Node &node = host.createNode(kSingle, "Kerrowbend (1)");

  ASSERT_NE(node.instance(), nullptr);
  EXPECT_FALSE(node.createErrorSet()) << node.createError();
  EXPECT_EQ(host.log().entries(),
            (std::vector<std::string>{"node.setPreviewType 2", "input.create Reference Normal 3",
                                      "input.create Weight 2", "output.create World Normal 3"}));
  EXPECT_EQ(node.previewType(), NODE_PREVIEW_NORMAL);

  ASSERT_EQ(node.inputNames(),
            (std::vector<std::string>{facts::kReferenceInput, facts::kWeightInput}));
  const hostsim::Input &reference = *node.input(facts::kReferenceInput);
  const hostsim::Input &weight = *node.input(facts::kWeightInput);
  EXPECT_EQ(reference.connectionType(), CONNECTION_VECTOR);
  EXPECT_EQ(weight.connectionType(), CONNECTION_SCALAR);
  EXPECT_NE(reference.eventFunc(), nullptr);
  EXPECT_EQ(weight.eventFunc(), reference.eventFunc()) << "both inputs share one event callback";

  ASSERT_EQ(node.outputs().size(), 1u);
  EXPECT_EQ(node.outputs()[0]->name(), facts::kOutput);
  EXPECT_EQ(node.outputs()[0]->connectionType(), CONNECTION_VECTOR);
}

// ---- save and load --------------------------------------------------------

class SingleNodeDataTest : public DragNodeTest, public ::testing::WithParamInterface<BlockForm> {
 protected:
  BlockForm form() const { return GetParam(); }
};

TEST_P(SingleNodeDataTest, FreshInstanceSavesEmptyNamesAndInvertOn) {
  EXPECT_EQ(node->save(form()), sceneData(form(), Settings{"", 1, ""}));
}

TEST_P(SingleNodeDataTest, SaveWritesThreeLeafBlocksInOrder) {
  host.log().clear();
  hostsim::SaveReport report;
  node->save(form(), &report);
  EXPECT_EQ(report.error, nullptr);
  EXPECT_TRUE(report.problems.empty()) << report.problems.front();
  EXPECT_EQ(host.log().entries(),
            (std::vector<std::string>{"save.beginBlk ROBJ 1", "save.writeStr", "save.endBlk",
                                      "save.beginBlk INVT 1", "save.writeI4", "save.endBlk",
                                      "save.beginBlk WMAP 1", "save.writeStr", "save.endBlk"}));
}

// A scene saved, loaded into a fresh node and saved again must not drift.
TEST_P(SingleNodeDataTest, SaveLoadSaveGivesTheSameBytesDirectlyAndThroughAFile) {
  const Settings cases[] = {
      {"", 1, ""},
      {"Cube \"A\" \\ caf\xC3\xA9", 0, "Weight\tMap\n"},
      {nameOfLength(kLongestName), -7, nameOfLength(kLongestName)},
  };
  for (const Settings &settings : cases) {
    hostsim::Node &source = host.createNode(kSingle, "source");
    if (settings != Settings{}) load(source, settings, form());
    const std::string first = source.save(form());
    EXPECT_EQ(decode(form(), first), settings);

    hostsim::Node &direct = host.createNode(kSingle, "direct");
    hostsim::LoadReport report;
    EXPECT_EQ(direct.load(form(), first, {}, &report), nullptr);
    EXPECT_FALSE(report.damaged);
    EXPECT_EQ(direct.save(form()), first) << ::testing::PrintToString(settings);

    const std::string path = temporaryPath("settings");
    source.saveToFile(form(), path);
    hostsim::Node &fromFile = host.createNode(kSingle, "from file");
    EXPECT_EQ(fromFile.loadFromFile(form(), path), nullptr);
    EXPECT_EQ(fromFile.save(form()), first) << ::testing::PrintToString(settings);
    std::filesystem::remove(path);
  }
}

TEST_P(SingleNodeDataTest, LoadingOnlyInvertGivesEmptyNamesAndThatInvert) {
  load(*node, {invertBlock(0)}, form());
  EXPECT_EQ(saved(*node, form()), (Settings{"", 0, ""}));
}

TEST_P(SingleNodeDataTest, LoadsBlocksInAnyOrder) {
  load(*node, {mapBlock("Map"), invertBlock(0), objectBlock("Cube")}, form());
  EXPECT_EQ(saved(*node, form()), (Settings{"Cube", 0, "Map"}));
}

TEST_P(SingleNodeDataTest, StepsOverUnknownBlocksWhetherTheHostSkipsOrReturnsThem) {
  const std::string data = sceneData(
      form(), {Block{hostsim::blockId("XTRA"), "Extra", std::string("Decoy")}, objectBlock("Cube"),
               Block{hostsim::blockId("MORE"), "More", 5}, invertBlock(0), mapBlock("Map")});
  for (bool returned : {false, true}) {
    hostsim::Node &target = host.createNode(kSingle, "target");
    host.log().clear();
    hostsim::LoadReport report;
    EXPECT_EQ(target.load(form(), data, {.returnUnknownBlocks = returned}, &report), nullptr);
    EXPECT_TRUE(report.problems.empty()) << report.problems.front();
    EXPECT_EQ(saved(target, form()), (Settings{"Cube", 0, "Map"}))
        << "unknown blocks returned: " << returned;
    EXPECT_EQ(host.log().count("load.readStr " + std::to_string(facts::kNameField)), 2u)
        << "unknown blocks returned: " << returned;
    EXPECT_EQ(host.log().count("load.readI4"), 1u) << "unknown blocks returned: " << returned;
    EXPECT_EQ(host.log().count("load.endBlk"), returned ? 5u : 3u)
        << "every block entered is left once; unknown blocks returned: " << returned;
  }
}

TEST_P(SingleNodeDataTest, MissingBlocksLeaveTheirSettingsAsTheyWere) {
  const Settings before{"Cube", 0, "Map"};
  struct Case {
    const char *what;
    std::vector<Block> blocks;
    Settings after;
  };
  const Case cases[] = {
      {"no blocks", {}, before},
      {"only WMAP", {mapBlock("Other")}, {"Cube", 0, "Other"}},
      {"only ROBJ, empty", {objectBlock("")}, {"", 0, "Map"}},
      {"only INVT", {invertBlock(3)}, {"Cube", 3, "Map"}},
  };
  for (const Case &c : cases) {
    hostsim::Node &target = host.createNode(kSingle, c.what);
    load(target, before, form());
    load(target, c.blocks, form());
    EXPECT_EQ(saved(target, form()), c.after) << c.what;
  }
}

TEST_P(SingleNodeDataTest, ABlockWithNothingToReadLeavesItsSettingAsItWas) {
  const Settings before{"Cube", 7, "Map"};
  struct Case {
    const char *what;
    Block block;
  };
  const Case cases[] = {
      {"INVT with no integer", nodeBlock(facts::kInvertBlock, {})},
      {"INVT holding a string", nodeBlock(facts::kInvertBlock, std::string("x"))},
      {"ROBJ with no string", nodeBlock(facts::kObjectBlock, {})},
      {"WMAP with no string", nodeBlock(facts::kWeightMapBlock, {})},
  };
  for (const Case &c : cases) {
    hostsim::Node &target = host.createNode(kSingle, c.what);
    load(target, before, form());
    load(target, {c.block}, form());
    EXPECT_EQ(saved(target, form()), before) << c.what;
  }
}

// The names live side by side in the instance, then invert: a name that
// spilled over its field would show in the setting loaded before it.
TEST_P(SingleNodeDataTest, KeepsA259CharacterNameWholeAndCutsLongerOnesTo259) {
  for (std::size_t length : {kLongestName, facts::kNameField, std::size_t{1000}}) {
    const std::string name = nameOfLength(length);
    const std::string kept = name.substr(0, kLongestName);

    hostsim::Node &object = host.createNode(kSingle, "long object name");
    load(object, {mapBlock("Map"), invertBlock(0), objectBlock(name)}, form());
    EXPECT_EQ(saved(object, form()), (Settings{kept, 0, "Map"})) << "ROBJ of " << length;

    hostsim::Node &map = host.createNode(kSingle, "long map name");
    load(map, {invertBlock(0), objectBlock("Cube"), mapBlock(name)}, form());
    EXPECT_EQ(saved(map, form()), (Settings{"Cube", 0, kept})) << "WMAP of " << length;
  }
}

INSTANTIATE_TEST_SUITE_P(BothForms, SingleNodeDataTest,
                         ::testing::Values(BlockForm::Binary, BlockForm::Text), formName);

class SingleNodeDamagedDataTest : public DragNodeTest {};

// Data cut anywhere: the blocks wholly before the cut are taken, the rest
// leave their settings as they were.
TEST_F(SingleNodeDamagedDataTest, TruncatedBinaryDataAppliesOnlyTheWholeBlocks) {
  const Settings before{"Old", 7, "Old map"};
  const std::vector<Block> blocks = {objectBlock("Cube"), invertBlock(0), mapBlock("Map")};
  const std::string whole = sceneData(BlockForm::Binary, blocks);
  std::vector<std::size_t> ends;  // where each block ends
  for (std::size_t n = 1; n <= blocks.size(); ++n) {
    const std::vector<Block> firstBlocks(blocks.begin(), blocks.begin() + static_cast<long>(n));
    ends.push_back(sceneData(BlockForm::Binary, firstBlocks).size());
  }

  for (std::size_t size = 0; size <= whole.size(); ++size) {
    Settings expected = before;
    if (size >= ends[0]) expected.object = "Cube";
    if (size >= ends[1]) expected.invert = 0;
    if (size >= ends[2]) expected.map = "Map";

    hostsim::Node &target = host.createNode(kSingle, "target");
    load(target, before, BlockForm::Binary);
    EXPECT_EQ(target.load(BlockForm::Binary, whole.substr(0, size)), nullptr);
    EXPECT_EQ(saved(target, BlockForm::Binary), expected) << "data cut to " << size << " bytes";
  }
}

TEST_F(SingleNodeDamagedDataTest, DamagedTextAppliesTheBlocksBeforeTheDamage) {
  load(*node, Settings{"Old", 7, "Old map"});
  hostsim::LoadReport report;
  EXPECT_EQ(
      node->load(BlockForm::Text, "Object \"Cube\"\nInvert 0\nWeightMap \"open\n", {}, &report),
      nullptr);
  EXPECT_TRUE(report.damaged);
  EXPECT_EQ(saved(*node), (Settings{"Cube", 0, "Old map"}));
}

// ---- copy -----------------------------------------------------------------

class SingleNodeCopyTest : public DragNodeTest {
 protected:
  void SetUp() override {
    DragNodeTest::SetUp();
    if (HasFatalFailure()) return;
    floor = &host.scene().addObject("Floor");
  }

  // A node whose weight is 1 and whose reference is taken as it is.
  hostsim::Node &placeDraggingNode(const std::string &name) {
    hostsim::Node &placed = host.createNode(kSingle, name);
    placed.connect(facts::kWeightInput, 1.0);
    load(placed, {invertBlock(0)});
    return placed;
  }

  hostsim::SceneObject *floor = nullptr;
};

TEST_F(SingleNodeCopyTest, CopiesTheThreeSettingsOverTheOldOnes) {
  hostsim::Node &target = host.createNode(kSingle, "target");
  load(target, Settings{"Old", 5, "Old map"});

  const Settings source{nameOfLength(kLongestName), 0, "Map"};
  load(*node, source);
  EXPECT_EQ(target.copyFrom(*node), nullptr);
  EXPECT_EQ(saved(target), source);
  EXPECT_EQ(target.save(BlockForm::Binary), node->save(BlockForm::Binary));

  hostsim::Node &fresh = host.createNode(kSingle, "fresh");
  EXPECT_EQ(target.copyFrom(fresh), nullptr);
  EXPECT_EQ(saved(target), (Settings{"", 1, ""})) << "empty names are copied too";
}

TEST_F(SingleNodeCopyTest, CopyKeepsReadingItsOwnInputs) {
  hostsim::Node &source = placeDraggingNode("source");
  source.connect(facts::kReferenceInput, Vec3{1.0, 0.0, 0.0});
  ASSERT_TRUE(near(shade(source, *floor), {1.0, 0.0, 0.0}));

  hostsim::Node &target = host.createNode(kSingle, "target");
  EXPECT_EQ(target.copyFrom(source), nullptr);
  EXPECT_TRUE(near(shade(target, *floor), kUp)) << "the copy's own inputs are unplugged";

  target.connect(facts::kWeightInput, 1.0);
  target.connect(facts::kReferenceInput, Vec3{0.0, 1.0, 0.0});
  EXPECT_TRUE(near(shade(target, *floor), {0.0, 1.0, 0.0}))
      << "the copy follows its own reference input with the copied invert 0";
}

TEST_F(SingleNodeCopyTest, CopyFindsItsObjectOnlyAtItsOwnNextNewTime) {
  host.scene().addObject("Cube").setForward(Vec3{1.0, 0.0, 0.0});
  host.scene().addObject("Sphere").setForward(Vec3{0.0, 1.0, 0.0});
  hostsim::Node &source = placeDraggingNode("source");
  hostsim::Node &target = placeDraggingNode("target");
  load(source, {objectBlock("Cube")});
  load(target, {objectBlock("Sphere")});
  host.newTime(0, 0.0);
  ASSERT_TRUE(near(shade(source, *floor), {1.0, 0.0, 0.0}));
  ASSERT_TRUE(near(shade(target, *floor), {0.0, 1.0, 0.0}));

  EXPECT_EQ(target.copyFrom(source), nullptr);
  EXPECT_TRUE(near(shade(target, *floor), {0.0, 1.0, 0.0}))
      << "until its next new time the copy keeps the object it found itself";
  EXPECT_EQ(target.newTime(1, 1.0), nullptr);
  EXPECT_TRUE(near(shade(target, *floor), {1.0, 0.0, 0.0}));
}

TEST_F(SingleNodeCopyTest, CallbacksGivenNoInstanceOrNoStateDoNothing) {
  const Settings settings{"Cube", 0, "Map"};
  load(*node, settings);
  const InstanceFuncs &funcs = node->activation().instance;
  ASSERT_NE(funcs.copy, nullptr);
  EXPECT_EQ(funcs.copy(nullptr, node->instance()), nullptr);
  EXPECT_EQ(funcs.copy(node->instance(), nullptr), nullptr);
  EXPECT_EQ(funcs.copy(nullptr, nullptr), nullptr);
  EXPECT_EQ(node->copyFrom(*node), nullptr) << "onto itself";
  EXPECT_EQ(saved(*node), settings);

  ASSERT_NE(funcs.destroy, nullptr);
  funcs.destroy(nullptr);

  // A host whose create failed may still hand the null instance on.
  hostsim::BlockWriter writer(BlockForm::Binary);
  const SaveState saveState = writer.saveState();
  EXPECT_EQ(funcs.save(nullptr, &saveState), nullptr);
  EXPECT_EQ(funcs.save(node->instance(), nullptr), nullptr);
  EXPECT_TRUE(writer.finish().empty()) << "nothing saved";
  hostsim::BlockReader reader(BlockForm::Binary, node->save(BlockForm::Binary));
  const LoadState loadState = reader.loadState();
  EXPECT_EQ(funcs.load(nullptr, &loadState), nullptr);
  EXPECT_EQ(funcs.load(node->instance(), nullptr), nullptr);
  EXPECT_EQ(node->activation().render.newTime(nullptr, 0, 0.0), nullptr);
  EXPECT_EQ(saved(*node), settings);
}

// ---- reference lookup -----------------------------------------------------

// Spots are shaded on "Floor"; the weight is 1 and invert off, so a found
// reference object turns the normal (0, 0, 1) all the way onto its forward
// direction, and a missing one leaves it as it is.
class ReferenceLookupTest : public DragNodeTest {
 protected:
  void SetUp() override {
    DragNodeTest::SetUp();
    if (HasFatalFailure()) return;
    floor = &host.scene().addObject("Floor");
    floor->setForward(Vec3{0.0, -1.0, 0.0});
    node->connect(facts::kWeightInput, 1.0);
    load(*node, {invertBlock(0)});
  }

  hostsim::SceneObject &addObject(const std::string &name, const Vec3 &forward) {
    hostsim::SceneObject &object = host.scene().addObject(name);
    object.setForward(forward);
    return object;
  }

  void useReference(hostsim::Node &target, const std::string &name) {
    load(target, {objectBlock(name)});
  }

  Vec3 shaded() { return shade(*node, *floor); }

  hostsim::SceneObject *floor = nullptr;
};

TEST_F(ReferenceLookupTest, PassesTheNormalThroughUntilANewTimeFindsTheObject) {
  addObject("Cube", {1.0, 0.0, 0.0});
  useReference(*node, "Cube");
  EXPECT_TRUE(near(shaded(), kUp)) << "no new time yet";
  EXPECT_EQ(node->newTime(0, 0.0), nullptr);
  EXPECT_TRUE(near(shaded(), {1.0, 0.0, 0.0}));
}

TEST_F(ReferenceLookupTest, FirstOfObjectsWithEqualNamesWins) {
  addObject("Cube", {1.0, 0.0, 0.0});
  addObject("Cube", {0.0, 1.0, 0.0});
  useReference(*node, "Cube");
  host.newTime(0, 0.0);
  EXPECT_TRUE(near(shaded(), {1.0, 0.0, 0.0}));
}

TEST_F(ReferenceLookupTest, NamesMatchWholeAndWithTheirLetterCase) {
  addObject("Cube2", {0.0, 1.0, 0.0});
  addObject("Cube", {1.0, 0.0, 0.0});
  struct Case {
    const char *name;
    Vec3 expected;
  };
  const Case cases[] = {
      {"Cube", {1.0, 0.0, 0.0}},
      {"Cube2", {0.0, 1.0, 0.0}},
      {"cube", kUp},
      {"CUBE", kUp},
      {"Cub", kUp},
      {"Cube ", kUp},
      {"Nowhere", kUp},
  };
  for (const Case &c : cases) {
    useReference(*node, c.name);
    host.newTime(0, 0.0);
    EXPECT_TRUE(near(shaded(), c.expected)) << "reference name \"" << c.name << "\"";
  }
}

TEST_F(ReferenceLookupTest, KeepsTheFoundObjectThroughARenameUntilTheNextNewTime) {
  hostsim::SceneObject &cube = addObject("Cube", {1.0, 0.0, 0.0});
  useReference(*node, "Cube");
  host.newTime(0, 0.0);
  host.scene().rename(cube, "Box");
  EXPECT_TRUE(near(shaded(), {1.0, 0.0, 0.0})) << "before the next new time";
  host.newTime(1, 1.0);
  EXPECT_TRUE(near(shaded(), kUp)) << "after the next new time";
}

TEST_F(ReferenceLookupTest, FindsAnObjectAddedLaterOnlyAtTheNextNewTime) {
  useReference(*node, "Cube");
  host.newTime(0, 0.0);
  addObject("Cube", {1.0, 0.0, 0.0});
  EXPECT_TRUE(near(shaded(), kUp)) << "before the next new time";
  host.newTime(1, 1.0);
  EXPECT_TRUE(near(shaded(), {1.0, 0.0, 0.0})) << "after the next new time";
}

TEST_F(ReferenceLookupTest, ANewNameTakesEffectAtTheNextNewTime) {
  addObject("Cube", {1.0, 0.0, 0.0});
  addObject("Sphere", {0.0, 1.0, 0.0});
  useReference(*node, "Cube");
  host.newTime(0, 0.0);
  useReference(*node, "Sphere");
  EXPECT_TRUE(near(shaded(), {1.0, 0.0, 0.0})) << "before the next new time";
  host.newTime(1, 1.0);
  EXPECT_TRUE(near(shaded(), {0.0, 1.0, 0.0})) << "after the next new time";
}

// A removed object still answers for its handle (with no direction), so
// the cached object shows in the host calls, not in the result.
TEST_F(ReferenceLookupTest, KeepsUsingARemovedObjectUntilTheNextNewTime) {
  hostsim::SceneObject &cube = addObject("Cube", {1.0, 0.0, 0.0});
  useReference(*node, "Cube");
  host.newTime(0, 0.0);
  host.scene().remove(cube);
  host.log().clear();
  shaded();
  EXPECT_EQ(host.log().count("item.param 4"), 1u) << "the object found at the last new time";

  host.newTime(1, 1.0);
  host.log().clear();
  EXPECT_TRUE(near(shaded(), kUp));
  EXPECT_EQ(host.log().count("item.param 4"), 0u);
}

// Whatever empties the name, the next new time must drop the object found
// before, rather than keep dragging toward it.
TEST_F(ReferenceLookupTest, ANameEmptiedAnyWayDropsTheObjectAtTheNextNewTime) {
  addObject("Cube", {1.0, 0.0, 0.0});
  InterfaceRecord record{node->instance(), nullptr, nullptr, nullptr};
  ASSERT_EQ(host.activateInterface(kSingle, NODE_INTERFACE_VERSION, &record), ACTIVATE_OK);
  const hostsim::PanelRecord &panel = *host.panels().find(record.panel);
  hostsim::Node &unnamed = host.createNode(kSingle, "unnamed");
  const std::pair<const char *, std::function<void()>> clears[] = {
      {"a load", [&] { useReference(*node, ""); }},
      {"the panel", [&] { panel.setString(facts::kReferenceObjectId, ""); }},
      {"a copy", [&] { ASSERT_EQ(node->copyFrom(unnamed), nullptr); }},
  };
  for (const auto &[how, clear] : clears) {
    useReference(*node, "Cube");
    host.newTime(0, 0.0);
    ASSERT_TRUE(near(shaded(), {1.0, 0.0, 0.0})) << how;
    clear();
    host.newTime(1, 1.0);
    EXPECT_TRUE(near(shaded(), kUp)) << "name emptied by " << how;
  }
}

TEST_F(ReferenceLookupTest, AnEmptyNameLooksNothingUpEvenWhenAnObjectHasNoName) {
  addObject("", {1.0, 0.0, 0.0});
  host.log().clear();
  host.newTime(0, 0.0);
  EXPECT_TRUE(host.log().withPrefix("item.").empty())
      << "first host call: " << host.log().entries().front();
  EXPECT_TRUE(near(shaded(), kUp));
}

TEST_F(ReferenceLookupTest, EachInstanceFindsItsOwnObject) {
  addObject("Cube", {1.0, 0.0, 0.0});
  addObject("Sphere", {0.0, 1.0, 0.0});
  hostsim::Node &other = host.createNode(kSingle, "other");
  other.connect(facts::kWeightInput, 1.0);
  load(other, {invertBlock(0), objectBlock("Sphere")});
  useReference(*node, "Cube");
  host.newTime(0, 0.0);
  EXPECT_TRUE(near(shaded(), {1.0, 0.0, 0.0}));
  EXPECT_TRUE(near(shade(other, *floor), {0.0, 1.0, 0.0}));
}

// Hosts that lack the item-info service under one name or both.
struct ItemInfoCase {
  std::vector<const char *> missing;
  bool found;
};

void PrintTo(const ItemInfoCase &c, std::ostream *os) {
  *os << c.missing.size() << " item-info names missing";
}

class ReferenceLookupItemInfoTest : public ModuleTest,
                                    public ::testing::WithParamInterface<ItemInfoCase> {};

TEST_P(ReferenceLookupItemInfoTest, FindsTheObjectOnlyThroughAnItemInfoService) {
  for (const char *name : GetParam().missing) host.setServiceAvailable(name, false);
  ASSERT_EQ(host.activateHandler(kSingle), ACTIVATE_OK);
  hostsim::Node &node = host.createNode(kSingle, "Kerrowbend (1)");
  hostsim::SceneObject &floor = host.scene().addObject("Floor");
  host.scene().addObject("Cube").setForward(Vec3{1.0, 0.0, 0.0});
  node.connect(facts::kWeightInput, 1.0);
  load(node, {objectBlock("Cube"), invertBlock(0)});

  EXPECT_EQ(node.newTime(0, 0.0), nullptr);
  EXPECT_TRUE(near(shade(node, floor), GetParam().found ? Vec3{1.0, 0.0, 0.0} : kUp))
      << "missing services: " << GetParam().missing.size();
}

INSTANTIATE_TEST_SUITE_P(Hosts, ReferenceLookupItemInfoTest,
                         ::testing::Values(ItemInfoCase{{ITEM_INFO_SERVICE}, true},
                                           ItemInfoCase{{ITEM_INFO_SERVICE, ITEM_INFO_SERVICE_5},
                                                        false}),
                         [](const ::testing::TestParamInfo<ItemInfoCase> &info) {
                           return info.param.found ? std::string("OlderNameOnly")
                                                   : std::string("NoItemInfo");
                         });

class NoRenderTableTest : public ModuleTest {};

TEST_F(NoRenderTableTest, NeverFindsAnObjectWithoutANewTimeCallback) {
  ASSERT_EQ(host.activateHandler(kSingle, NODE_HANDLER_VERSION, {.renderTable = false}),
            ACTIVATE_OK);
  hostsim::Node &node = host.createNode(kSingle, "Kerrowbend (1)");
  hostsim::SceneObject &floor = host.scene().addObject("Floor");
  host.scene().addObject("Cube").setForward(Vec3{1.0, 0.0, 0.0});
  node.connect(facts::kWeightInput, 1.0);
  load(node, {objectBlock("Cube"), invertBlock(0)});
  host.newTime(0, 0.0);
  EXPECT_TRUE(near(shade(node, floor), kUp));
}

}  // namespace
}  // namespace kerrowbend_test
