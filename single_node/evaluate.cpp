// Shading one spot. Runs on many render threads at once: it reads the
// instance and the module-wide state and writes only its own temporaries
// and the output value. Whenever a piece is missing, the spot's normal is
// handed on unchanged.
#include "kernel/drag.h"
#include "module/host_services.h"
#include "module/scene_objects.h"
#include "module/shading.h"
#include "single_node/instance.h"

namespace kerrowbend {
namespace {

// A weight, or none when the named weight map cannot be sampled.
struct Weight {
  bool usable;
  double value;
};

// The weight map's value at the spot: the polygon's vertex values blended by
// their barycentric weights. Not usable when the mesh or the map is
// missing; points without a value in the map add nothing.
Weight sampleWeightMap(const char *mapName, const NodalAccess &na) {
  const ObjectInfo *objects = hostServices.objectInfo;
  if (objects == nullptr) return {false, 0.0};
  MeshInfo *mesh = objects->meshInfo(na.objId, MESH_INFO_FROZEN);
  if (mesh == nullptr) return {false, 0.0};

  const auto lookup = hostVersion.load(std::memory_order_relaxed) > MESH_LOOKUP_V1_LAST_HOST
                          ? mesh->vmapLookupV2
                          : mesh->vmapLookupV1;
  const VMapId map = lookup(mesh, VMAP_TYPE_WEIGHT, mapName);
  Weight weight{map != nullptr, 0.0};
  if (map != nullptr) {
    for (int i = 0; i < 4; ++i) {
      float value = 0.0F;
      if (na.verts[i] != nullptr && mesh->pointVMapValue(mesh, na.verts[i], &value, map) != 0) {
        // The product is formed in single precision, as the map stores it.
        const float share = value * na.weights[i];
        weight.value += share;
      }
    }
  }
  if (mesh->destroy != nullptr) mesh->destroy(mesh);
  return weight;
}

// The weight is settled before the reference, so a weight map that cannot
// be found passes the normal through even when the reference could be.
Weight settleWeight(const DragInstance &inst, NodalAccess &na) {
  const NodeInputFuncs &inputs = *hostServices.inputFuncs;
  if (inputs.check(inst.weightInput) != 0) {
    double w = 0.0;
    inputs.evaluate(inst.weightInput, &na, &w);
    return {true, w};
  }
  if (inst.weightMapName[0] == '\0') return {true, 1.0};
  return sampleWeightMap(inst.weightMapName, na);
}

// The reference direction: the input when plugged, else the forward axis of
// the reference object found at the last new time, at the current time.
bool settleReference(const DragInstance &inst, NodalAccess &na, double reference[3]) {
  const NodeInputFuncs &inputs = *hostServices.inputFuncs;
  if (inputs.check(inst.referenceInput) != 0) {
    inputs.evaluate(inst.referenceInput, &na, reference);
    return true;
  }
  const auto *time = static_cast<const TimeInfo *>(hostServices.global(TIME_INFO_SERVICE, 0));
  if (time == nullptr || hostServices.itemInfo == nullptr || inst.referenceItem == nullptr) {
    return false;
  }
  hostServices.itemInfo->param(inst.referenceItem, ITEM_PARAM_FORWARD, time->time, reference);
  return true;
}

Vector shade(const DragInstance &inst, NodalAccess &na) {
  const Vector normal = toVector(na.wNorm);
  if (!shadesSpotsOn(na.objId)) return normal;

  const Weight weight = settleWeight(inst, na);
  if (!weight.usable) return normal;

  double reference[3] = {0.0, 0.0, 0.0};
  if (!settleReference(inst, na, reference)) return normal;
  Vector r = toVector(reference);
  if (inst.invert != 0) r = -r;

  return dragNormal(normal, r, weight.value);
}

}  // namespace

extern "C" void evaluateDragInstance(void *instance, NodalAccess *na, OutputId /*output*/,
                                     NodeValue value) {
  const Vector result = shade(*static_cast<const DragInstance *>(instance), *na);
  setResult(value, result);
}

}  // namespace kerrowbend
