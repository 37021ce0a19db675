#include "kernel/drag.h"

#include <cmath>

namespace kerrowbend {
namespace {

// A vector v described for a turn about a unit (or zero) axis u, by the
// three directions the turned vector is a blend of:
// - v itself;
// - mirrored = |u|^2 v - 2 (u.v) u: for a unit axis, v reflected in the
//   plane across the axis (its part along the axis flips, the rest stays);
// - quarter = u x v: v's part across the axis, turned a quarter turn about
//   it.
// For a zero axis the last two are zero.
struct TurnFrame {
  Vector v;
  Vector mirrored;
  Vector quarter;
};

// The helpers below serve both entry points and are marked inline so that
// GCC folds them into each rather than passing the frame through memory.
inline TurnFrame turnFrame(Vector v, Vector u) {
  const double alongSquared = dot(u, u);
  const double twiceAlong = 2.0 * dot(u, v);
  return {v,
          {alongSquared * v.x - twiceAlong * u.x, alongSquared * v.y - twiceAlong * u.y,
           alongSquared * v.z - twiceAlong * u.z},
          cross(u, v)};
}

// The axis brought to unit length by one division and three multiplies. A
// zero (or not-a-number) length leaves it as it is, so a zero axis stays
// zero.
inline Vector unitAxis(Vector axis) {
  const double len = length(axis);
  const double scale = len > 0.0 ? 1.0 / len : 1.0;
  return {axis.x * scale, axis.y * scale, axis.z * scale};
}

// The conjugate sandwich conj(q) * (0, v) * q of the quaternion
// q = (cos h, sin h * u), multiplied out into vector form:
//   cos^2 h v - sin^2 h mirrored - 2 cos h sin h quarter.
// For a unit axis that is v turned about it by -2h: the part along the axis
// stays, the part across it turns by 2h the other way (Rodrigues' formula).
// For a zero axis it is v scaled by cos^2 h.
inline Vector turnByHalfAngle(const TurnFrame &frame, double halfAngle) {
  // Taken of the same argument, the two become one sincos call.
  const double c = std::cos(halfAngle);
  const double s = std::sin(halfAngle);
  const double keep = c * c;
  const double mirror = s * s;
  const double twist = (c + c) * s;
  const Vector &v = frame.v;
  const Vector &m = frame.mirrored;
  const Vector &q = frame.quarter;
  return {keep * v.x - mirror * m.x - twist * q.x, keep * v.y - mirror * m.y - twist * q.y,
          keep * v.z - mirror * m.z - twist * q.z};
}

}  // namespace

Vector rotateAboutAxis(const Vector &v, const Vector &axis, double angle) {
  return turnByHalfAngle(turnFrame(v, unitAxis(axis)), angle * 0.5);
}

Vector dragNormal(const Vector &normal, const Vector &reference, double weight) {
  // The reference is divided by its length component by component, not
  // multiplied by the reciprocal: with the normal close to the reference or
  // its opposite, acos is steep and the axis is mostly rounding, so a change
  // in the last bit of any component moves the result far more than
  // rounding anywhere else.
  const Vector unitReference = normalizedOrUnchanged(reference);
  // Turning about reference x normal by minus the angle turns the normal
  // toward the reference. Everything about the axis is settled before the
  // angle, so only the blend at the end waits for acos and sincos.
  const TurnFrame frame = turnFrame(normal, unitAxis(cross(unitReference, normal)));
  // Halving the weight rather than the weighted angle gives the same half
  // angle (halving is exact) one multiply sooner after acos returns.
  const double halfAngle = safeAcos(dot(normal, unitReference)) * (0.5 * weight);
  return turnByHalfAngle(frame, halfAngle);
}

}  // namespace kerrowbend
