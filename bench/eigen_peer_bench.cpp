// The drag as a user would write it with Eigen instead of calling the
// kernel, on the same inputs: once with an angle-axis rotation, once with
// the quaternion from the normal to the reference, slerped from identity by
// the weight. Built only where Eigen is found.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include <benchmark/benchmark.h>
#include <Eigen/Geometry>

#include "bench/drag_inputs.h"

namespace kerrowbend::bench {
namespace {

struct EigenInput {
  Eigen::Vector3d normal;
  Eigen::Vector3d reference;
  double weight;
};

const std::vector<EigenInput> &eigenInputs() {
  static const std::vector<EigenInput> inputs = [] {
    std::vector<EigenInput> out;
    out.reserve(kDragInputCount);
    for (const DragInput &in : dragInputs()) {
      out.push_back({{in.normal.x, in.normal.y, in.normal.z},
                     {in.reference.x, in.reference.y, in.reference.z},
                     in.weight});
    }
    return out;
  }();
  return inputs;
}

// Turns n toward r by weight times the angle between them: a turn about
// n x r by the weighted angle.
Eigen::Vector3d dragWithAngleAxis(const Eigen::Vector3d &n, const Eigen::Vector3d &r,
                                  double weight) {
  const Eigen::Vector3d unitR = r.normalized();
  const double angle = std::acos(std::clamp(n.dot(unitR), -1.0, 1.0)) * weight;
  return Eigen::AngleAxisd(angle, n.cross(unitR).normalized()) * n;
}

// The whole turn from n to r as a quaternion, and the weighted share of it
// by slerp from the identity.
Eigen::Vector3d dragWithSlerp(const Eigen::Vector3d &n, const Eigen::Vector3d &r, double weight) {
  const Eigen::Quaterniond whole = Eigen::Quaterniond::FromTwoVectors(n, r);
  return Eigen::Quaterniond::Identity().slerp(weight, whole) * n;
}

template <Eigen::Vector3d (*drag)(const Eigen::Vector3d &, const Eigen::Vector3d &, double)>
void runPeer(benchmark::State &state) {
  const std::vector<EigenInput> &inputs = eigenInputs();
  std::size_t i = 0;
  for (auto _ : state) {
    const EigenInput &in = inputs[i++ & (kDragInputCount - 1)];
    Eigen::Vector3d result = drag(in.normal, in.reference, in.weight);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_EigenAngleAxisDrag(benchmark::State &state) { runPeer<dragWithAngleAxis>(state); }
BENCHMARK(BM_EigenAngleAxisDrag);

void BM_EigenSlerpDrag(benchmark::State &state) { runPeer<dragWithSlerp>(state); }
BENCHMARK(BM_EigenSlerpDrag);

}  // namespace
}  // namespace kerrowbend::bench
