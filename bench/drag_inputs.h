// The inputs every drag benchmark turns: unit normals toward references of
// lengths from 0.1 to 10, with weights from -0.5 to 1.5. The drag and its
// peers cycle through the same table, so their times compare like for like.
#ifndef KERROWBEND_BENCH_DRAG_INPUTS_H
#define KERROWBEND_BENCH_DRAG_INPUTS_H

#include <cstddef>
#include <vector>

#include "kernel/vector.h"

namespace kerrowbend::bench {

// A power of two, so the index wraps with a mask; small enough to stay in
// the first-level cache.
constexpr std::size_t kDragInputCount = 1024;

struct DragInput {
  Vector normal;
  Vector reference;
  double weight;
};

const std::vector<DragInput> &dragInputs();

}  // namespace kerrowbend::bench

#endif
