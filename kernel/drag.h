// The normal drag: turn a surface normal toward a reference direction by a
// weighted share of the angle between them. Free of the host.
#ifndef KERROWBEND_KERNEL_DRAG_H
#define KERROWBEND_KERNEL_DRAG_H

#include "kernel/vector.h"

namespace kerrowbend {

// Both take their vectors by reference: three doubles are too many for the
// registers a struct argument may use, so by value every call would copy
// them through the stack.

// Rotates v about axis by -angle (right-hand rule), i.e. by +angle about the
// negated axis, as the quaternion sandwich conj(q) * v * q (worked out in
// vector form). An axis of any non-zero length acts as its unit vector; a
// zero axis scales v by cos^2(angle / 2) instead of rotating it.
Vector rotateAboutAxis(const Vector &v, const Vector &axis, double angle);

// Turns normal toward reference by weight times the angle between them.
// The normal is used as given (not normalised); a reference of any non-zero
// length acts as its unit vector. Weight 0 keeps the normal, 1 lands on the
// reference direction, values outside [0, 1] turn away from it or past it.
Vector dragNormal(const Vector &normal, const Vector &reference, double weight);

}  // namespace kerrowbend

#endif
