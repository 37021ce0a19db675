#include "kernel/drag.h"

#include <cmath>

namespace kerrowbend {
namespace {

struct Quaternion {
  double w;
  Vector v;
};

// Hamilton product a * b.
Quaternion multiply(const Quaternion &a, const Quaternion &b) {
  return {a.w * b.w - a.v.x * b.v.x - a.v.y * b.v.y - a.v.z * b.v.z,
          {a.w * b.v.x + a.v.x * b.w + a.v.y * b.v.z - a.v.z * b.v.y,
           a.w * b.v.y - a.v.x * b.v.z + a.v.y * b.w + a.v.z * b.v.x,
           a.w * b.v.z + a.v.x * b.v.y - a.v.y * b.v.x + a.v.z * b.w}};
}

}  // namespace

Vector rotateAboutAxis(Vector v, Vector axis, double angle) {
  const Vector unitAxis = normalizedOrUnchanged(axis);
  const double half = angle * 0.5;
  const double c = std::cos(half);
  const double s = std::sin(half);
  const Quaternion q{c, {s * unitAxis.x, s * unitAxis.y, s * unitAxis.z}};
  const Quaternion qConj{c, {-s * unitAxis.x, -s * unitAxis.y, -s * unitAxis.z}};
  // conj(q) * v * q turns the opposite way to the usual q * v * conj(q);
  // with the axis taken as reference x normal below, that turns the normal
  // toward the reference.
  const Quaternion t = multiply(qConj, Quaternion{0.0, v});
  return multiply(t, q).v;
}

Vector dragNormal(Vector normal, Vector reference, double weight) {
  const Vector unitReference = normalizedOrUnchanged(reference);
  const Vector axis = cross(unitReference, normal);
  const double angle = safeAcos(dot(normal, unitReference)) * weight;
  return rotateAboutAxis(normal, axis, angle);
}

}  // namespace kerrowbend
