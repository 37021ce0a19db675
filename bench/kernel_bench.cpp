// Cost of one drag, beside the cost of the libm calls it cannot avoid on the
// same inputs: the square root of the reference's length, acos of the
// cosine it gives, one sincos of the weighted half angle, and the square
// root of the axis length. The first three form a chain, each waiting for
// the one before, as they do in the drag; the last stands apart, as in the
// drag, where it runs while acos does. The ratio of drag to floor shows
// what the vector arithmetic adds.
#include <cmath>
#include <cstddef>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/drag_inputs.h"
#include "kernel/drag.h"
#include "kernel/vector.h"

namespace kerrowbend::bench {
namespace {

// The arguments the drag hands its libm calls for one input, before the
// chain: the reference's squared length, the dot product of normal and
// (unnormalised) reference, and the squared length of the axis.
struct FloorArguments {
  double referenceLengthSquared;
  double normalDotReference;
  double weight;
  double axisLengthSquared;
};

const std::vector<FloorArguments> &floorArguments() {
  static const std::vector<FloorArguments> arguments = [] {
    std::vector<FloorArguments> out;
    out.reserve(kDragInputCount);
    for (const DragInput &in : dragInputs()) {
      const Vector axis = cross(normalized(in.reference), in.normal);
      out.push_back({dot(in.reference, in.reference), dot(in.normal, in.reference), in.weight,
                     dot(axis, axis)});
    }
    return out;
  }();
  return arguments;
}

void BM_DragNormal(benchmark::State &state) {
  const std::vector<DragInput> &inputs = dragInputs();
  std::size_t i = 0;
  for (auto _ : state) {
    const DragInput &in = inputs[i++ & (kDragInputCount - 1)];
    Vector result = dragNormal(in.normal, in.reference, in.weight);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DragNormal);

void BM_DragNormalTranscendentalFloor(benchmark::State &state) {
  const std::vector<FloorArguments> &arguments = floorArguments();
  std::size_t i = 0;
  for (auto _ : state) {
    const FloorArguments &in = arguments[i++ & (kDragInputCount - 1)];
    const double referenceLength = std::sqrt(in.referenceLengthSquared);
    const double half = safeAcos(in.normalDotReference / referenceLength) * (0.5 * in.weight);
    // Taken of the same argument, the two become one sincos call.
    double c = std::cos(half);
    double s = std::sin(half);
    double axisLength = std::sqrt(in.axisLengthSquared);
    benchmark::DoNotOptimize(c);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(axisLength);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DragNormalTranscendentalFloor);

}  // namespace
}  // namespace kerrowbend::bench
