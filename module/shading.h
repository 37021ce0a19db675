// What both nodes' shading shares at the edges of the drag: the spot's
// vectors as the kernel takes them, and the result handed to the host.
#ifndef KERROWBEND_MODULE_SHADING_H
#define KERROWBEND_MODULE_SHADING_H

#include "host/node_io.h"
#include "host/types.h"
#include "kernel/vector.h"
#include "module/host_services.h"

namespace kerrowbend {

// A vector as the host's records and input values carry it.
inline Vector toVector(const double v[3]) { return {v[0], v[1], v[2]}; }

// Hands the node's one output value, result, to the host for this spot.
inline void setResult(NodeValue value, Vector result) {
  double out[3] = {result.x, result.y, result.z};
  hostServices.outputFuncs->setValue(value, out);
}

}  // namespace kerrowbend

#endif
