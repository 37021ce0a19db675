// What any driver of the module knows about its two nodes from the outside:
// their server names, the names of the inputs and output they make, their
// panel value ids, the size of a name field, and the blocks they keep in a
// scene file. Tests, fuzz targets and kerrowbend-host all drive the module
// through these; the module's own sources keep their copies, so a change on
// one side that the other does not follow shows up as a failing driver.
#ifndef KERROWBEND_HOSTSIM_MODULE_FACTS_H
#define KERROWBEND_HOSTSIM_MODULE_FACTS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "hostsim/block_io.h"

namespace hostsim::facts {

// Server names; each node is a "NodeHandler" and a "NodeInterface" server.
inline constexpr const char *kSingle = "Kerrowbend";
inline constexpr const char *kMulti = "KerrowbendMulti";
inline constexpr std::array<const char *, 2> kNodes = {kSingle, kMulti};

// Inputs and output. The multi node numbers its stages' inputs from 1.
inline constexpr const char *kReferenceInput = "Reference Normal";
inline constexpr const char *kWeightInput = "Weight";
inline constexpr const char *kOutput = "World Normal";
inline std::string stageReferenceInput(int stage) {
  return std::string(kReferenceInput) + ' ' + std::to_string(stage);
}
inline std::string stageWeightInput(int stage) {
  return std::string(kWeightInput) + ' ' + std::to_string(stage);
}

// The most stages a multi node makes, whatever count it is given; the
// count itself is kept and saved as given.
inline constexpr int32_t kStageLimit = 10000;

// What either node's create reports when its instance cannot be had, the
// one error any instance callback gives.
inline constexpr const char *kCreateFailed = "Couldn't allocate memory for instance.";

// Panel value ids: the single node's three and the multi node's one.
inline constexpr uint32_t kReferenceObjectId = 0x8001;
inline constexpr uint32_t kInvertId = 0x8002;
inline constexpr uint32_t kWeightMapId = 0x8003;
inline constexpr uint32_t kInputSizeId = 0x8001;

// What a new single node's "Invert Vector" holds: on.
inline constexpr int32_t kNewNodeInvert = 1;

// A name field holds 259 bytes and its terminating zero.
inline constexpr std::size_t kNameField = 260;

// Scene-file blocks, each with the token the text form spells it by.
struct BlockFact {
  BlockId id;
  const char *token;
};
inline constexpr BlockFact kObjectBlock = {blockId("ROBJ"), "Object"};
inline constexpr BlockFact kInvertBlock = {blockId("INVT"), "Invert"};
inline constexpr BlockFact kWeightMapBlock = {blockId("WMAP"), "WeightMap"};
inline constexpr BlockFact kCountBlock = {blockId("INUM"), "Num"};

// Scene data as a scene file holds it, written by the host's own block
// writer: the single node's three settings, and a multi node's stage count.
inline std::string singleData(BlockForm form, std::string_view object, int32_t invert,
                              std::string_view weightMap) {
  BlockWriter writer(form);
  writer.begin(kObjectBlock.id, kObjectBlock.token);
  writer.writeString(object);
  writer.end();
  writer.begin(kInvertBlock.id, kInvertBlock.token);
  writer.writeInt(invert);
  writer.end();
  writer.begin(kWeightMapBlock.id, kWeightMapBlock.token);
  writer.writeString(weightMap);
  writer.end();
  return writer.finish();
}

inline std::string countData(BlockForm form, int32_t count) {
  BlockWriter writer(form);
  writer.begin(kCountBlock.id, kCountBlock.token);
  writer.writeInt(count);
  writer.end();
  return writer.finish();
}

}  // namespace hostsim::facts

#endif
