// Shading as the checks that compare World Normal see it; see
// shaded_spots.h.
#include "tools/validate/shaded_spots.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "hostsim/scene_model.h"

namespace kerrowbend_host {

std::string shownVec(const Vec3 &v) {
  char text[120];
  std::snprintf(text, sizeof text, "(%.15g, %.15g, %.15g)", v[0], v[1], v[2]);
  return text;
}

double cosineBetween(const Vec3 &a, const Vec3 &b) {
  return hostsim::dot(a, b) / std::sqrt(hostsim::dot(a, a) * hostsim::dot(b, b));
}

Vec3 normalOf(const NodalAccess &spot) { return {spot.wNorm[0], spot.wNorm[1], spot.wNorm[2]}; }

Evaluation evaluatedOnce(const std::string &which, const Node &node, const NodalAccess &spot) {
  const Evaluation result = node.evaluate(spot);
  if (!result.setOnce()) {
    fail(which + ": expected evaluate to set World Normal exactly once for the normal " +
         shownVec(normalOf(spot)) + ", but it set it " + std::to_string(result.setValueCalls) +
         " times");
  }
  return result;
}

void expectWorldNormal(const std::string &which, const Node &node, const NodalAccess &spot,
                       const Vec3 &expected) {
  const Evaluation result = evaluatedOnce(which, node, spot);
  for (std::size_t i = 0; i < 3; ++i) {
    // Written so that NaN fails too.
    if (!(std::fabs(result.value[i] - expected[i]) <= kTolerance)) {
      fail(which + ": expected World Normal " + shownVec(expected) + " for the normal " +
           shownVec(normalOf(spot)) + ", but it came " + shownVec(result.value));
    }
  }
}

void expectUnchanged(const std::string &which, const Node &node, const NodalAccess &spot) {
  const Evaluation result = evaluatedOnce(which, node, spot);
  if (result.value != normalOf(spot)) {
    fail(which + ": expected the normal " + shownVec(normalOf(spot)) +
         " handed on unchanged, but World Normal came " + shownVec(result.value));
  }
}

std::string weightText(double w) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", w);
  return text;
}

KnownScene buildScene(Host &host) {
  hostsim::SceneObject &sphere = host.scene().addObject("Sphere");
  KnownScene scene{sphere.id(), {}, {0.2F, 0.55F, 0.9F}, {0.3, -0.5, 0.8}};
  for (std::size_t i = 0; i < scene.points.size(); ++i) {
    scene.points[i] = sphere.addPoint();
    if (i < scene.paint.size()) sphere.setWeight(kMap, scene.points[i], scene.paint[i]);
  }
  host.scene().addObject(kPointer).setForward(scene.pointerForward);
  return scene;
}

NodalAccess spotOn(const KnownScene &scene, const Vec3 &normal) {
  return hostsim::makeSpot(normal, scene.shaded);
}

PaintedSpot paintedSpot(const KnownScene &scene, const Vec3 &normal, int variant,
                        std::mt19937 &random) {
  std::uniform_real_distribution<float> share(0.0F, 1.0F);
  PaintedSpot painted{spotOn(scene, normal), 0.0};
  for (std::size_t k = 0; k < scene.points.size(); ++k) {
    const bool missing = (k == 1 && variant % 3 == 1) || (k == 0 && variant % 4 == 2);
    painted.spot.verts[k] = missing ? nullptr : scene.points[k];
    painted.spot.weights[k] = share(random);
    if (!missing && k < scene.paint.size()) {
      painted.weight += scene.paint[k] * painted.spot.weights[k];
    }
  }
  return painted;
}

Vec3 Directions::unit() {
  for (;;) {
    const Vec3 v{gaussian_(random_), gaussian_(random_), gaussian_(random_)};
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length > 1e-3) return hostsim::scaled(v, 1.0 / length);
  }
}

Vec3 Directions::clearOf(const Vec3 &other) {
  for (;;) {
    const Vec3 v = unit();
    if (std::fabs(cosineBetween(v, other)) < 0.9) return v;
  }
}

PlacedNode placeInScene(const std::string &modulePath, const char *server) {
  PlacedNode placed{openHost(modulePath), {}, nullptr, nullptr};
  placed.scene = buildScene(*placed.host);
  placed.node = &placeNode(*placed.host, server);
  placed.panel = &openPanel(*placed.host, *placed.node);
  return placed;
}

}  // namespace kerrowbend_host
