#include "kernel/drag.h"

#include <cmath>

namespace kerrowbend {
namespace {

// A vector v turned about a unit axis u is a blend of v and two vectors
// that depend on the axis alone, not on the angle:
// - mirrored = |u|^2 v - 2 (u.v) u, v reflected in the plane across the
//   axis: its part along the axis flips, the rest stays;
// - quarterTurned = u x v, v's part across the axis a quarter turn on.
// A zero axis makes both zero.
struct TurnTerms {
  Vector v;
  Vector mirrored;
  Vector quarterTurned;
};

inline TurnTerms turnTerms(Vector v, Vector u) {
  return {v, dot(u, u) * v - 2.0 * dot(u, v) * u, cross(u, v)};
}

// The quaternion sandwich conj(q) (0, v) q with q = (cos h, sin h u),
// multiplied out:
//   cos^2 h v - sin^2 h mirrored - 2 cos h sin h quarterTurned.
// The part of v along the axis stays and the part across it turns by 2h,
// clockwise seen from the tip of u (Rodrigues' formula with angle -2h).
// About a zero axis, v is only scaled by cos^2 h.
inline Vector turned(const TurnTerms &terms, double h) {
  const double cosine = std::cos(h);
  const double sine = std::sin(h);
  return cosine * cosine * terms.v - sine * sine * terms.mirrored -
         2.0 * cosine * sine * terms.quarterTurned;
}

}  // namespace

Vector rotateAboutAxis(const Vector &v, const Vector &axis, double angle) {
  return turned(turnTerms(v, normalized(axis)), 0.5 * angle);
}

Vector dragNormal(const Vector &normal, const Vector &reference, double weight) {
  const Vector unitReference = normalized(reference);
  // Turning clockwise about reference x normal, seen from its tip, moves
  // the normal toward the reference. With the two parallel the axis is
  // zero, and the normal is only scaled.
  const TurnTerms terms = turnTerms(normal, normalized(cross(unitReference, normal)));
  const double angle = safeAcos(dot(normal, unitReference));
  return turned(terms, 0.5 * weight * angle);
}

}  // namespace kerrowbend
