// Tests of the simulated host itself: the places where a fault of the host
// would show up as a false failure (or a false pass) of the module's tests.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hostsim/block_io.h"
#include "hostsim/host.h"
#include "hostsim/module_facts.h"

#ifdef KERROWBEND_HEAP_COUNTING
#include "tests/heap_counter.h"
#endif

namespace hostsim {
namespace {

constexpr BlockId kObject = blockId("ROBJ");
constexpr BlockId kInvert = blockId("INVT");
constexpr BlockId kMap = blockId("WMAP");
constexpr BlockId kGroup = blockId("GRUP");
constexpr BlockId kUnknown = blockId("UNKN");

const BlockIdent kList[] = {
    {kObject, "Object"}, {kInvert, "Invert"}, {kMap, "WeightMap"}, {kGroup, "Group"}, {0, nullptr}};

std::string temporaryPath(const std::string &name) {
  return ::testing::TempDir() + "hostsim_test_" + std::to_string(::getpid()) + "_" + name;
}

std::string formName(const ::testing::TestParamInfo<BlockForm> &info) {
  return info.param == BlockForm::Binary ? "Binary" : "Text";
}

// ---- block forms ----------------------------------------------------------

class BlockFormTest : public ::testing::TestWithParam<BlockForm> {};

TEST_P(BlockFormTest, RoundTripsNestedBlocksThroughAFile) {
  const std::string awkward = "Cube \"big\"\n\t\\ \x01 caf\xC3\xA9";
  BlockWriter writer(GetParam());
  writer.begin(kObject, "Object");
  writer.writeString(awkward);
  writer.end();
  writer.begin(kInvert, "Invert");
  writer.writeInts(std::vector<int32_t>{-1, 0, 2147483647});
  writer.end();
  writer.begin(kGroup, "Group", false);
  writer.writeInt(7);
  writer.begin(kMap, "WeightMap");
  writer.writeString("");
  writer.end();
  writer.end();
  const std::string path = temporaryPath("roundtrip");
  writeBlockFile(path, writer.finish());
  EXPECT_TRUE(writer.problems().empty());

  BlockReader reader(GetParam(), readBlockFile(path));
  std::filesystem::remove(path);
  char text[64];
  int32_t numbers[4] = {};

  ASSERT_EQ(reader.findBlock(kList), kObject);
  EXPECT_EQ(reader.readString(text, sizeof text), static_cast<int>(awkward.size() + 1));
  EXPECT_EQ(std::string(text), awkward);
  reader.endBlock();

  ASSERT_EQ(reader.findBlock(kList), kInvert);
  EXPECT_EQ(reader.readInts(numbers, 4), 3) << "only three integers were stored";
  EXPECT_EQ(numbers[0], -1);
  EXPECT_EQ(numbers[1], 0);
  EXPECT_EQ(numbers[2], 2147483647);
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(reader.readString(text, sizeof text), 0) << "no string left in the block";
  EXPECT_EQ(text[0], '#');
  reader.endBlock();

  ASSERT_EQ(reader.findBlock(kList), kGroup);
  EXPECT_EQ(reader.readInts(numbers, 1), 1);
  EXPECT_EQ(numbers[0], 7);
  ASSERT_EQ(reader.findBlock(kList), kMap);
  EXPECT_EQ(reader.readString(text, sizeof text), 1);
  EXPECT_STREQ(text, "");
  reader.endBlock();
  EXPECT_EQ(reader.findBlock(kList), 0u) << "the group holds one block";
  reader.endBlock();

  EXPECT_EQ(reader.findBlock(kList), 0u);
  EXPECT_FALSE(reader.damaged());
  EXPECT_TRUE(reader.problems().empty());
}

TEST_P(BlockFormTest, ReadStrCutsAtMaxWithoutTerminatorAndConsumesTheWholeString) {
  struct Case {
    int max;
    int written;
    std::string bytes;  // what the 8-byte buffer holds afterwards
  };
  const Case cases[] = {
      {8, 7, std::string("abcdef\0#", 8)},  // fits with its terminator
      {7, 7, std::string("abcdef\0#", 8)},  // exactly fits
      {6, 6, "abcdef##"},                   // max == length: cut, no terminator
      {3, 3, "abc#####"},
  };
  for (const Case &c : cases) {
    BlockWriter writer(GetParam());
    writer.begin(kObject, "Object");
    writer.writeString("abcdef");
    writer.writeString("xy");
    writer.end();
    BlockReader reader(GetParam(), writer.finish());
    ASSERT_EQ(reader.findBlock(kList), kObject);
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(reader.readString(buffer, c.max), c.written) << "max " << c.max;
    EXPECT_EQ(std::string(buffer, sizeof buffer), c.bytes) << "max " << c.max;
    char next[8];
    EXPECT_EQ(reader.readString(next, sizeof next), 3) << "after max " << c.max;
    EXPECT_STREQ(next, "xy") << "after max " << c.max;
  }
}

TEST_P(BlockFormTest, FindBlkSkipsUnknownBlocksUnlessAskedToReturnThem) {
  BlockWriter writer(GetParam());
  writer.begin(kUnknown, "UNKN");
  writer.writeInt(99);
  writer.end();
  writer.begin(kInvert, "Invert");
  writer.writeInt(0);
  writer.end();
  const std::string data = writer.finish();

  BlockReader skipping(GetParam(), data);
  EXPECT_EQ(skipping.findBlock(kList), kInvert);

  BlockReader returning(GetParam(), data, LoadOptions{.returnUnknownBlocks = true});
  EXPECT_EQ(returning.findBlock(kList), kUnknown);
  returning.endBlock();  // unread content is skipped
  EXPECT_EQ(returning.findBlock(kList), kInvert);
  int32_t value = -1;
  EXPECT_EQ(returning.readInts(&value, 1), 1);
  EXPECT_EQ(value, 0);
}

INSTANTIATE_TEST_SUITE_P(BothForms, BlockFormTest,
                         ::testing::Values(BlockForm::Binary, BlockForm::Text), formName);

TEST(BinaryForm, IsBigEndianIdLengthAndPayload) {
  BlockWriter writer(BlockForm::Binary);
  writer.begin(kInvert, "Invert");
  writer.writeInt(1);
  writer.end();
  writer.begin(kObject, "Object");
  writer.writeString("A");
  writer.end();
  EXPECT_EQ(writer.finish(), std::string("INVT\0\0\0\4\0\0\0\1"
                                         "ROBJ\0\0\0\2A\0",
                                         22));
}

TEST(BinaryForm, EveryTruncationEndsCleanlyAfterTheLastWholeBlock) {
  BlockWriter writer(BlockForm::Binary);
  std::vector<std::size_t> ends;
  for (const char *name : {"Cube", "", "Sphere"}) {
    writer.begin(kObject, "Object");
    writer.writeString(name);
    writer.writeInt(5);
    writer.end();
    ends.push_back(ends.empty() ? 0 : ends.back());
    ends.back() += 8 + std::strlen(name) + 1 + 4;
  }
  const std::string whole = writer.finish();
  ASSERT_EQ(whole.size(), ends.back());

  for (std::size_t size = 0; size <= whole.size(); ++size) {
    // An exact-size heap copy, so a sanitizer sees any read past the end.
    BlockReader reader(BlockForm::Binary, std::string(whole.data(), size));
    int found = 0;
    while (reader.findBlock(kList) == kObject) {
      char name[16];
      int32_t number = 0;
      reader.readString(name, sizeof name);
      reader.readInts(&number, 1);
      reader.endBlock();
      ++found;
    }
    int whole_blocks = 0;
    for (std::size_t end : ends) whole_blocks += end <= size ? 1 : 0;
    EXPECT_EQ(found, whole_blocks) << "data cut to " << size << " bytes";
  }
}

TEST(BinaryForm, ALengthPastItsParentEndsAllReading) {
  // A group of 12 payload bytes whose child claims 100.
  const std::string nested(
      "GRUP\0\0\0\x0C"
      "INVT\0\0\0\x64\0\0\0\1"
      "INVT\0\0\0\4\0\0\0\2",
      32);
  BlockReader reader(BlockForm::Binary, nested);
  ASSERT_EQ(reader.findBlock(kList), kGroup);
  EXPECT_EQ(reader.findBlock(kList), 0u);
  EXPECT_TRUE(reader.damaged());
  int32_t value = 0;
  EXPECT_EQ(reader.readInts(&value, 1), 0);
  reader.endBlock();
  EXPECT_EQ(reader.findBlock(kList), 0u) << "the intact block after the damage is not read";

  BlockReader huge(BlockForm::Binary, std::string("INVT\xFF\xFF\xFF\xF0\0\0\0\1", 12));
  EXPECT_EQ(huge.findBlock(kList), 0u);
  EXPECT_TRUE(huge.damaged());
}

TEST(TextForm, WritesEachBlockUnderItsTokenOnItsOwnLine) {
  BlockWriter writer(BlockForm::Text);
  writer.begin(kObject, "Object");
  writer.writeString("Cube");
  writer.end();
  writer.begin(kInvert, "Invert");
  writer.writeInt(1);
  writer.end();
  writer.begin(kMap, "WeightMap");
  writer.writeString("");
  writer.end();
  writer.begin(kGroup, "", false);  // no token: its four letters stand in
  writer.writeInt(3);
  writer.end();
  EXPECT_EQ(writer.finish(), "Object \"Cube\"\nInvert 1\nWeightMap \"\"\n{ GRUP\n  3\n}\n");

  BlockReader reader(BlockForm::Text, "{ GRUP\n  3\n}\n");
  EXPECT_EQ(reader.findBlock(kList), kGroup) << "the four letters of a listed id map to it";
}

TEST(TextForm, DamagedTextEndsWhereTheDamageStarts) {
  struct Case {
    const char *text;
    int readable;  // whole blocks before the damage
  };
  const Case cases[] = {
      {"Object \"Cube\"\nInvert 1\nWeightMap \"open\nObject \"late\"\n", 2},
      {"Invert 1\n}\nInvert 2\n", 1},
      {"Invert 12x\nInvert 2\n", 0},
      {"Object \"bad \\q escape\"\n", 0},
      {"{ Group\n  Invert 1\n", 1},  // unclosed: everything there is read
  };
  for (const Case &c : cases) {
    BlockReader reader(BlockForm::Text, c.text);
    int found = 0;
    for (BlockId id = reader.findBlock(kList); id != 0; id = reader.findBlock(kList)) {
      if (id != kGroup) {
        ++found;
        reader.endBlock();
      }
    }
    EXPECT_EQ(found, c.readable) << c.text;
    EXPECT_TRUE(reader.damaged()) << c.text;
  }
}

// Module tests assert call sequences in exactly these words.
TEST(BlockStates, LogEveryCallTheModuleMakes) {
  Host host;
  BlockWriter writer(BlockForm::Binary);
  const SaveState save = writer.saveState();
  const BlockIdent object{kObject, "Object"};
  const int32_t one = 1;
  save.beginBlk(save.writeData, &object, 1);
  save.writeStr(save.writeData, "Cube");
  save.writeI4(save.writeData, &one, 1);
  save.endBlk(save.writeData);
  EXPECT_EQ(save.ioMode, 0);

  BlockReader reader(BlockForm::Binary, writer.finish());
  const LoadState load = reader.loadState();
  char text[8];
  int32_t number = 0;
  EXPECT_EQ(load.findBlk(load.readData, kList), kObject);
  EXPECT_EQ(load.readStr(load.readData, text, sizeof text), 5);
  EXPECT_EQ(load.readI4(load.readData, &number, 1), 1);
  load.endBlk(load.readData);
  EXPECT_EQ(host.log().entries(),
            (std::vector<std::string>{"save.beginBlk ROBJ 1", "save.writeStr", "save.writeI4",
                                      "save.endBlk", "load.findBlk", "load.readStr 8",
                                      "load.readI4", "load.endBlk"}));
}

// ---- services -------------------------------------------------------------

TEST(HostServices, EveryNameAnswersAndFallbackNamesGiveTheSameTable) {
  Host host;
  for (const char *name : kServiceNames) EXPECT_NE(host.lookup(name), nullptr) << name;
  const std::vector<std::vector<const char *>> families = {
      {ITEM_INFO_SERVICE, ITEM_INFO_SERVICE_5},
      {NODE_INPUT_FUNCS_SERVICE, NODE_INPUT_FUNCS_SERVICE_2},
      {NODE_OUTPUT_FUNCS_SERVICE, NODE_OUTPUT_FUNCS_SERVICE_1},
      {SCENE_OBJECTS_SERVICE, SCENE_OBJECTS_SERVICE_6},
      {OBJECT_INFO_SERVICE, OBJECT_INFO_SERVICE_8, OBJECT_INFO_SERVICE_7},
      {PANEL_SERVICE, PANEL_SERVICE_1},
  };
  for (const auto &family : families) {
    for (const char *name : family) {
      EXPECT_EQ(host.lookup(name), host.lookup(family.front())) << name;
    }
  }
}

TEST(HostServices, EachNameCanBeSwitchedOffAlone) {
  Host host;
  for (std::size_t off = 0; off < kServiceCount; ++off) {
    host.setServiceAvailable(kServiceNames[off], false);
    for (std::size_t i = 0; i < kServiceCount; ++i) {
      EXPECT_EQ(host.lookup(kServiceNames[i]) == nullptr, i == off)
          << kServiceNames[i] << " with " << kServiceNames[off] << " switched off";
    }
    host.setServiceAvailable(kServiceNames[off], true);
  }
  EXPECT_THROW(host.setServiceAvailable("LW Item Info 4", false), std::invalid_argument);
}

TEST(HostServices, UnknownNamesAnswerNullAndEveryLookupIsLoggedAndCounted) {
  Host host;
  EXPECT_EQ(globalLookup("LW Item Info 4", 0), nullptr);
  globalLookup(NODE_FUNCS_SERVICE, 0);
  host.setServiceAvailable(Service::NodeFuncs, false);
  globalLookup(NODE_FUNCS_SERVICE, 0);
  EXPECT_EQ(
      host.log().entries(),
      (std::vector<std::string>{"lookup LW Item Info 4", "lookup NodeFuncs", "lookup NodeFuncs"}));
  EXPECT_EQ(host.lookupCount(NODE_FUNCS_SERVICE), 2);
  EXPECT_EQ(host.unknownLookupCount(), 1);
  EXPECT_EQ(host.log().counters.lookups.load(), 3);
}

TEST(HostServices, ProductInfoAnswersTheCodeItself) {
  Host host;
  EXPECT_EQ(reinterpret_cast<uintptr_t>(host.lookup(PRODUCT_INFO_SERVICE)), 0xA10000u);
  host.setProductVersion(9, 6);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(host.lookup(PRODUCT_INFO_SERVICE)), 0x960000u);
  host.setProductCode(0x12345678);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(host.lookup(PRODUCT_INFO_SERVICE)), 0x12345678u);
  host.setServiceAvailable(Service::ProductInfo, false);
  EXPECT_EQ(host.lookup(PRODUCT_INFO_SERVICE), nullptr);
}

