// A direction or normal in world space, and the few operations the drag
// needs. Plain value type: three doubles, trivially copyable, no allocation.
#ifndef KERROWBEND_KERNEL_VECTOR_H
#define KERROWBEND_KERNEL_VECTOR_H

#include <algorithm>
#include <cmath>
#include <limits>

namespace kerrowbend {

struct Vector {
  double x;
  double y;
  double z;
};

inline Vector operator+(Vector a, Vector b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }

inline Vector operator-(Vector a, Vector b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

inline Vector operator-(Vector v) { return {-v.x, -v.y, -v.z}; }

inline Vector operator*(double s, Vector v) { return {s * v.x, s * v.y, s * v.z}; }

inline Vector operator/(Vector v, double s) { return {v.x / s, v.y / s, v.z / s}; }

inline double dot(Vector a, Vector b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline Vector cross(Vector a, Vector b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline double length(Vector v) { return std::sqrt(dot(v, v)); }

// Unit copy of v. A zero vector stays zero rather than turning into NaN, so a
// zero reference or axis keeps its meaning; a vector with a NaN or infinite
// component has no direction and comes back with a NaN in it.
//
// Any other length, however far from 1, gives v's direction: where the sum
// of squares would overflow, or would fall among the subnormals and lose
// bits, v is first brought to a largest component near 1 by a power of two.
// That scaling is exact, so the direction is the one of an ordinary vector.
inline Vector normalized(Vector v) {
  double lengthSquared = dot(v, v);
  if (!std::isnormal(lengthSquared)) [[unlikely]] {
    const double largest = std::max({std::abs(v.x), std::abs(v.y), std::abs(v.z)});
    if (largest > 0.0 && largest <= std::numeric_limits<double>::max()) {
      int exponent = 0;
      std::frexp(largest, &exponent);
      v = {std::ldexp(v.x, -exponent), std::ldexp(v.y, -exponent), std::ldexp(v.z, -exponent)};
      lengthSquared = dot(v, v);
    }
  }
  const double len = std::sqrt(lengthSquared);
  return len > 0.0 ? v / len : v;
}

// acos with its argument clamped to [-1, 1]: a dot product of unit vectors
// that rounds a hair past 1 must give angle 0, not NaN.
// A NaN argument stays NaN.
inline double safeAcos(double x) { return std::acos(std::clamp(x, -1.0, 1.0)); }

}  // namespace kerrowbend

#endif
