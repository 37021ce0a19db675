// Shades one spot with both nodes from anything the host could hand them:
// normals, weights, references, forward axes, weight-map values and
// barycentric weights of any value (NaN, infinities and extremes
// included), the spot on any scene object, on no object or on one removed
// from the scene, the weight from the input or from a weight map, the
// reference from the input or from a named object, several stages of the
// multi node, either host version and a host with or without an item
// table. The input is read in order:
//
//   host:    1 byte (bit 0: version 10.0, else 10.1; bits 1-2 both set: no
//            item table)
//   single:  1 byte (bit 0: weight connected, bit 1: reference connected),
//            weight, reference x y z, invert (1 byte, signed), reference
//            object name (1 byte, a choice), weight map name (1 byte, a
//            choice), forward axis of "Ref" x y z, then for each of Cube's
//            four points 1 byte (bit 0: has a value) and the value
//   time:    the scene time
//   spot:    normal x y z, object (1 byte, a choice), four points (1 byte
//            each, a choice), four barycentric weights
//   multi:   stage count (1 byte, 0 to 6), then per stage 1 byte (bit 0:
//            weight connected, bit 1: reference connected), weight,
//            reference x y z
//
// each number made by anyDouble or anyFloat. For each node:
// - the output is set exactly once, and shading the spot again gives the
//   same result;
// - the normal passes through unchanged where the node cannot act: no item
//   table, a spot not on a scene object, a weight map the object lacks, a
//   reference object no object is named, no usable stage; and where the
//   weight is 0;
// - the result is finite whenever everything that can reach it is finite
//   and moderate: components within 1e100, weights within 1e6 (weight-map
//   values within 1e3 with barycentric weights within 250).
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/harness.h"