TEST(HostServices, OnlyOneHostAnswersAtATime) {
  EXPECT_EQ(Host::current(), nullptr);
  EXPECT_EQ(globalLookup(NODE_FUNCS_SERVICE, 0), nullptr) << "no host, no answer";
  {
    Host first;
    EXPECT_EQ(Host::current(), &first);
    EXPECT_THROW(Host second, std::logic_error);
    EXPECT_EQ(Host::current(), &first);
  }
  EXPECT_EQ(Host::current(), nullptr);
  Host again;
  EXPECT_EQ(Host::current(), &again);
}

// Module tests tell which activation's routine a lookup went through by
// its number alone: two routines sharing an address, or one recording
// another's number, would make such a test pass on the wrong routine.
TEST(HostServices, EachLookupRoutineIsItsOwnFunctionAndRecordsItsNumberAndMode) {
  Host host;
  std::vector<LookupCall> expected;
  for (int routine = 0; routine < kLookupRoutines; ++routine) {
    const GlobalFunc global = host.global(routine);
    for (int other = 0; other < routine; ++other) {
      EXPECT_NE(global, host.global(other)) << routine << " and " << other;
    }
    void *answer = global(NODE_FUNCS_SERVICE, routine);
    EXPECT_EQ(answer, host.lookup(NODE_FUNCS_SERVICE)) << "all answer alike";
    expected.push_back({NODE_FUNCS_SERVICE, routine, routine});
    expected.push_back({NODE_FUNCS_SERVICE, 0, 0});
  }
  EXPECT_EQ(host.global(), &globalLookup);
  EXPECT_THROW(host.global(kLookupRoutines), std::out_of_range);
  EXPECT_THROW(host.global(-1), std::out_of_range);
  host.global(2)("No Such Service", -3);
  expected.push_back({"No Such Service", 2, -3});
  EXPECT_EQ(host.lookupCalls(), expected);
  EXPECT_EQ(host.log().count("lookup NodeFuncs"), 2u * kLookupRoutines);

  host.log().setRecording(false);
  host.global(1)(TIME_INFO_SERVICE, 7);
  host.global(1)(TIME_INFO_SERVICE, 0);
  host.log().setRecording(true);
  EXPECT_EQ(host.lookupCalls().size(), expected.size()) << "nothing recorded while off";
  EXPECT_EQ(host.log().counters.lookupsWithNonZeroMode.load(), 5) << "modes 1, 2, 3, -3 and 7";
  host.log().clear();
  EXPECT_TRUE(host.lookupCalls().empty()) << "cleared with the log";
}

