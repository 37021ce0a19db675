// The normal drag: turn a surface normal toward a reference direction by a
// weighted share of the angle between them. Free of the host.
#ifndef KERROWBEND_KERNEL_DRAG_H
#define KERROWBEND_KERNEL_DRAG_H

#include "kernel/vector.h"

namespace kerrowbend {

// Rotates v about axis by -angle (right-hand rule), i.e. by +angle about the
// negated axis, as the quaternion sandwich conj(q) * v * q. The axis is
// normalised when its length is above zero; a zero axis scales v by
// cos^2(angle / 2) instead of rotating it.
Vector rotateAboutAxis(Vector v, Vector axis, double angle);

// Turns normal toward reference by weight times the angle between them.
// The normal is used as given (not normalised); the reference may have any
// length. Weight 0 keeps the normal, 1 lands on the reference direction,
// values outside [0, 1] turn away from it or past it.
Vector dragNormal(Vector normal, Vector reference, double weight);

}  // namespace kerrowbend

#endif
