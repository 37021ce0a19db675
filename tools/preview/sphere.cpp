#include "tools/preview/sphere.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kerrowbend_host {

namespace {

// Rings of points from the top pole (ring 0) to the bottom one, and points
// per ring around the vertical axis. Fine enough that the bilinear
// weights follow the painted values smoothly across the sphere.
constexpr int kRings = 24;
constexpr int kSegments = 48;
constexpr double kPi = std::numbers::pi;

// Latitude 30 degrees: sin 30 = 0.5.
constexpr double kCapFromHeight = 0.5;

}  // namespace

const std::vector<std::string> &SphereMesh::mapNames() {
  static const std::vector<std::string> names{"Gradient", "Cap"};
  return names;
}

SphereMesh::SphereMesh(hostsim::SceneObject &object) : object_(object.id()) {
  points_.reserve(static_cast<std::size_t>(kRings + 1) * kSegments);
  hostsim::WeightMap &gradient = object.weightMap("Gradient");
  hostsim::WeightMap &cap = object.weightMap("Cap");
  for (int ring = 0; ring <= kRings; ++ring) {
    const double height = std::cos(kPi * ring / kRings);
    for (int segment = 0; segment < kSegments; ++segment) {
      const PointId id = object.addPoint();
      points_.push_back(id);
      gradient.set(id, static_cast<float>((height + 1.0) / 2.0));
      if (height >= kCapFromHeight - 1e-9) cap.set(id, 1.0F);
    }
  }
}

PointId SphereMesh::point(int ring, int segment) const {
  return points_[static_cast<std::size_t>(ring) * kSegments + segment % kSegments];
}

NodalAccess SphereMesh::spotAt(const hostsim::Vec3 &normal) const {
  NodalAccess spot{};
  std::copy(normal.begin(), normal.end(), spot.wNorm);
  spot.objId = object_;
  // Polar angle from the top and azimuth around the vertical axis, as
  // shares of the grid.
  const double polar = std::acos(std::clamp(normal[1], -1.0, 1.0)) / kPi * kRings;
  double around = std::atan2(normal[0], normal[2]) / (2.0 * kPi);
  if (around < 0.0) around += 1.0;
  around *= kSegments;
  const int ring = std::clamp(static_cast<int>(polar), 0, kRings - 1);
  const int segment = std::clamp(static_cast<int>(around), 0, kSegments - 1);
  const auto down = static_cast<float>(std::clamp(polar - ring, 0.0, 1.0));
  const auto across = static_cast<float>(std::clamp(around - segment, 0.0, 1.0));
  spot.verts[0] = point(ring, segment);
  spot.verts[1] = point(ring, segment + 1);
  spot.verts[2] = point(ring + 1, segment + 1);
  spot.verts[3] = point(ring + 1, segment);
  spot.weights[0] = (1.0F - across) * (1.0F - down);
  spot.weights[1] = across * (1.0F - down);
  spot.weights[2] = across * down;
  spot.weights[3] = (1.0F - across) * down;
  return spot;
}

}  // namespace kerrowbend_host
