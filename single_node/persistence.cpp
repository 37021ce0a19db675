// The node's settings in scene files: three leaf blocks, one per setting.
#include <cstdint>

#include "single_node/instance.h"

namespace kerrowbend {
namespace {

constexpr BlockId kObjectBlock = 0x524F424A;     // ROBJ
constexpr BlockId kInvertBlock = 0x494E5654;     // INVT
constexpr BlockId kWeightMapBlock = 0x574D4150;  // WMAP

const BlockIdent kBlocks[] = {
    {kObjectBlock, "Object"},
    {kInvertBlock, "Invert"},
    {kWeightMapBlock, "WeightMap"},
    {0, nullptr},
};

const BlockIdent &objectBlock = kBlocks[0];
const BlockIdent &invertBlock = kBlocks[1];
const BlockIdent &weightMapBlock = kBlocks[2];

// A host may deliver a stored string that fills the buffer cut and without
// its terminator; the last byte is forced to zero so the field always ends.
void readName(const LoadState &state, char (&field)[kNameSize]) {
  state.readStr(state.readData, field, static_cast<int>(kNameSize));
  field[kNameSize - 1] = '\0';
}

}  // namespace

extern "C" {

Error saveDragInstance(void *instance, const SaveState *state) {
  const auto *inst = static_cast<const DragInstance *>(instance);
  if (inst == nullptr || state == nullptr) return nullptr;
  void *out = state->writeData;

  state->beginBlk(out, &objectBlock, 1);
  state->writeStr(out, inst->referenceObjectName);
  state->endBlk(out);

  state->beginBlk(out, &invertBlock, 1);
  state->writeI4(out, &inst->invert, 1);
  state->endBlk(out);

  state->beginBlk(out, &weightMapBlock, 1);
  state->writeStr(out, inst->weightMapName);
  state->endBlk(out);
  return nullptr;
}

Error loadDragInstance(void *instance, const LoadState *state) {
  auto *inst = static_cast<DragInstance *>(instance);
  if (inst == nullptr || state == nullptr) return nullptr;
  // Blocks may come in any order; one that is missing leaves its setting as
  // it was, and one this node does not know is stepped over.
  for (BlockId id; (id = state->findBlk(state->readData, kBlocks)) != 0;) {
    if (id == kObjectBlock) {
      readName(*state, inst->referenceObjectName);
    } else if (id == kInvertBlock) {
      int32_t value = 0;
      if (state->readI4(state->readData, &value, 1) == 1) inst->invert = value;
    } else if (id == kWeightMapBlock) {
      readName(*state, inst->weightMapName);
    }
    state->endBlk(state->readData);
  }
  return nullptr;
}
}

}  // namespace kerrowbend
