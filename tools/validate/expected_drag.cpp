#include "tools/validate/expected_drag.h"

#include <cmath>

namespace kerrowbend_host {

namespace {

using Long3 = std::array<long double, 3>;

Long3 widened(const Vec3 &v) { return {v[0], v[1], v[2]}; }

long double dotOf(const Long3 &a, const Long3 &b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Long3 crossOf(const Long3 &a, const Long3 &b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

}  // namespace

Vec3 expectedDrag(const Vec3 &normal, const Vec3 &reference, double weight) {
  const Long3 n = widened(normal);
  Long3 r = widened(reference);
  const long double length = std::sqrt(dotOf(r, r));
  if (length > 0) r = {r[0] / length, r[1] / length, r[2] / length};
  const long double angle = std::acos(dotOf(n, r)) * weight;
  const Long3 axis = crossOf(r, n);
  const long double axisLength = std::sqrt(dotOf(axis, axis));
  if (axisLength == 0) {
    const long double c = std::cos(angle / 2);
    return {static_cast<double>(n[0] * c * c), static_cast<double>(n[1] * c * c),
            static_cast<double>(n[2] * c * c)};
  }
  // Turning by minus the angle about axis is turning toward the reference.
  const Long3 u = {axis[0] / axisLength, axis[1] / axisLength, axis[2] / axisLength};
  const long double c = std::cos(-angle);
  const long double s = std::sin(-angle);
  const Long3 uxn = crossOf(u, n);
  const long double along = dotOf(u, n) * (1 - c);
  Vec3 out{};
  for (int i = 0; i < 3; ++i) {
    out[i] = static_cast<double>(n[i] * c + uxn[i] * s + u[i] * along);
  }
  return out;
}

Vec3 expectedChain(const Vec3 &normal, std::span<const Stage> stages) {
  Vec3 n = normal;
  for (const Stage &stage : stages) {
    if (stage.weight != 0.0) n = expectedDrag(n, stage.reference, stage.weight);
  }
  return n;
}

double cosineBetween(const Vec3 &a, const Vec3 &b) {
  const Long3 x = widened(a);
  const Long3 y = widened(b);
  return static_cast<double>(dotOf(x, y) / std::sqrt(dotOf(x, x) * dotOf(y, y)));
}

}  // namespace kerrowbend_host