namespace {

using fuzzing::Bytes;
using fuzzing::FixedScene;
using fuzzing::Harness;
using fuzzing::moderate;
using fuzzing::Slot;
using hostsim::Vec3;

constexpr double kComponentLimit = 1e100;
constexpr double kWeightLimit = 1e6;
constexpr float kMapValueLimit = 1e3F;
constexpr float kBarycentricLimit = 250.0F;
constexpr int kMaxShadingStages = 6;

// Reference object names: found, found, differing only in case, removed,
// none.
constexpr const char *kReferenceNames[] = {"Ref", "Cube", "ref", "Gone", ""};
// Weight map names: on Cube, on Other, on no object, none.
constexpr const char *kWeightMapNames[] = {"Wmap", "Other map", "Missing", ""};

// The single node's scene data for each choice of names and invert value,
// and the multi node's for each stage count, each written on first use:
// writing it afresh for every input cost more than the shading it sets up.
const std::string &singleSettings(std::size_t reference, std::size_t weightMap, uint8_t invert) {
  static std::array<std::string, std::size(kReferenceNames) * std::size(kWeightMapNames) * 256>
      written;
  std::string &data = written[(reference * std::size(kWeightMapNames) + weightMap) * 256 + invert];
  if (data.empty()) {
    data = fuzzing::singleData(hostsim::BlockForm::Binary, kReferenceNames[reference],
                               static_cast<int8_t>(invert), kWeightMapNames[weightMap]);
  }
  return data;
}

const std::string &stageCountData(int count) {
  static std::array<std::string, kMaxShadingStages + 1> written;
  std::string &data = written[static_cast<std::size_t>(count)];
  if (data.empty()) data = fuzzing::countData(hostsim::BlockForm::Binary, count);
  return data;
}

Vec3 anyVector(Bytes &in) {
  Vec3 v{};
  for (double &component : v) component = fuzzing::anyDouble(in);
  return v;
}

bool moderateVector(const Vec3 &v) {
  for (double component : v) {
    if (!moderate(component, kComponentLimit)) return false;
  }
  return true;
}

bool finiteVector(const Vec3 &v) {
  for (double component : v) {
    if (!std::isfinite(component)) return false;
  }
  return true;
}

struct Stage {
  bool weightConnected = false;
  bool referenceConnected = false;
  double weight = 0.0;
  Vec3 reference{};
};

// Shades the spot twice and checks what holds whatever the inputs.
Vec3 shade(const hostsim::Node &node, const NodalAccess &spot) {
  const hostsim::Evaluation first = node.evaluate(spot);
  const hostsim::Evaluation second = node.evaluate(spot);
  FUZZ_REQUIRE(first.setOnce() && second.setOnce(), "%s: output set %d times",
               node.server().c_str(), first.setOnce() ? second.setValueCalls : first.setValueCalls);
  FUZZ_REQUIRE(fuzzing::sameVector(first.value, second.value),
               "%s: the same spot shaded twice gave two results", node.server().c_str());
  return first.value;
}

void checkResult(const hostsim::Node &node, const Vec3 &result, const Vec3 &normal,
                 bool passThrough, bool moderateInputs) {
  if (passThrough) {
    FUZZ_REQUIRE(fuzzing::sameVector(result, normal),
                 "%s: the normal (%g, %g, %g) should pass through, got (%g, %g, %g)",
                 node.server().c_str(), normal[0], normal[1], normal[2], result[0], result[1],
                 result[2]);
  }
  if (moderateInputs) {
    FUZZ_REQUIRE(
        finiteVector(result), "%s: moderate inputs, normal (%g, %g, %g), gave (%g, %g, %g)",
        node.server().c_str(), normal[0], normal[1], normal[2], result[0], result[1], result[2]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  Harness &harness = Harness::get();
  const FixedScene &scene = harness.scene();
  Bytes in(data, size);

  const uint8_t hostFlags = in.byte();
  const bool itemTable = (hostFlags & 6) != 6;
  harness.configure((hostFlags & 1) != 0 ? 100 : 101, itemTable);

  // ---- the single node's settings and inputs ----
  hostsim::Node &single = harness.node(Slot::Single);
  const uint8_t singleFlags = in.byte();
  const bool weightConnected = (singleFlags & 1) != 0;
  const bool referenceConnected = (singleFlags & 2) != 0;
  const double weight = fuzzing::anyDouble(in);
  const Vec3 reference = anyVector(in);
  const uint8_t invert = in.byte();
  const std::size_t referencePick = in.byte() % std::size(kReferenceNames);
  const std::size_t weightMapPick = in.byte() % std::size(kWeightMapNames);
  const std::string_view referenceName = kReferenceNames[referencePick];
  const std::string_view weightMapName = kWeightMapNames[weightMapPick];
  const Vec3 forward = anyVector(in);
  scene.ref->setForward(forward);
  bool moderateMap = true;
  hostsim::WeightMap &map = scene.cube->weightMap("Wmap");
  for (PointId point : scene.cubePoints) {
    const bool hasValue = (in.byte() & 1) != 0;
    const float value = fuzzing::anyFloat(in, kMapValueLimit);
    if (hasValue) {
      map.set(point, value);
      moderateMap = moderateMap && moderate(value, kMapValueLimit);
    } else {
      map.clear(point);
    }
  }
  FUZZ_REQUIRE(single.load(hostsim::BlockForm::Binary,
                           singleSettings(referencePick, weightMapPick, invert)) == nullptr,
               "single node: load gave an error");
  if (weightConnected) single.connect("Weight", weight);
  if (referenceConnected) single.connect("Reference Normal", reference);
  // Every node looks its reference object up again.
  harness.host().newTime(0, fuzzing::anyDouble(in));

  // ---- the spot ----
  const Vec3 normal = anyVector(in);
  const std::array<ItemId, 5> objects = {scene.cube->id(), scene.ref->id(), scene.other->id(),
                                         scene.gone->id(), nullptr};
  const uint8_t objectPick = in.byte() % objects.size();
  const std::array<PointId, 7> points = {nullptr,
                                         scene.cubePoints[0],
                                         scene.cubePoints[1],
                                         scene.cubePoints[2],
                                         scene.cubePoints[3],
                                         scene.otherPoint,
                                         nullptr};
  NodalAccess spot = hostsim::makeSpot(normal, objects[objectPick]);
  for (PointId &vertex : spot.verts) vertex = points[in.byte() % points.size()];
  bool moderateBarycentric = true;
  for (float &share : spot.weights) {
    share = fuzzing::anyFloat(in, kBarycentricLimit);
    moderateBarycentric = moderateBarycentric && moderate(share, kBarycentricLimit);
  }
  // Cube, Ref and Other are in the scene; Gone was removed.
  const bool shadesAtAll = itemTable && objectPick < 3;

  // ---- the single node ----
  const bool mapOnObject = (objectPick == 0 && weightMapName == "Wmap") ||
                           (objectPick == 2 && weightMapName == "Other map");
  const bool referenceFound = referenceName == "Ref" || referenceName == "Cube";
  const bool moderateWeight = weightConnected         ? moderate(weight, kWeightLimit)
                              : weightMapName.empty() ? true
                                                      : moderateMap && moderateBarycentric;
  const bool moderateReference = referenceConnected       ? moderateVector(reference)
                                 : referenceName == "Ref" ? moderateVector(forward)
                                                          : true;
  const bool moderateSingle = moderateVector(normal) && moderateWeight && moderateReference;
  const bool singleCannotAct = !shadesAtAll ||
                               (!weightConnected && !weightMapName.empty() && !mapOnObject) ||
                               (!referenceConnected && !referenceFound);
  const bool weightZero = weightConnected && weight == 0.0 && moderateSingle;
  checkResult(single, shade(single, spot), normal, singleCannotAct || weightZero, moderateSingle);

  // ---- the multi node ----
  hostsim::Node &multi = harness.node(Slot::Multi);
  const int stageCount = in.byte() % (kMaxShadingStages + 1);
  FUZZ_REQUIRE(multi.load(hostsim::BlockForm::Binary, stageCountData(stageCount)) == nullptr,
               "multi node: load gave an error");
  bool anyStageUsable = false;
  bool moderateMulti = moderateVector(normal);
  for (int k = 1; k <= stageCount; ++k) {
    Stage stage;
    const uint8_t flags = in.byte();
    stage.weightConnected = (flags & 1) != 0;
    stage.referenceConnected = (flags & 2) != 0;
    stage.weight = fuzzing::anyDouble(in);
    stage.reference = anyVector(in);
    const std::string number = std::to_string(k);
    if (stage.weightConnected) {
      multi.connect("Weight " + number, stage.weight);
      moderateMulti = moderateMulti && moderate(stage.weight, kWeightLimit);
    }
    if (stage.referenceConnected) {
      multi.connect("Reference Normal " + number, stage.reference);
      moderateMulti = moderateMulti && moderateVector(stage.reference);
    }
    anyStageUsable = anyStageUsable ||
                     (stage.weightConnected && stage.weight != 0.0 && stage.referenceConnected);
  }
  checkResult(multi, shade(multi, spot), normal, !shadesAtAll || !anyStageUsable, moderateMulti);

  harness.endInput();
  return 0;
}