TEST(CallLog, RecordingOffKeepsNoEntriesButTheCountersStillCount) {
  Host host;
  host.log().setRecording(false);
  auto *items = static_cast<ItemInfo *>(host.lookup(ITEM_INFO_SERVICE));
  items->first(ITEM_TYPE_OBJECT, nullptr);
  host.log().setRecording(true);
  items->first(ITEM_TYPE_OBJECT, nullptr);
  EXPECT_EQ(host.log().entries(), std::vector<std::string>{"item.first 0"});
  EXPECT_EQ(host.log().counters.itemFirst.load(), 2);
  EXPECT_EQ(host.log().counters.lookups.load(), 1);
}

// ---- scene ----------------------------------------------------------------

class SceneTest : public ::testing::Test {
 protected:
  std::vector<std::string> walk() {
    std::vector<std::string> names;
    for (ItemId item = items->first(ITEM_TYPE_OBJECT, nullptr); item != nullptr;
         item = items->next(item)) {
      names.emplace_back(items->name(item));
    }
    return names;
  }

  Host host;
  Scene &scene = host.scene();
  ItemInfo *items = static_cast<ItemInfo *>(host.lookup(ITEM_INFO_SERVICE));
  SceneObjects *sceneObjects = static_cast<SceneObjects *>(host.lookup(SCENE_OBJECTS_SERVICE));
  ObjectInfo *objects = static_cast<ObjectInfo *>(host.lookup(OBJECT_INFO_SERVICE));
};

