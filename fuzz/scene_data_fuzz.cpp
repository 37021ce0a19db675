// Loads arbitrary scene data into either node through the simulated host's
// block readers, in both scene forms. The first byte chooses: bit 0 the
// multi node (else the single node), bit 1 the text form (else binary),
// bit 2 a reader that also hands the loader blocks it did not ask for,
// bit 3 a count above a few hundred allowed. The rest is the data.
//
// Whatever the data, the node must come out of the load whole:
// - it saves without a fault, in both forms, data that reads back undamaged
//   with its blocks in their order and every name inside its field;
// - copying it into another node, or loading what it saved into one, in
//   either form, and saving that gives the same bytes;
// - it shades a spot with exactly one finite result;
// - the multi node's inputs are the stages of the count the data held (the
//   last count that could be read), and follow an "Input Size" edit;
// - it can be destroyed, as every input's nodes are at its end.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/harness.h"

namespace {

// Above this count data must ask for a large count; see below.
constexpr int32_t kLargeCount = 256;

using fuzzing::FixedScene;
using fuzzing::Harness;
using fuzzing::Slot;
using hostsim::BlockForm;

const char *formName(BlockForm form) { return form == BlockForm::Text ? "text" : "binary"; }

BlockForm otherForm(BlockForm form) {
  return form == BlockForm::Text ? BlockForm::Binary : BlockForm::Text;
}

void loadCleanly(hostsim::Node &node, BlockForm form, const std::string &data,
                 hostsim::LoadOptions options = {}) {
  hostsim::LoadReport report;
  FUZZ_REQUIRE(node.load(form, data, options, &report) == nullptr, "%s: load gave an error",
               node.server().c_str());
  for (const std::string &problem : report.problems) {
    // Damaged data is the input's doing; any other problem is the loader's.
    FUZZ_REQUIRE(problem.rfind("damaged", 0) == 0, "%s: %s load: %s", node.server().c_str(),
                 formName(form), problem.c_str());
  }
}

std::string saveCleanly(hostsim::Node &node, BlockForm form) {
  hostsim::SaveReport report;
  std::string data = node.save(form, &report);
  FUZZ_REQUIRE(report.error == nullptr && report.problems.empty(), "%s: %s save: %s",
               node.server().c_str(), formName(form),
               report.problems.empty() ? "error" : report.problems.front().c_str());
  return data;
}

void checkSingleSave(BlockForm form, const std::string &saved) {
  const fuzzing::SingleData found = fuzzing::readSingleData(form, saved);
  FUZZ_REQUIRE(found.blocks == 3 && found.invert.has_value(),
               "single node: %s save holds %d blocks, not its three", formName(form), found.blocks);
  FUZZ_REQUIRE(
      found.object.size() < fuzzing::kNameField && found.weightMap.size() < fuzzing::kNameField,
      "single node: saved a name of %zu bytes",
      std::max(found.object.size(), found.weightMap.size()));
}

// A node placed afresh (in copySlot) into which the loaded node is copied,
// or into which what it saved is loaded, in either form, saves the same
// bytes as it did. Gives that node.
hostsim::Node &checkSaveReloads(Harness &harness, hostsim::Node &node, Slot copySlot,
                                BlockForm form) {
  const std::string saved = saveCleanly(node, form);
  const std::string savedOther = saveCleanly(node, otherForm(form));
  if (copySlot == Slot::SingleCopy) {
    checkSingleSave(form, saved);
    checkSingleSave(otherForm(form), savedOther);
  }
  hostsim::Node &copy = harness.node(copySlot);
  FUZZ_REQUIRE(copy.copyFrom(node) == nullptr, "%s: copy gave an error", node.server().c_str());
  FUZZ_REQUIRE(saveCleanly(copy, form) == saved, "%s: a copy saves differently",
               node.server().c_str());
  loadCleanly(copy, form, saved);
  FUZZ_REQUIRE(saveCleanly(copy, form) == saved, "%s: %s save-load-save differs",
               node.server().c_str(), formName(form));
  loadCleanly(copy, otherForm(form), savedOther);
  FUZZ_REQUIRE(saveCleanly(copy, form) == saved, "%s: %s save differs after a %s round trip",
               node.server().c_str(), formName(form), formName(otherForm(form)));
  return copy;
}

hostsim::Evaluation shadeOnCube(Harness &harness, hostsim::Node &node) {
  const FixedScene &scene = harness.scene();
  const NodalAccess spot = hostsim::makeSpot(
      {0.0, 0.0, 1.0}, scene.cube->id(),
      {scene.cubePoints[0], scene.cubePoints[1], scene.cubePoints[2], scene.cubePoints[3]},
      {0.25F, 0.25F, 0.25F, 0.25F});
  const hostsim::Evaluation result = node.evaluate(spot);
  FUZZ_REQUIRE(result.setOnce(), "%s: output set %d times", node.server().c_str(),
               result.setValueCalls);
  for (double component : result.value) {
    FUZZ_REQUIRE(std::isfinite(component), "%s: shading a unit normal gave %g",
                 node.server().c_str(), component);
  }
  return result;
}

void checkStages(const hostsim::Node &node, int32_t count, const char *when) {
  FUZZ_REQUIRE(fuzzing::hasStages(node, count), "multi node: inputs are not the stages of %d %s",
               static_cast<int>(count), when);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const bool multi = (data[0] & 1) != 0;
  const BlockForm form = (data[0] & 2) != 0 ? BlockForm::Text : BlockForm::Binary;
  const hostsim::LoadOptions options{.returnUnknownBlocks = (data[0] & 4) != 0};
  const std::string blocks(reinterpret_cast<const char *>(data + 1), size - 1);

  // A count in the thousands costs a second or more under the sanitizers,
  // past the stage limit as much as at it, and reaches nothing a count of a
  // few hundred does not but the limit itself; so only data that asks for
  // it (bit 3) may hold one.
  const int32_t count = multi ? fuzzing::readCount(form, blocks, options).value_or(1) : 0;
  if (count > kLargeCount && (data[0] & 8) == 0) return 0;

  Harness &harness = Harness::get();
  hostsim::Node &node = harness.node(multi ? Slot::Multi : Slot::Single);
  loadCleanly(node, form, blocks, options);

  if (multi) {
    checkStages(node, count, "after the load");
    FUZZ_REQUIRE(fuzzing::readCount(form, saveCleanly(node, form)) == count,
                 "multi node: saved a count other than the %d loaded", static_cast<int>(count));
    checkStages(checkSaveReloads(harness, node, Slot::MultiCopy, form), count, "in a copy");
    // Nothing is connected, so every stage is skipped.
    FUZZ_REQUIRE(fuzzing::sameVector(shadeOnCube(harness, node).value, {0.0, 0.0, 1.0}),
                 "multi node: no stage is connected, yet the normal changed");
    const int32_t resized = fuzzing::stagesMade(count) + 1;
    harness.panel(Slot::Multi).editInt(fuzzing::kInputSizeId, resized);
    checkStages(node, resized, "after an edit");
    shadeOnCube(harness, node);
  } else {
    checkSaveReloads(harness, node, Slot::SingleCopy, form);
    // The reference object is found by the loaded name.
    node.newTime(0, 0.0);
    shadeOnCube(harness, node);
  }
  harness.endInput();
  return 0;
}
