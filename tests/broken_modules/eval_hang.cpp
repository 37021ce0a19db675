// The module with an evaluation that never returns, as one waiting on a
// lock that is never released would. It sleeps rather than spins, to
// spare the machine while the test waits for the tool to give up on it.
#include <unistd.h>

#include "single_node/instance.h"

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" void __wrap_evaluateDragInstance(void * /*instance*/, NodalAccess * /*na*/,
                                            OutputId /*output*/, NodeValue /*value*/) {
  for (;;) ::pause();
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