TEST_F(SceneTest, ItemWalkFollowsHostOrderThroughRenamesAndRemovals) {
  SceneObject &a = scene.addObject("A");
  SceneObject &b = scene.addObject("B");
  SceneObject &c = scene.addObject("C");
  EXPECT_EQ(walk(), (std::vector<std::string>{"A", "B", "C"}));

  const char *oldName = items->name(c.id());
  scene.rename(c, "D");
  scene.remove(b);
  EXPECT_EQ(walk(), (std::vector<std::string>{"A", "D"}));
  EXPECT_STREQ(oldName, "C") << "a name handed out earlier stays readable";

  EXPECT_EQ(items->next(b.id()), nullptr);
  EXPECT_STREQ(items->name(b.id()), "");
  EXPECT_EQ(items->first(1, nullptr), nullptr) << "objects are the only item type";
  EXPECT_EQ(items->first(ITEM_TYPE_OBJECT, a.id()), nullptr) << "objects have no children";
  EXPECT_EQ(scene.find(reinterpret_cast<ItemId>(&host)), nullptr);
}

TEST_F(SceneTest, ForwardDirectionIsParameterFourAtTheGivenTime) {
  SceneObject &fixed = scene.addObject("Fixed");
  SceneObject &turning = scene.addObject("Turning");
  fixed.setForward(Vec3{1.0, 0.0, 0.0});
  turning.setForward([](double time) { return Vec3{0.0, time, 1.0}; });
  double out[3] = {9, 9, 9};
  items->param(fixed.id(), ITEM_PARAM_FORWARD, 0.0, out);
  EXPECT_EQ((Vec3{out[0], out[1], out[2]}), (Vec3{1.0, 0.0, 0.0}));
  items->param(turning.id(), ITEM_PARAM_FORWARD, 2.5, out);
  EXPECT_EQ((Vec3{out[0], out[1], out[2]}), (Vec3{0.0, 2.5, 1.0}));
  items->param(fixed.id(), 3, 0.0, out);
  EXPECT_EQ((Vec3{out[0], out[1], out[2]}), (Vec3{0.0, 0.0, 0.0}));
  scene.remove(fixed);
  out[0] = 9;
  items->param(fixed.id(), ITEM_PARAM_FORWARD, 0.0, out);
  EXPECT_EQ(out[0], 0.0) << "a removed item has no direction";
}

TEST_F(SceneTest, WeightMapNamesAreDistinctInOrderOfFirstAppearance) {
  SceneObject &a = scene.addObject("A");
  SceneObject &b = scene.addObject("B");
  a.weightMap("w1");
  a.weightMap("w2");
  b.weightMap("w2");
  b.weightMap("w3");
  ASSERT_EQ(sceneObjects->numVMaps(VMAP_TYPE_WEIGHT), 3);
  EXPECT_STREQ(sceneObjects->vmapName(VMAP_TYPE_WEIGHT, 0), "w1");
  EXPECT_STREQ(sceneObjects->vmapName(VMAP_TYPE_WEIGHT, 2), "w3");
  EXPECT_EQ(sceneObjects->vmapName(VMAP_TYPE_WEIGHT, 3), nullptr);
  EXPECT_EQ(sceneObjects->vmapName(VMAP_TYPE_WEIGHT, -1), nullptr);
  EXPECT_EQ(sceneObjects->numVMaps(blockId("TXUV")), 0);

  scene.setWeightMapNames({"only"});
  EXPECT_EQ(sceneObjects->numVMaps(VMAP_TYPE_WEIGHT), 1);
  EXPECT_STREQ(sceneObjects->vmapName(VMAP_TYPE_WEIGHT, 0), "only");
  scene.useDerivedWeightMapNames();
  scene.remove(a);
  EXPECT_EQ(scene.weightMapNames(), (std::vector<std::string>{"w2", "w3"}));
}

