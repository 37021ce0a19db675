// Cost of one drag, beside the cost of the libm calls it cannot avoid (two
// square roots, acos, sin, cos) on the same inputs. The ratio of the two
// shows how much the quaternion arithmetic adds on top of that floor.
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "kernel/drag.h"
#include "kernel/vector.h"

namespace kerrowbend {
namespace {

constexpr std::size_t kInputCount = 1024;  // a power of two, so the index wraps with a mask

struct DragInput {
  Vector normal;
  Vector reference;
  double weight;
  // The arguments dragNormal hands to its transcendental calls for this input.
  double referenceLengthSquared;
  double cosine;
  double halfAngle;
  double axisLengthSquared;
};

const std::vector<DragInput> &dragInputs() {
  static const std::vector<DragInput> inputs = [] {
    std::mt19937_64 rng(42);
    std::normal_distribution<double> gauss;
    std::uniform_real_distribution<double> referenceScale(0.1, 10.0);
    std::uniform_real_distribution<double> weight(-0.5, 1.5);
    auto direction = [&] { return normalizedOrUnchanged({gauss(rng), gauss(rng), gauss(rng)}); };
    std::vector<DragInput> out(kInputCount);
    for (DragInput &in : out) {
      in.normal = direction();
      const Vector unitReference = direction();
      const double scale = referenceScale(rng);
      in.reference = {unitReference.x * scale, unitReference.y * scale, unitReference.z * scale};
      in.weight = weight(rng);
      in.referenceLengthSquared = dot(in.reference, in.reference);
      const Vector r = normalizedOrUnchanged(in.reference);
      in.cosine = dot(in.normal, r);
      in.halfAngle = safeAcos(in.cosine) * in.weight * 0.5;
      const Vector axis = cross(r, in.normal);
      in.axisLengthSquared = dot(axis, axis);
    }
    return out;
  }();
  return inputs;
}

void BM_DragNormal(benchmark::State &state) {
  const std::vector<DragInput> &inputs = dragInputs();
  std::size_t i = 0;
  for (auto _ : state) {
    const DragInput &in = inputs[i++ & (kInputCount - 1)];
    Vector result = dragNormal(in.normal, in.reference, in.weight);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DragNormal);

void BM_DragNormalTranscendentalFloor(benchmark::State &state) {
  const std::vector<DragInput> &inputs = dragInputs();
  std::size_t i = 0;
  for (auto _ : state) {
    const DragInput &in = inputs[i++ & (kInputCount - 1)];
    double referenceLength = std::sqrt(in.referenceLengthSquared);
    double angle = safeAcos(in.cosine);
    double s = std::sin(in.halfAngle);
    double c = std::cos(in.halfAngle);
    double axisLength = std::sqrt(in.axisLengthSquared);
    benchmark::DoNotOptimize(referenceLength);
    benchmark::DoNotOptimize(angle);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(c);
    benchmark::DoNotOptimize(axisLength);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DragNormalTranscendentalFloor);

}  // namespace
}  // namespace kerrowbend
