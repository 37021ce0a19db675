// The drag a module must compute, worked out apart from any module: the
// normal turned about the unit axis along reference x normal by minus the
// weighted angle (Rodrigues' formula, in long double), which is what the
// quaternion sandwich of the contract gives. Where that axis is zero (a
// reference equal or opposite to the normal, or a zero reference) the
// sandwich only scales the normal, by cos^2 of half the angle, and so does
// this.
//
// Only inputs well clear of the parallel cases may be compared closely: near
// them acos magnifies the last bit of the dot product, and the contract
// leaves the clamping of that dot product to each module.
#ifndef KERROWBEND_TOOLS_VALIDATE_EXPECTED_DRAG_H
#define KERROWBEND_TOOLS_VALIDATE_EXPECTED_DRAG_H

#include <array>
#include <span>

namespace kerrowbend_host {

using Vec3 = std::array<double, 3>;

Vec3 expectedDrag(const Vec3 &normal, const Vec3 &reference, double weight);

// A reference and a weight, one stage of the multi node.
struct Stage {
  Vec3 reference;
  double weight;
};

// The stages applied one after another in the order given. Stages with
// weight 0 leave the normal as it is, as a skipped stage does.
Vec3 expectedChain(const Vec3 &normal, std::span<const Stage> stages);

// The cosine of the angle between two non-zero vectors, to keep inputs
// clear of the parallel cases.
double cosineBetween(const Vec3 &a, const Vec3 &b);

}  // namespace kerrowbend_host

#endif
