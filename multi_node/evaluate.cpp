// Shading one spot: the normal is dragged once per usable stage, in stage
// order, each stage starting from the previous result. Runs on many render
// threads at once: it reads the instance and the module-wide state and
// writes only its own temporaries and the output value.
#include "kernel/drag.h"
#include "module/host_services.h"
#include "module/scene_objects.h"
#include "module/shading.h"
#include "multi_node/instance.h"

namespace kerrowbend {
namespace {

// Unlike the single node there are no fallbacks: a stage without a
// connected weight, with weight 0, or without a connected reference is left
// out of the chain. The weight is asked for first, so a stage weighted 0
// never evaluates its reference.
Vector dragThroughStages(const SlotList &stages, NodalAccess &na, Vector normal) {
  const NodeInputFuncs &inputs = *hostServices.inputFuncs;
  forEachPayload(stages, [&](const void *payload) {
    const auto *stage = static_cast<const InputPair *>(payload);
    // A stage the host gave no id for an input is never asked about.
    if (stage == nullptr || stage->weightInput == nullptr || stage->referenceInput == nullptr) {
      return;
    }
    if (inputs.check(stage->weightInput) == 0) return;
    double weight = 0.0;
    inputs.evaluate(stage->weightInput, &na, &weight);
    // -0.0 compares equal too; NaN does not, and goes on into the drag.
    if (weight == 0.0) return;
    if (inputs.check(stage->referenceInput) == 0) return;
    double reference[3] = {0.0, 0.0, 0.0};
    inputs.evaluate(stage->referenceInput, &na, reference);
    normal = dragNormal(normal, toVector(reference), weight);
  });
  return normal;
}

}  // namespace

extern "C" void evaluateMultiInstance(void *instance, NodalAccess *na, OutputId /*output*/,
                                      NodeValue value) {
  const auto &inst = *static_cast<const MultiDragInstance *>(instance);
  Vector result = toVector(na->wNorm);
  if (shadesSpotsOn(na->objId) && inst.stages != nullptr) {
    result = dragThroughStages(*inst.stages, *na, result);
  }
  setResult(value, result);
}

}  // namespace kerrowbend