TEST_F(SceneTest, MeshGivesAPointValueOnlyWhereOneWasSet) {
  SceneObject &a = scene.addObject("A");
  SceneObject &b = scene.addObject("B");
  const PointId set = a.addPoint();
  const PointId unset = a.addPoint();
  const PointId foreign = b.addPoint();
  a.setWeight("w", set, 0.25f);
  b.setWeight("w", foreign, 0.5f);

  MeshInfo *mesh = objects->meshInfo(a.id(), MESH_INFO_FROZEN);
  ASSERT_NE(mesh, nullptr);
  const VMapId map = mesh->vmapLookupV1(mesh, VMAP_TYPE_WEIGHT, "w");
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(mesh->vmapLookupV2(mesh, VMAP_TYPE_WEIGHT, "w"), map);
  EXPECT_EQ(mesh->vmapLookupV2(mesh, VMAP_TYPE_WEIGHT, "W"), nullptr);
  EXPECT_EQ(mesh->vmapLookupV2(mesh, blockId("TXUV"), "w"), nullptr);

  float value = -1.0f;
  EXPECT_NE(mesh->pointVMapValue(mesh, set, &value, map), 0);
  EXPECT_EQ(value, 0.25f);
  value = -1.0f;
  EXPECT_EQ(mesh->pointVMapValue(mesh, unset, &value, map), 0);
  EXPECT_EQ(mesh->pointVMapValue(mesh, foreign, &value, map), 0);
  EXPECT_EQ(mesh->pointVMapValue(mesh, nullptr, &value, map), 0);
  EXPECT_EQ(value, -1.0f) << "no value is written for a point without one";
  mesh->destroy(mesh);

  const Counters &counters = host.log().counters;
  EXPECT_EQ(counters.vmapLookupV1.load(), 1);
  EXPECT_EQ(counters.vmapLookupV2.load(), 3);
  EXPECT_EQ(counters.meshInfoObtained.load(), 1);
  EXPECT_EQ(counters.meshReleased.load(), 1);
  EXPECT_EQ(host.log().withPrefix("mesh.lookup"),
            (std::vector<std::string>{"mesh.lookupV1 w", "mesh.lookupV2 w", "mesh.lookupV2 W",
                                      "mesh.lookupV2 w"}));
}

TEST_F(SceneTest, MeshInfoIsRefusedForUnknownItemsOrOnRequestAndMayLackItsRelease) {
  SceneObject &a = scene.addObject("A");
  EXPECT_EQ(objects->meshInfo(nullptr, MESH_INFO_FROZEN), nullptr);
  EXPECT_EQ(objects->meshInfo(reinterpret_cast<ItemId>(&host), MESH_INFO_FROZEN), nullptr);
  scene.setMeshInfoRefused(true);
  EXPECT_EQ(objects->meshInfo(a.id(), MESH_INFO_FROZEN), nullptr);
  scene.setMeshInfoRefused(false);
  scene.setMeshReleaseAvailable(false);
  MeshInfo *mesh = objects->meshInfo(a.id(), MESH_INFO_FROZEN);
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ(mesh->destroy, nullptr);
  EXPECT_NE(mesh->vmapLookupV1, nullptr);
  EXPECT_EQ(host.log().counters.meshInfoObtained.load(), 1) << "refusals are not counted";
}

// Render threads call these services all at once; a data race here would
// be blamed on the module under a thread sanitizer.
TEST_F(SceneTest, ServicesAnswerManyThreadsAtOnce) {
  SceneObject &a = scene.addObject("A");
  scene.addObject("B");
  const PointId point = a.addPoint();
  a.setWeight("w", point, 0.5f);
  auto work = [&] {
    for (int i = 0; i < 200; ++i) {
      auto *info = static_cast<ItemInfo *>(globalLookup(ITEM_INFO_SERVICE, 0));
      for (ItemId item = info->first(ITEM_TYPE_OBJECT, nullptr); item; item = info->next(item)) {
      }
      MeshInfo *mesh = objects->meshInfo(a.id(), MESH_INFO_FROZEN);
      float value = 0.0f;
      mesh->pointVMapValue(mesh, point, &value, mesh->vmapLookupV2(mesh, VMAP_TYPE_WEIGHT, "w"));
      mesh->destroy(mesh);
    }
  };
  for (bool recording : {true, false}) {
    host.log().setRecording(recording);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work);
    for (auto &thread : threads) thread.join();
  }
  EXPECT_EQ(host.log().counters.itemNext.load(), 2 * 4 * 200 * 2);
  EXPECT_EQ(host.log().counters.meshReleased.load(), 2 * 4 * 200);
  EXPECT_EQ(host.log().count("item.first 0"), 4u * 200u) << "only the recorded half";
}

#ifdef KERROWBEND_HEAP_COUNTING
TEST_F(SceneTest, ServicesDoNotAllocateWhileTheLogIsOff) {
  SceneObject &a = scene.addObject("A");
  const PointId point = a.addPoint();
  a.setWeight("w", point, 0.5f);
  host.log().setRecording(false);
  heapcount::Scope scope;
  auto *info = static_cast<ItemInfo *>(globalLookup(ITEM_INFO_SERVICE, 0));
  globalLookup(TIME_INFO_SERVICE, 0);
  host.global(kLookupRoutines - 1)(TIME_INFO_SERVICE, 1);
  globalLookup("No Such Service", 0);
  double forward[3];
  for (ItemId item = info->first(ITEM_TYPE_OBJECT, nullptr); item; item = info->next(item)) {
    info->name(item);
    info->param(item, ITEM_PARAM_FORWARD, 0.0, forward);
  }
  MeshInfo *mesh = objects->meshInfo(a.id(), MESH_INFO_FROZEN);
  float value = 0.0f;
  mesh->pointVMapValue(mesh, point, &value, mesh->vmapLookupV1(mesh, VMAP_TYPE_WEIGHT, "w"));
  mesh->destroy(mesh);
  EXPECT_EQ(scope.allocations(), 0u);
}
#endif

