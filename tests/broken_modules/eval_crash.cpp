// The module with an evaluation that writes through a pointer it never
// got, as one that forgot to check for a missing table would.
#include "single_node/instance.h"

namespace {
// volatile: the compiler may not see that it stays null and drop the write.
int *volatile missingTable = nullptr;
}  // namespace

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" void __real_evaluateDragInstance(void *instance, NodalAccess *na, OutputId output,
                                            NodeValue value);

extern "C" void __wrap_evaluateDragInstance(void *instance, NodalAccess *na, OutputId output,
                                            NodeValue value) {
  *missingTable = 1;
  __real_evaluateDragInstance(instance, na, output, value);
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
