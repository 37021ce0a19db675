// The module with its drag swapped for a faulty one, the fault chosen when
// it is compiled:
//   DRAG_AWAY            turns every normal away from its reference
//   DRAG_HALF            turns it half as far as it should
//   DRAG_NAN_Z           gives a z of NaN for negative weights
//   DRAG_SHARED_SCRATCH  keeps its working vectors in one buffer for all
//                        threads, as a module caching between calls would
//   DRAG_LARGEST_AS_ZERO takes a reference with a component at the largest
//                        finite double for a zero one, as a rescale that
//                        tests < where it must test <= does
#include <cmath>
#include <limits>
#include <thread>

#include "kernel/drag.h"

using kerrowbend::Vector;

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
// kerrowbend::dragNormal(const Vector &, const Vector &, double), by its
// linker name.
extern "C" Vector __real__ZN10kerrowbend10dragNormalERKNS_6VectorES2_d(const Vector &normal,
                                                                       const Vector &reference,
                                                                       double weight);
#define REAL_DRAG __real__ZN10kerrowbend10dragNormalERKNS_6VectorES2_d

#if defined(DRAG_SHARED_SCRATCH)
namespace {
// volatile: every step goes through the shared buffer, as it would in a
// module that kept it between calls.
volatile double scratch[6];
}  // namespace
#endif

extern "C" Vector __wrap__ZN10kerrowbend10dragNormalERKNS_6VectorES2_d(const Vector &normal,
                                                                       const Vector &reference,
                                                                       double weight) {
#if defined(DRAG_AWAY)
  return REAL_DRAG(normal, reference, -weight);
#elif defined(DRAG_LARGEST_AS_ZERO)
  constexpr double kLargest = std::numeric_limits<double>::max();
  const bool largest = std::fabs(reference.x) == kLargest || std::fabs(reference.y) == kLargest ||
                       std::fabs(reference.z) == kLargest;
  return REAL_DRAG(normal, largest ? Vector{0, 0, 0} : reference, weight);
#elif defined(DRAG_HALF)
  return REAL_DRAG(normal, reference, weight * 0.5);
#elif defined(DRAG_NAN_Z)
  Vector result = REAL_DRAG(normal, reference, weight);
  if (weight < 0) result.z = std::nan("");
  return result;
#elif defined(DRAG_SHARED_SCRATCH)
  scratch[0] = normal.x;
  scratch[1] = normal.y;
  scratch[2] = normal.z;
  scratch[3] = reference.x;
  scratch[4] = reference.y;
  scratch[5] = reference.z;
  // Gives up the core between writing and reading back, as a module doing
  // real work there is now and then preempted: so another thread's call
  // lands in between on one core as surely as on many.
  std::this_thread::yield();
  const Vector n{scratch[0], scratch[1], scratch[2]};
  const Vector r{scratch[3], scratch[4], scratch[5]};
  return REAL_DRAG(n, r, weight);
#endif
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
