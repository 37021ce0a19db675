// Arithmetic on the simulated host's three-component vectors that more
// than one of the tool's commands needs.
#ifndef KERROWBEND_TOOLS_PREVIEW_VEC3_H
#define KERROWBEND_TOOLS_PREVIEW_VEC3_H

#include "hostsim/scene.h"

namespace kerrowbend_host {

using Vec3 = hostsim::Vec3;

inline Vec3 negated(const Vec3 &v) { return {-v[0], -v[1], -v[2]}; }
inline Vec3 scaled(const Vec3 &v, double s) { return {v[0] * s, v[1] * s, v[2] * s}; }

}  // namespace kerrowbend_host

#endif
