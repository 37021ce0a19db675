// The drag a module must compute, worked out apart from any module, step
// by step: normalise the reference, take reference x normal as the axis and
// acos of the clamped dot product as the angle, normalise the axis, and
// multiply out the quaternion sandwich conj(q) * (0, v) * q one Hamilton
// product at a time. Where that axis is zero (a reference equal or opposite
// to the normal, or a zero reference) the sandwich only scales the normal,
// by cos^2 of half the angle.
//
// The kernel writes the sandwich in vector form and its tests hold it
// within 1e-14 of this; validate holds a module's World Normal within
// 1e-12 of it. Everything here is spelled out locally, not taken from the
// kernel or from vec3.h's helpers, so that a change to a shared helper
// cannot move both sides at once. Only inputs well clear of the parallel
// cases may be compared closely with a module: near them acos magnifies
// the last bit of the dot product, and the contract leaves the clamping of
// that dot product to each module.
#ifndef KERROWBEND_HOSTSIM_EXPECTED_DRAG_H
#define KERROWBEND_HOSTSIM_EXPECTED_DRAG_H

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "hostsim/vec3.h"

namespace hostsim::expected {

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
inline Vec3 divideByLength(Vec3 v) {
  double sumOfSquares = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  const bool finite = std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
  if (finite && (sumOfSquares < std::numeric_limits<double>::min() ||
                 sumOfSquares > std::numeric_limits<double>::max())) {
    const double scale = std::ldexp(1.0, sumOfSquares > 1.0 ? -600 : 600);
    v = {v[0] * scale, v[1] * scale, v[2] * scale};
    sumOfSquares = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  }
  const double len = std::sqrt(sumOfSquares);
  if (!(len > 0.0)) return v;
  return {v[0] / len, v[1] / len, v[2] / len};
}

// v turned by angle about axis (of any length, or zero).
inline Vec3 rotateAboutAxis(const Vec3 &v, const Vec3 &axis, double angle) {
  const Vec3 u = divideByLength(axis);
  const double half = angle * 0.5;
  const double c = std::cos(half);
  const double s = std::sin(half);
  const Quaternion q{c, s * u[0], s * u[1], s * u[2]};
  const Quaternion qConj{c, -s * u[0], -s * u[1], -s * u[2]};
  const Quaternion t = multiply(qConj, Quaternion{0.0, v[0], v[1], v[2]});
  const Quaternion p = multiply(t, q);
  return {p.x, p.y, p.z};
}

// The normal n dragged toward reference by weight.
inline Vec3 drag(const Vec3 &n, const Vec3 &reference, double weight) {
  const Vec3 r = divideByLength(reference);
  const Vec3 axis{r[1] * n[2] - r[2] * n[1], r[2] * n[0] - r[0] * n[2], r[0] * n[1] - r[1] * n[0]};
  const double d = n[0] * r[0] + n[1] * r[1] + n[2] * r[2];
  const double angle = std::acos(std::clamp(d, -1.0, 1.0)) * weight;
  return expected::rotateAboutAxis(n, axis, angle);
}

// A reference and a weight, one stage of the multi node.
struct Stage {
  Vec3 reference;
  double weight;
};

// The stages applied one after another in the order given. Stages with
// weight 0 leave the normal as it is, as a skipped stage does.
inline Vec3 chain(const Vec3 &normal, std::span<const Stage> stages) {
  Vec3 n = normal;
  for (const Stage &stage : stages) {
    if (stage.weight != 0.0) n = expected::drag(n, stage.reference, stage.weight);
  }
  return n;
}

}  // namespace hostsim::expected

#endif