// ---- panel service --------------------------------------------------------

struct PanelSettings {
  char name[16] = "start";
  int32_t flag = 1;
};

void *getSetting(void *instance, uint32_t vid) {
  auto *settings = static_cast<PanelSettings *>(instance);
  if (settings == nullptr) return nullptr;
  if (vid == 0x8001) return settings->name;
  if (vid == 0x8002) return &settings->flag;
  return nullptr;
}

int setSetting(void *instance, uint32_t vid, void *value) {
  auto *settings = static_cast<PanelSettings *>(instance);
  if (vid == 0x8001) {
    std::strncpy(settings->name, static_cast<const char *>(value), sizeof settings->name - 1);
    return 1;
  }
  if (vid == 0x8002) {
    std::memcpy(&settings->flag, value, sizeof settings->flag);
    return 1;
  }
  return 0;
}

int choiceCount(void *) { return 2; }
const char *choiceName(void *, int index) { return index == 0 ? "first" : "second"; }

int changes = 0;
void onChange(PanelId, uint32_t, uint32_t, int event) { changes += event; }

TEST(PanelService, KeepsWhatTheModuleHandsOverAndDrivesItsCallbacks) {
  Host host;
  auto *panels = static_cast<PanelFuncs *>(host.lookup(PANEL_SERVICE));
  static const PanelControl controls[] = {{0x8001, "Name", "sPresetText"}, {0, nullptr, nullptr}};
  static const PanelDataDesc data[] = {{0x8001, "Name", "string"}, {0, nullptr, nullptr}};
  PanelSettings settings;
  const char *label = "Node (1)";

  const PanelId id = panels->create(PANEL_TYPE_VIEW, controls);
  ASSERT_NE(id, nullptr);
  panels->describe(id, data, &getSetting, &setSetting);
  {
    void *hints[] = {reinterpret_cast<void *>(uintptr_t{PANEL_HINT_LABEL}),
                     nullptr,
                     const_cast<char *>(label),
                     nullptr,
                     reinterpret_cast<void *>(uintptr_t{PANEL_HINT_POPUP_FUNCS}),
                     reinterpret_cast<void *>(uintptr_t{0x8001}),
                     reinterpret_cast<void *>(&choiceCount),
                     reinterpret_cast<void *>(&choiceName),
                     reinterpret_cast<void *>(uintptr_t{PANEL_HINT_CHANGE_NOTIFY}),
                     reinterpret_cast<void *>(&onChange),
                     nullptr};
    panels->hint(id, 0, hints);
    std::fill(std::begin(hints), std::end(hints), nullptr);  // lives only for the call
  }
  panels->viewInst(id, &settings);
  panels->setData(id, 0, &settings);

  const PanelRecord &panel = *host.panels().find(id);
  EXPECT_EQ(panel.type, PANEL_TYPE_VIEW);
  EXPECT_EQ(panel.control(0x8001)->label, std::string("Name"));
  ASSERT_EQ(panel.rawHints.size(), 1u);
  EXPECT_EQ(panel.rawHints[0].size(), 11u);
  ASSERT_EQ(panel.labels.size(), 1u);
  EXPECT_EQ(panel.labels[0].text, label) << "the label pointer is kept as handed over";
  EXPECT_EQ(panels->getData(id, 0), &settings);

  EXPECT_EQ(panel.stringValue(0x8001), "start");
  EXPECT_EQ(panel.setString(0x8001, "edited"), 1);
  EXPECT_STREQ(settings.name, "edited");
  EXPECT_EQ(panel.setInt(0x8002, 5), 1);
  EXPECT_EQ(panel.intValue(0x8002), 5);
  EXPECT_EQ(panel.intValue(0x8003), std::nullopt);
  EXPECT_EQ(panel.popupChoices(0x8001), (std::vector<std::string>{"first", "second"}));
  EXPECT_THROW(panel.popupCount(0x8002), std::invalid_argument);
  EXPECT_TRUE(panel.notifyChange(0x8001, 0x8001));
  EXPECT_EQ(changes, PANEL_EVENT_VALUE_CHANGED);

  panels->destroy(id);
  EXPECT_TRUE(panel.destroyed);
  panels->viewRefresh(id);
  EXPECT_EQ(panel.refreshCount, 0);
  EXPECT_EQ(host.panels().strayCalls(), 1);

  host.panels().setCreateRefused(true);
  EXPECT_EQ(panels->create(PANEL_TYPE_VIEW, controls), nullptr);
  EXPECT_EQ(host.log().withPrefix("panel.").front(), "panel.create 1");
}

// A host edit stores the value first and tells the module afterwards, so
// the notification sees the new value; a value set does not handle is still
// announced.
TEST(PanelService, AnEditSetsTheValueThenNotifiesTheControl) {
  Host host;
  auto *panels = static_cast<PanelFuncs *>(host.lookup(PANEL_SERVICE));
  static const PanelControl controls[] = {{0x8002, "Flag", "iBoolean"}, {0, nullptr, nullptr}};
  static PanelSettings settings;
  static std::vector<std::vector<int64_t>> seen;  // cid, vid, event, flag at the time
  seen.clear();
  const PanelId id = panels->create(PANEL_TYPE_VIEW, controls);
  panels->describe(id, nullptr, &getSetting, &setSetting);
  PanelChangeFunc notify = [](PanelId, uint32_t cid, uint32_t vid, int event) {
    seen.push_back({cid, vid, event, settings.flag});
  };
  void *hints[] = {reinterpret_cast<void *>(uintptr_t{PANEL_HINT_CHANGE_NOTIFY}),
                   reinterpret_cast<void *>(notify), nullptr};
  panels->hint(id, 0, hints);
  panels->viewInst(id, &settings);
  const PanelRecord &panel = *host.panels().find(id);

  EXPECT_EQ(panel.editInt(0x8002, 9), 1);
  EXPECT_EQ(panel.editInt(0x8005, 4), 0);
  EXPECT_EQ(seen,
            (std::vector<std::vector<int64_t>>{{0x8002, 0x8002, kPanelEventValueChanged, 9},
                                               {0x8005, 0x8005, kPanelEventValueChanged, 9}}));
}

