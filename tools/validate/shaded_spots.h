// Shading as the checks that compare World Normal see it: a scene with a
// painted object and an object to point with, nodes placed in it, random
// directions kept clear of the parallel cases, and evaluations that must
// set World Normal exactly once and come within a hair of the value
// expected, or hand the normal on unchanged.
#ifndef KERROWBEND_TOOLS_VALIDATE_SHADED_SPOTS_H
#define KERROWBEND_TOOLS_VALIDATE_SHADED_SPOTS_H

#include <array>
#include <memory>
#include <random>
#include <string>

#include "hostsim/vec3.h"
#include "tools/validate/support.h"

namespace kerrowbend_host {

using hostsim::Evaluation;
using hostsim::Vec3;

// Close enough for a double computation of the same formula; far below
// what any real fault moves.
inline constexpr double kTolerance = 1e-12;

inline constexpr const char *kMap = "Paint";
inline constexpr const char *kPointer = "Pointer";

// The shaded object, with four points painted in the weight map kMap (the
// fourth left unpainted), and kPointer, whose forward axis can be the
// reference.
struct KnownScene {
  ItemId shaded;
  std::array<PointId, 4> points;
  std::array<float, 3> paint;
  Vec3 pointerForward;
};

KnownScene buildScene(Host &host);

// A spot on the shaded object, with no vertices.
NodalAccess spotOn(const KnownScene &scene, const Vec3 &normal);

// A spot on the shaded object with barycentric weights drawn from random;
// by variant, some spots lack a vertex or two. weight is what sampling
// kMap must give: each painted vertex's value times its barycentric
// weight, as single floats, summed.
struct PaintedSpot {
  NodalAccess spot;
  double weight;
};
PaintedSpot paintedSpot(const KnownScene &scene, const Vec3 &normal, int variant,
                        std::mt19937 &random);

// A host of its own with the scene built and one node placed, its panel
// open.
struct PlacedNode {
  std::unique_ptr<Host> host;
  KnownScene scene;
  Node *node;
  const PanelRecord *panel;
};

PlacedNode placeInScene(const std::string &modulePath, const char *server);

// Random unit vectors, the same on every run; each pair drawn for a drag
// is kept clear of the parallel cases.
class Directions {
 public:
  Vec3 unit();
  // A unit vector at least some 25 degrees off other's line.
  Vec3 clearOf(const Vec3 &other);
  double weight() { return share_(random_); }

 private:
  std::mt19937 random_{1994};
  std::normal_distribution<double> gaussian_;
  std::uniform_real_distribution<double> share_{-1.5, 2.5};
};

std::string shownVec(const Vec3 &v);
// The cosine of the angle between two non-zero vectors, to keep inputs
// clear of the parallel cases.
double cosineBetween(const Vec3 &a, const Vec3 &b);
std::string weightText(double w);
Vec3 normalOf(const NodalAccess &spot);

// Each fails with which and the values unless evaluate set World Normal
// exactly once and it is within kTolerance of expected in every component,
// or, for expectUnchanged, exactly the spot's normal.
Evaluation evaluatedOnce(const std::string &which, const Node &node, const NodalAccess &spot);
void expectWorldNormal(const std::string &which, const Node &node, const NodalAccess &spot,
                       const Vec3 &expected);
void expectUnchanged(const std::string &which, const Node &node, const NodalAccess &spot);

}  // namespace kerrowbend_host

#endif
