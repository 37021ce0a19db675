// A direction or normal in world space, and the few operations the drag
// needs. Plain value type: three doubles, trivially copyable, no allocation.
#ifndef KERROWBEND_KERNEL_VECTOR_H
#define KERROWBEND_KERNEL_VECTOR_H

#include <algorithm>
#include <cmath>

namespace kerrowbend {

struct Vector {
  double x;
  double y;
  double z;
};

inline double dot(Vector a, Vector b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline Vector cross(Vector a, Vector b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline double length(Vector v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

inline Vector operator/(Vector v, double s) { return {v.x / s, v.y / s, v.z / s}; }

inline Vector operator-(Vector v) { return {-v.x, -v.y, -v.z}; }

// Unit copy of v; a zero (or not-a-number) length leaves v as it is, so a
// zero reference or axis stays zero instead of turning into NaN.
inline Vector normalizedOrUnchanged(Vector v) {
  const double len = length(v);
  return len > 0.0 ? v / len : v;
}

// acos with its argument clamped to [-1, 1]: a dot product of unit vectors
// that rounds a hair past 1 must give angle 0, not NaN.
// A NaN argument stays NaN.
inline double safeAcos(double x) { return std::acos(std::clamp(x, -1.0, 1.0)); }

}  // namespace kerrowbend

#endif