// ---- loading --------------------------------------------------------------

TEST(Loader, SaysWhyAModuleCannotBeLoaded) {
  Host host;
  try {
    host.loadModule("/no/such/module.p");
    FAIL() << "a missing file loaded";
  } catch (const LoadError &error) {
    EXPECT_NE(std::string(error.what()).find("/no/such/module.p"), std::string::npos)
        << error.what();
  }
  const std::string notALibrary = temporaryPath("not_a_library.p");
  writeBlockFile(notALibrary, "plain text");
  EXPECT_THROW(host.loadModule(notALibrary), LoadError);
  std::filesystem::remove(notALibrary);
  EXPECT_FALSE(host.moduleLoaded());
}

#ifdef KERROWBEND_MODULE_PATH
// Module-wide state (the services fetched once) must not leak from one
// host's tests into the next.
TEST(Loader, EveryHostStartsFromAFreshCopyOfTheModule) {
  std::string copy;
  {
    Host first(KERROWBEND_MODULE_PATH);
    copy = first.module().loadedCopy();
    EXPECT_NE(copy, first.module().path());
    EXPECT_FALSE(std::filesystem::exists(copy)) << "the copy goes once it is mapped";
    first.setServiceAvailable(Service::NodeFuncs, false);
    EXPECT_EQ(first.activateHandler(facts::kSingle), ACTIVATE_MISSING_SERVICE);
    first.setServiceAvailable(Service::NodeFuncs, true);
    EXPECT_EQ(first.activateHandler(facts::kSingle), ACTIVATE_MISSING_SERVICE)
        << "services are fetched once per load";
  }
  Host second(KERROWBEND_MODULE_PATH);
  EXPECT_NE(second.module().loadedCopy(), copy);
  EXPECT_EQ(second.activateHandler(facts::kSingle), ACTIVATE_OK);
}

class NodeFileTest : public ::testing::TestWithParam<BlockForm> {};

