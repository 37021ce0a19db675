#include "multi_node/instance.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "module/callbacks.h"
#include "module/host_services.h"

namespace kerrowbend {
namespace {

// Destroys the inputs the host gave the stage and releases its record.
void tearDownStage(const MultiDragInstance &inst, InputPair *stage) {
  if (stage == nullptr) return;
  const NodeInputFuncs &inputs = *hostServices.inputFuncs;
  if (stage->referenceInput != nullptr) inputs.destroy(inst.node, stage->referenceInput);
  if (stage->weightInput != nullptr) inputs.destroy(inst.node, stage->weightInput);
  std::free(stage);
}

// Adds stage k at the end of the list, its reference input before its
// weight input. False when memory cannot be had; the stage then leaves
// nothing behind, neither a record nor an input on the node.
bool addStage(const MultiDragInstance &inst, SlotList *stages, int32_t k) {
  auto *stage = static_cast<InputPair *>(std::calloc(1, sizeof(InputPair)));
  if (stage == nullptr) return false;
  const NodeInputFuncs &inputs = *hostServices.inputFuncs;
  char name[64];
  std::snprintf(name, sizeof name, "Reference Normal %d", static_cast<int>(k));
  stage->referenceInput =
      inputs.create(inst.node, CONNECTION_VECTOR, name, refreshPanelOnInputEvent);
  std::snprintf(name, sizeof name, "Weight %d", static_cast<int>(k));
  stage->weightInput = inputs.create(inst.node, CONNECTION_SCALAR, name, refreshPanelOnInputEvent);
  if (append(stages, stage) < 0) {
    tearDownStage(inst, stage);
    return false;
  }
  return true;
}

}  // namespace

SlotList *resizeInputs(const MultiDragInstance &inst, SlotList *stages, int32_t n) {
  n = std::min(n, kMaxStages);
  if (stages == nullptr) {
    stages = createSlotList(n);
    if (stages == nullptr) return nullptr;
  }
  // Stages past the current count are added in order; those that stay keep
  // their inputs and so their connections.
  while (stages->count < n && addStage(inst, stages, stages->count + 1)) {
  }
  // Removed stages give up their inputs from the lowest number upward; the
  // list is then cut back. The target is clamped rather than counted as
  // count - n, which overflows for the lowest n.
  const int32_t keep = std::max(n, int32_t{0});
  for (int32_t i = keep; i < stages->count; ++i) {
    tearDownStage(inst, static_cast<InputPair *>(payloadAt(stages, i)));
    setPayloadAt(stages, i, nullptr);
  }
  while (stages->count > keep) removeLast(stages);
  return stages;
}

extern "C" {

void *createMultiInstance(void * /*priv*/, NodeId node, Error *error) {
  auto *inst = allocateInstance<MultiDragInstance>(error);
  if (inst == nullptr) return nullptr;
  inst->node = node;
  inst->inputCount = 1;
  hostServices.nodeFuncs->setPreviewType(node, NODE_PREVIEW_NORMAL);
  inst->stages = resizeInputs(*inst, nullptr, 1);
  inst->output = hostServices.outputFuncs->create(node, CONNECTION_VECTOR, "World Normal");
  return inst;
}

void destroyMultiInstance(void *instance) {
  auto *inst = static_cast<MultiDragInstance *>(instance);
  if (inst == nullptr) return;
  // The inputs and output belong to the host's node and go with it; only the
  // module's own records are released.
  if (inst->panel != nullptr) hostServices.panelFuncs->destroy(inst->panel);
  if (inst->stages != nullptr) {
    for (int32_t i = 0; i < inst->stages->count; ++i) std::free(payloadAt(inst->stages, i));
    releaseSlotList(inst->stages);
  }
  std::free(inst);
}

Error copyMultiInstance(void *to, void *from) {
  auto *dest = static_cast<MultiDragInstance *>(to);
  const auto *src = static_cast<const MultiDragInstance *>(from);
  if (dest == nullptr || src == nullptr) return nullptr;
  // Only the count travels: the copy keeps its own node, output, panel and
  // the inputs of the stages it has, and makes new inputs for stages it
  // gains.
  dest->inputCount = src->inputCount;
  dest->stages = resizeInputs(*dest, dest->stages, dest->inputCount);
  return nullptr;
}
}

}  // namespace kerrowbend
