// The module with the single node's evaluation wrapped in a fault, chosen
// when it is compiled:
//   EVAL_IGNORES_INVERT  shades as if "Invert Vector" were off
//   EVAL_OUTSIDE_UNSET   sets no World Normal for spots on objects outside
//                        the scene
#include "module/scene_objects.h"
#include "single_node/instance.h"

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" void __real_evaluateDragInstance(void *instance, NodalAccess *na, OutputId output,
                                            NodeValue value);

extern "C" void __wrap_evaluateDragInstance(void *instance, NodalAccess *na, OutputId output,
                                            NodeValue value) {
#if defined(EVAL_IGNORES_INVERT)
  kerrowbend::DragInstance shaded = *static_cast<kerrowbend::DragInstance *>(instance);
  shaded.invert = 0;
  __real_evaluateDragInstance(&shaded, na, output, value);
#elif defined(EVAL_OUTSIDE_UNSET)
  if (kerrowbend::shadesSpotsOn(na->objId)) {
    __real_evaluateDragInstance(instance, na, output, value);
  }
#endif
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
