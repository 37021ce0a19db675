// The module with an evaluation that takes 5 ms a spot, one spot at a
// time, as a node in a heavy network might: slow, but alive. It sleeps
// rather than spins, so it is as slow on a machine of any speed and with
// any number of cores, and spares this one.
#include <chrono>
#include <mutex>
#include <thread>

#include "single_node/instance.h"

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" void __real_evaluateDragInstance(void *instance, NodalAccess *na, OutputId output,
                                            NodeValue value);

extern "C" void __wrap_evaluateDragInstance(void *instance, NodalAccess *na, OutputId output,
                                            NodeValue value) {
  static std::mutex oneAtATime;
  {
    const std::lock_guard lock(oneAtATime);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  __real_evaluateDragInstance(instance, na, output, value);
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
