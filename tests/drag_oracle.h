// The drag computed step by step: normalise the reference, take
// reference x normal as the axis and acos of the clamped dot product as the
// angle, normalise the axis, and multiply out the quaternion sandwich
// conj(q) * (0, v) * q one Hamilton product at a time.
//
// The kernel writes the sandwich in vector form and must stay within 1e-14
// of this. Everything here is spelled out locally, not taken from
// kernel/vector.h, so that a change to a shared helper cannot move both
// sides at once.
#ifndef KERROWBEND_TESTS_DRAG_ORACLE_H
#define KERROWBEND_TESTS_DRAG_ORACLE_H

#include <algorithm>
#include <cmath>
#include <limits>

#include "kernel/vector.h"

namespace kerrowbend::oracle {

struct Quaternion {
  double w;
  double x;
  double y;
  double z;
};

// Hamilton product a * b.
inline Quaternion multiply(const Quaternion &a, const Quaternion &b) {
  return {
      a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
      a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

// v divided by its length when that is above zero; otherwise v as it is.
// A finite v whose squares overflow, or underflow into the subnormals, is
// first multiplied by 2^-600 or 2^600: exact, and enough to bring any such
// length into range, so every non-zero length gives the unit vector.
inline Vector divideByLength(Vector v) {
  double sumOfSquares = v.x * v.x + v.y * v.y + v.z * v.z;
  const bool finite = std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
  if (finite && (sumOfSquares < std::numeric_limits<double>::min() ||
                 sumOfSquares > std::numeric_limits<double>::max())) {
    const double scale = std::ldexp(1.0, sumOfSquares > 1.0 ? -600 : 600);
    v = {v.x * scale, v.y * scale, v.z * scale};
    sumOfSquares = v.x * v.x + v.y * v.y + v.z * v.z;
  }
  const double len = std::sqrt(sumOfSquares);
  if (!(len > 0.0)) return v;
  return {v.x / len, v.y / len, v.z / len};
}

inline Vector rotateAboutAxis(Vector v, Vector axis, double angle) {
  const Vector u = divideByLength(axis);
  const double half = angle * 0.5;
  const double c = std::cos(half);
  const double s = std::sin(half);
  const Quaternion q{c, s * u.x, s * u.y, s * u.z};
  const Quaternion qConj{c, -s * u.x, -s * u.y, -s * u.z};
  const Quaternion t = multiply(qConj, Quaternion{0.0, v.x, v.y, v.z});
  const Quaternion p = multiply(t, q);
  return {p.x, p.y, p.z};
}

inline Vector dragNormal(Vector n, Vector reference, double weight) {
  const Vector r = divideByLength(reference);
  const Vector axis{r.y * n.z - r.z * n.y, r.z * n.x - r.x * n.z, r.x * n.y - r.y * n.x};
  const double d = n.x * r.x + n.y * r.y + n.z * r.z;
  const double angle = std::acos(std::clamp(d, -1.0, 1.0)) * weight;
  return oracle::rotateAboutAxis(n, axis, angle);
}

}  // namespace kerrowbend::oracle

#endif