// Save, load into a fresh node through a file, save again: the same bytes.
TEST_P(NodeFileTest, SettingsSurviveAFileAndSaveToTheSameBytes) {
  Host host(KERROWBEND_MODULE_PATH);
  ASSERT_EQ(host.activateHandler(facts::kSingle), ACTIVATE_OK);
  Node &source = host.createNode(facts::kSingle, "Kerrowbend (1)");
  BlockWriter settings(GetParam());
  settings.begin(facts::kObjectBlock.id, facts::kObjectBlock.token);
  settings.writeString("Cube \"A\"");
  settings.end();
  settings.begin(facts::kInvertBlock.id, facts::kInvertBlock.token);
  settings.writeInt(0);
  settings.end();
  ASSERT_EQ(source.load(GetParam(), settings.finish()), nullptr);

  const std::string path = temporaryPath("node_settings");
  SaveReport report;
  source.saveToFile(GetParam(), path, &report);
  EXPECT_TRUE(report.problems.empty());
  Node &copy = host.createNode(facts::kSingle, "Kerrowbend (2)");
  LoadReport loaded;
  EXPECT_EQ(copy.loadFromFile(GetParam(), path, {}, &loaded), nullptr);
  EXPECT_FALSE(loaded.damaged);
  EXPECT_EQ(copy.save(GetParam()), readBlockFile(path));
  EXPECT_NE(copy.save(GetParam()), host.createNode(facts::kSingle, "fresh").save(GetParam()));
  std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(BothForms, NodeFileTest,
                         ::testing::Values(BlockForm::Binary, BlockForm::Text), formName);

// The host's side of an input: what the module sees through check and
// evaluate, and the events it is sent.
TEST(Nodes, InputsAnswerForTheirSourceAndReportConnections) {
  Host host(KERROWBEND_MODULE_PATH);
  ASSERT_EQ(host.activateHandler(facts::kSingle), ACTIVATE_OK);
  Node &node = host.createNode(facts::kSingle, "Kerrowbend (1)");
  const std::vector<std::string> names = node.inputNames();
  ASSERT_EQ(names, (std::vector<std::string>{facts::kReferenceInput, facts::kWeightInput}));
  auto *inputs = static_cast<NodeInputFuncs *>(host.lookup(NODE_INPUT_FUNCS_SERVICE));
  Input &vector = *node.input(facts::kReferenceInput);
  Input &scalar = *node.input(facts::kWeightInput);
  NodalAccess spot = makeSpot({0.0, 0.0, 1.0});

  double out[3] = {7.0, 7.0, 7.0};
  EXPECT_EQ(inputs->check(scalar.id()), 0);
  EXPECT_EQ(inputs->evaluate(scalar.id(), &spot, out), 0);
  EXPECT_EQ(out[0], 7.0) << "an unplugged input leaves the value alone";

  // A source writing three values must not overrun a scalar's one double.
  node.connect(facts::kWeightInput, [](const NodalAccess &at, double *value) {
    value[0] = at.wNorm[2] * 0.5;
    value[1] = value[2] = -1.0;
  });
  EXPECT_EQ(scalar.lastEventResult(), 1) << "the module's event callback ran";
  EXPECT_NE(inputs->check(scalar.id()), 0);
  EXPECT_EQ(inputs->evaluate(scalar.id(), &spot, out), 1);
  EXPECT_EQ((Vec3{out[0], out[1], out[2]}), (Vec3{0.5, 7.0, 7.0}));

  node.connect(facts::kReferenceInput, 2.0);
  EXPECT_EQ(inputs->evaluate(vector.id(), &spot, out), 1);
  EXPECT_EQ((Vec3{out[0], out[1], out[2]}), (Vec3{2.0, 2.0, 2.0}));
  node.disconnect(facts::kReferenceInput);
  EXPECT_EQ(inputs->check(vector.id()), 0);
  EXPECT_THROW(node.connect("Reference", 1.0), std::invalid_argument);
}

// A refused input must look to the module exactly like a host that gave no
// id: logged, null, and absent from the node.
TEST(Nodes, ARefusedInputIsLoggedButNeverMade) {
  Host host(KERROWBEND_MODULE_PATH);
  host.refuseInputIds([](std::string_view name) { return name == facts::kWeightInput; });
  ASSERT_EQ(host.activateHandler(facts::kSingle), ACTIVATE_OK);
  Node &node = host.createNode(facts::kSingle, "Kerrowbend (1)");
  EXPECT_EQ(host.log().withPrefix("input.create"),
            (std::vector<std::string>{"input.create Reference Normal 3", "input.create Weight 2"}));
  EXPECT_EQ(node.inputNames(), std::vector<std::string>{facts::kReferenceInput});
  EXPECT_EQ(node.inputs().size(), 1u);
  host.refuseInputIds({});
  EXPECT_EQ(host.createNode(facts::kSingle, "Kerrowbend (2)").inputs().size(), 2u);
}

// Inputs are found through indexes by id and by live name; what an index
// keeps after a destroy, or after the host forgets a node, must match what
// a search of every record would find.
TEST(Nodes, IndexesAndActivationsFollowDestroysAndForgottenNodes) {
  Host host(KERROWBEND_MODULE_PATH);
  ASSERT_EQ(host.activateHandler("Kerrowbend"), ACTIVATE_OK);
  auto *inputs = static_cast<NodeInputFuncs *>(host.lookup(NODE_INPUT_FUNCS_SERVICE));
  Node &gone = host.createNode("Kerrowbend", "Kerrowbend (1)");
  Node &kept = host.createNode("Kerrowbend", "Kerrowbend (2)");
  const InputId first = gone.input("Weight")->id();
  const InputId second = inputs->create(gone.id(), CONNECTION_SCALAR, "Weight", nullptr);
  EXPECT_EQ(gone.input("Weight")->id(), first) << "the first made of equal names";
  inputs->destroy(gone.id(), first);
  EXPECT_EQ(gone.input("Weight")->id(), second);
  inputs->destroy(gone.id(), second);
  EXPECT_EQ(gone.input("Weight"), nullptr);

  host.log().clear();
  inputs->destroy(gone.id(), kept.input("Weight")->id());
  EXPECT_EQ(host.log().withPrefix("input.destroy"),
            std::vector<std::string>{"input.destroy (unknown)"});
  EXPECT_NE(kept.input("Weight"), nullptr) << "another node's input is left alone";

  PanelId panels[2] = {};
  for (Node *node : {&gone, &kept}) {
    InterfaceRecord record{node->instance(), nullptr, nullptr, nullptr};
    ASSERT_EQ(host.activateInterface("Kerrowbend", NODE_INTERFACE_VERSION, &record), ACTIVATE_OK);
    panels[node == &kept ? 1 : 0] = record.panel;
  }
  const NodeId goneId = gone.id();
  gone.destroy();
  host.forgetDestroyed();
  EXPECT_EQ(host.findNode(goneId), nullptr);
  EXPECT_EQ(host.findNode(kept.id()), &kept);
  EXPECT_EQ(host.nodes().size(), 1u);
  EXPECT_EQ(host.panels().find(panels[0]), nullptr);
  EXPECT_NE(host.panels().find(panels[1]), nullptr);
  EXPECT_EQ(inputs->create(goneId, CONNECTION_SCALAR, "Weight", nullptr), nullptr);

  // Of the handler's activations, the one a remaining node was placed
  // through stays, and of the later ones only the latest.
  const HandlerActivation *placedThrough = &kept.activation();
  ASSERT_EQ(host.activateHandler("Kerrowbend"), ACTIVATE_OK);
  ASSERT_EQ(host.activateHandler("Kerrowbend"), ACTIVATE_OK);
  const HandlerActivation *latest = host.handler("Kerrowbend");
  host.forgetDestroyed();
  ASSERT_EQ(host.activations().size(), 2u);
  EXPECT_EQ(host.activations()[0].get(), placedThrough);
  EXPECT_EQ(host.activations()[1].get(), latest);
}

// Many render threads evaluate one instance at once; each must get its own
// value back.
TEST(Nodes, ConcurrentEvaluationsEachGetTheirOwnValue) {
  Host host(KERROWBEND_MODULE_PATH);
  ASSERT_EQ(host.activateHandler(facts::kSingle), ACTIVATE_OK);
  Node &node = host.createNode(facts::kSingle, "Kerrowbend (1)");
  ASSERT_NE(node.instance(), nullptr);
  node.connect(facts::kWeightInput, 0.0);  // no drag: the output is the spot's own normal
  node.connect(facts::kReferenceInput, Vec3{1.0, 0.0, 0.0});
  SceneObject &object = host.scene().addObject("A");
  std::vector<int> wrong(4, 0);
  auto work = [&](int t) {
    for (int i = 0; i < 300; ++i) {
      const double z = 1.0 + t * 1000 + i;
      const Evaluation result = node.evaluate(makeSpot({0.0, 0.0, z}, object.id()));
      if (!result.setOnce() || result.value[2] != z) ++wrong[static_cast<std::size_t>(t)];
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(work, t);
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
  EXPECT_EQ(host.log().counters.setValue.load(), 4 * 300);
}
#endif

}  // namespace
}  // namespace hostsim
