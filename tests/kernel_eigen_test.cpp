// The drag beside the same turn written independently with Eigen: an
// angle-axis rotation about normal x reference by the weighted angle. Only
// the zero axis, where the drag scales instead of turning, is left out.
#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

#include <gtest/gtest.h>
#include <Eigen/Geometry>

#include "kernel/drag.h"
#include "kernel/vector.h"

namespace kerrowbend {
namespace {

Eigen::Vector3d toEigen(Vector v) { return {v.x, v.y, v.z}; }

Eigen::Vector3d eigenDrag(const Eigen::Vector3d &n, const Eigen::Vector3d &r, double weight) {
  const Eigen::Vector3d unitR = r.normalized();
  const double angle = std::acos(std::clamp(n.dot(unitR), -1.0, 1.0)) * weight;
  return Eigen::AngleAxisd(angle, n.cross(unitR).normalized()) * n;
}

// Unoptimised sanitizer builds run Eigen many times slower and draw fewer
// cases.
#ifdef KERROWBEND_FEWER_RANDOM_CASES
constexpr int kCases = 20000;
#else
constexpr int kCases = 200000;
#endif

TEST(DragNormal, AgreesWithEigenAngleAxisTurn) {
  std::mt19937_64 rng(0x656967656eULL);
  std::normal_distribution<double> gauss;
  std::uniform_real_distribution<double> logLength(-3.0, 3.0);
  std::uniform_real_distribution<double> weight(-1.5, 2.5);
  std::uniform_real_distribution<double> logNearness(-15.0, 0.0);
  double worstError = 0.0;
  for (int i = 0; i < kCases; ++i) {
    const Eigen::Vector3d n = Eigen::Vector3d(gauss(rng), gauss(rng), gauss(rng)).normalized();
    Eigen::Vector3d r(gauss(rng), gauss(rng), gauss(rng));
    // Every other reference lies close to the normal.
    if (i % 2 == 0) r = n + std::pow(10.0, logNearness(rng)) * r.normalized();
    r *= std::pow(10.0, logLength(rng));
    const double w = weight(rng);
    if (n.cross(r.normalized()).squaredNorm() == 0.0) continue;
    const Vector got = dragNormal({n.x(), n.y(), n.z()}, {r.x(), r.y(), r.z()}, w);
    const double error = (toEigen(got) - eigenDrag(n, r, w)).norm();
    worstError = std::max(worstError, error);
    ASSERT_LE(error, 1e-12) << "N = " << n.transpose() << ", R = " << r.transpose()
                            << ", weight = " << w;
  }
  std::ostringstream worst;
  worst << std::scientific << worstError;
  RecordProperty("worst_error", worst.str());
}

}  // namespace
}  // namespace kerrowbend
