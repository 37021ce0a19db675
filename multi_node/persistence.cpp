// The node's one setting in scene files: the stage count, in one leaf block.
#include <cstdint>

#include "multi_node/instance.h"

namespace kerrowbend {
namespace {

constexpr BlockId kCountBlock = 0x494E554D;  // INUM

const BlockIdent kBlocks[] = {
    {kCountBlock, "Num"},
    {0, nullptr},
};

}  // namespace

extern "C" {

Error saveMultiInstance(void *instance, const SaveState *state) {
  const auto *inst = static_cast<const MultiDragInstance *>(instance);
  if (inst == nullptr || state == nullptr) return nullptr;
  state->beginBlk(state->writeData, &kBlocks[0], 1);
  state->writeI4(state->writeData, &inst->inputCount, 1);
  state->endBlk(state->writeData);
  return nullptr;
}

Error loadMultiInstance(void *instance, const LoadState *state) {
  auto *inst = static_cast<MultiDragInstance *>(instance);
  if (inst == nullptr || state == nullptr) return nullptr;
  // The last count read wins; a block whose integer cannot be read leaves
  // the count as it was.
  for (BlockId id; (id = state->findBlk(state->readData, kBlocks)) != 0;) {
    int32_t value = 0;
    if (id == kCountBlock && state->readI4(state->readData, &value, 1) == 1) {
      inst->inputCount = value;
    }
    state->endBlk(state->readData);
  }
  // Loading is what gives a loaded node its stages and inputs.
  inst->stages = resizeInputs(*inst, inst->stages, inst->inputCount);
  return nullptr;
}
}

}  // namespace kerrowbend
