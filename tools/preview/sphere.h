// The preview sphere as a mesh of the simulated scene: a latitude-longitude
// grid of points on the unit sphere, weight maps painted on those points,
// and the shaded spot a host would hand a node at any point of the sphere.
#ifndef KERROWBEND_TOOLS_PREVIEW_SPHERE_H
#define KERROWBEND_TOOLS_PREVIEW_SPHERE_H

#include <string>
#include <vector>

#include "host/handler.h"
#include "hostsim/scene_model.h"

namespace kerrowbend_host {

class SphereMesh {
 public:
  // The names of the painted weight maps:
  //   "Gradient"  1 at the top falling evenly with height to 0 at the bottom;
  //   "Cap"       1 on the points above 30 degrees of latitude, the others
  //               left unpainted (so they weigh 0).
  static const std::vector<std::string> &mapNames();

  // Adds the grid's points to object and paints the maps on them. The
  // object and its points must outlive the mesh.
  explicit SphereMesh(hostsim::SceneObject &object);

  // The spot at the point of the sphere whose unit normal this is (the
  // sphere sits at the origin, so the point and its normal coincide): the
  // normal, the sphere's item, and the four corners of the grid quad
  // holding the point with their bilinear weights. [thread-safe]
  NodalAccess spotAt(const hostsim::Vec3 &normal) const;

 private:
  PointId point(int ring, int segment) const;

  ItemId object_;
  std::vector<PointId> points_;  // ring by ring from the top, segment by segment
};

}  // namespace kerrowbend_host

#endif
