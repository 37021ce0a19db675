// Three doubles, a direction or a point: the one vector type of everything
// outside the module (the simulated host, the tool, the tests), with the
// few operations more than one of them needs. The module keeps its own.
#ifndef KERROWBEND_HOSTSIM_VEC3_H
#define KERROWBEND_HOSTSIM_VEC3_H

#include <array>
#include <cmath>

namespace hostsim {

using Vec3 = std::array<double, 3>;

inline constexpr double dot(const Vec3 &a, const Vec3 &b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline constexpr Vec3 scaled(const Vec3 &v, double s) { return {v[0] * s, v[1] * s, v[2] * s}; }
inline constexpr Vec3 negated(const Vec3 &v) { return {-v[0], -v[1], -v[2]}; }
inline double length(const Vec3 &v) { return std::sqrt(dot(v, v)); }
// v of length 1; not a number in every component for a zero v.
inline Vec3 unit(const Vec3 &v) {
  const double l = length(v);
  return {v[0] / l, v[1] / l, v[2] / l};
}

}  // namespace hostsim

#endif
