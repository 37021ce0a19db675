// The module with the multi node's evaluation swapped for a faulty one,
// chosen when it is compiled:
//   EVAL_REVERSE_STAGES  applies the stages last to first
//   EVAL_SETS_TWICE      sets World Normal twice per evaluation
#include "kernel/drag.h"
#include "module/host_services.h"
#include "module/scene_objects.h"
#include "module/shading.h"
#include "multi_node/instance.h"

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" void __real_evaluateMultiInstance(void *instance, NodalAccess *na, OutputId output,
                                             NodeValue value);

extern "C" void __wrap_evaluateMultiInstance(void *instance, NodalAccess *na, OutputId output,
                                             NodeValue value) {
#if defined(EVAL_REVERSE_STAGES)
  using namespace kerrowbend;
  (void)output;
  const auto &inst = *static_cast<const MultiDragInstance *>(instance);
  Vector n = toVector(na->wNorm);
  const NodeInputFuncs &inputs = *hostServices.inputFuncs;
  if (shadesSpotsOn(na->objId) && inst.stages != nullptr) {
    for (int32_t i = inst.stages->count - 1; i >= 0; --i) {
      const auto *stage = static_cast<const InputPair *>(payloadAt(inst.stages, i));
      if (stage == nullptr || inputs.check(stage->weightInput) == 0) continue;
      double w = 0.0;
      inputs.evaluate(stage->weightInput, na, &w);
      if (w == 0.0 || inputs.check(stage->referenceInput) == 0) continue;
      double r[3] = {0.0, 0.0, 0.0};
      inputs.evaluate(stage->referenceInput, na, r);
      n = dragNormal(n, toVector(r), w);
    }
  }
  setResult(value, n);
#elif defined(EVAL_SETS_TWICE)
  __real_evaluateMultiInstance(instance, na, output, value);
  __real_evaluateMultiInstance(instance, na, output, value);
#endif
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
