#include "bench/drag_inputs.h"

#include <random>

namespace kerrowbend::bench {

const std::vector<DragInput> &dragInputs() {
  static const std::vector<DragInput> inputs = [] {
    std::mt19937_64 rng(42);
    std::normal_distribution<double> gauss;
    std::uniform_real_distribution<double> referenceScale(0.1, 10.0);
    std::uniform_real_distribution<double> weight(-0.5, 1.5);
    auto direction = [&] { return normalized({gauss(rng), gauss(rng), gauss(rng)}); };
    std::vector<DragInput> out(kDragInputCount);
    for (DragInput &in : out) {
      in.normal = direction();
      const Vector unitReference = direction();
      const double scale = referenceScale(rng);
      in.reference = {unitReference.x * scale, unitReference.y * scale, unitReference.z * scale};
      in.weight = weight(rng);
    }
    return out;
  }();
  return inputs;
}

}  // namespace kerrowbend::bench
