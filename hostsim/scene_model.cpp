#include "hostsim/scene_model.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "hostsim/call_log.h"
#include "hostsim/host.h"

namespace hostsim {

// ---- weight maps and objects ----------------------------------------------

const MeshPoint *WeightMap::ownPoint(PointId point) const {
  const auto *p = reinterpret_cast<const MeshPoint *>(point);
  if (p == nullptr) return nullptr;
  for (const MeshPoint &own : object_->points_) {
    if (&own == p) return p;
  }
  return nullptr;
}

void WeightMap::set(PointId point, float value) {
  const MeshPoint *p = ownPoint(point);
  if (p == nullptr) {
    throw std::invalid_argument("weight map '" + name_ + "': not a point of its object");
  }
  if (values_.size() <= p->index) values_.resize(p->index + 1);
  values_[p->index] = value;
}

void WeightMap::clear(PointId point) {
  const MeshPoint *p = ownPoint(point);
  if (p != nullptr && p->index < values_.size()) values_[p->index].reset();
}

std::optional<float> WeightMap::value(PointId point) const {
  // Cheap check first: evaluation asks for every vertex of every spot.
  const auto *p = reinterpret_cast<const MeshPoint *>(point);
  if (p == nullptr || p->object != object_ || p->index >= values_.size()) return std::nullopt;
  return values_[p->index];
}

SceneObject::SceneObject(Scene *scene, std::string name)
    : scene_(scene), name_(std::make_unique<std::string>(std::move(name))) {}

void SceneObject::setForward(const Vec3 &direction) {
  forward_ = direction;
  forwardFunction_ = nullptr;
}

void SceneObject::setForward(ForwardFunction direction) { forwardFunction_ = std::move(direction); }

Vec3 SceneObject::forwardAt(double time) const {
  return forwardFunction_ ? forwardFunction_(time) : forward_;
}

PointId SceneObject::addPoint() {
  points_.push_back(MeshPoint{this, points_.size()});
  return reinterpret_cast<PointId>(&points_.back());
}

WeightMap &SceneObject::weightMap(std::string_view name) {
  for (WeightMap &map : maps_) {
    if (map.name_ == name) return map;
  }
  maps_.push_back(WeightMap(this, std::string(name)));
  scene_->refreshWeightMapNames();
  return maps_.back();
}

void SceneObject::setWeight(std::string_view map, PointId point, float value) {
  weightMap(map).set(point, value);
}

const WeightMap *SceneObject::findWeightMap(std::string_view name) const {
  for (const WeightMap &map : maps_) {
    if (map.name_ == name) return &map;
  }
  return nullptr;
}

// ---- the scene ------------------------------------------------------------

// The C entry points of the scene's tables. ItemInfo, SceneObjects and
// ObjectInfo carry no context, so they answer for the current host; a
// MeshInfo carries its object in priv.
struct SceneServices {
  static Scene *current() {
    Host *host = Host::current();
    return host != nullptr ? &host->scene() : nullptr;
  }

  static ItemId first(int itemType, ItemId parent) {
    Scene *scene = current();
    if (scene == nullptr) return nullptr;
    scene->log_.counters.itemFirst.fetch_add(1, std::memory_order_relaxed);
    scene->log_.record("item.first", itemType);
    // Objects are the only item type here, and they have no parent item.
    if (itemType != ITEM_TYPE_OBJECT || parent != nullptr || scene->order_.empty()) return nullptr;
    return scene->order_.front()->id();
  }

  static ItemId next(ItemId item) {
    Scene *scene = current();
    if (scene == nullptr) return nullptr;
    scene->log_.counters.itemNext.fetch_add(1, std::memory_order_relaxed);
    scene->log_.record("item.next");
    const SceneObject *object = scene->find(item);
    if (object == nullptr || object->position_ + 1 >= scene->order_.size()) return nullptr;
    return scene->order_[object->position_ + 1]->id();
  }

  static const char *name(ItemId item) {
    Scene *scene = current();
    if (scene == nullptr) return "";
    scene->log_.record("item.name");
    const SceneObject *object = scene->find(item);
    return object != nullptr ? object->name() : "";
  }

  static void param(ItemId item, int param, double time, double out[3]) {
    Scene *scene = current();
    if (scene == nullptr || out == nullptr) return;
    scene->log_.record("item.param", param);
    const SceneObject *object = scene->find(item);
    const Vec3 value = (object != nullptr && param == ITEM_PARAM_FORWARD) ? object->forwardAt(time)
                                                                          : Vec3{0.0, 0.0, 0.0};
    std::copy(value.begin(), value.end(), out);
  }

  static int numVMaps(uint32_t vmapType) {
    Scene *scene = current();
    if (scene == nullptr) return 0;
    scene->log_.record("scene.numVMaps");
    if (vmapType != VMAP_TYPE_WEIGHT) return 0;
    return scene->mapCountAnswer_.value_or(static_cast<int>(scene->mapNames_.size()));
  }

  static const char *vmapName(uint32_t vmapType, int index) {
    Scene *scene = current();
    if (scene == nullptr) return nullptr;
    scene->log_.record("scene.vmapName", index);
    if (vmapType != VMAP_TYPE_WEIGHT || index < 0 ||
        static_cast<std::size_t>(index) >= scene->mapNames_.size()) {
      return nullptr;
    }
    return scene->mapNames_[static_cast<std::size_t>(index)];
  }

  static MeshInfo *meshInfo(ItemId item, int frozen) {
    Scene *scene = current();
    if (scene == nullptr) return nullptr;
    scene->log_.record("object.meshInfo", frozen);
    SceneObject *object = scene->find(item);
    if (object == nullptr || scene->meshInfoRefused_) return nullptr;
    scene->log_.counters.meshInfoObtained.fetch_add(1, std::memory_order_relaxed);
    return scene->meshReleaseAvailable_ ? &object->meshWithRelease_ : &object->meshWithoutRelease_;
  }

  static const SceneObject *owner(MeshInfo *mesh) {
    return mesh != nullptr ? static_cast<const SceneObject *>(mesh->priv) : nullptr;
  }

  static void releaseMesh(MeshInfo *mesh) {
    const SceneObject *object = owner(mesh);
    if (object == nullptr) return;
    object->scene_->log_.counters.meshReleased.fetch_add(1, std::memory_order_relaxed);
    object->scene_->log_.record("mesh.destroy");
  }

  static VMapId lookup(const SceneObject *object, uint32_t vmapType, const char *name) {
    if (vmapType != VMAP_TYPE_WEIGHT || name == nullptr) return nullptr;
    for (const WeightMap &map : object->maps_) {
      if (std::strcmp(map.name_.c_str(), name) == 0) {
        return reinterpret_cast<VMapId>(const_cast<WeightMap *>(&map));
      }
    }
    return nullptr;
  }

  static VMapId lookupV1(MeshInfo *mesh, uint32_t vmapType, const char *name) {
    const SceneObject *object = owner(mesh);
    if (object == nullptr) return nullptr;
    object->scene_->log_.counters.vmapLookupV1.fetch_add(1, std::memory_order_relaxed);
    object->scene_->log_.record("mesh.lookupV1", name != nullptr ? name : "(null)");
    return lookup(object, vmapType, name);
  }

  static VMapId lookupV2(MeshInfo *mesh, uint32_t vmapType, const char *name) {
    const SceneObject *object = owner(mesh);
    if (object == nullptr) return nullptr;
    object->scene_->log_.counters.vmapLookupV2.fetch_add(1, std::memory_order_relaxed);
    object->scene_->log_.record("mesh.lookupV2", name != nullptr ? name : "(null)");
    return lookup(object, vmapType, name);
  }

  static int pointValue(MeshInfo *mesh, PointId point, float *value, VMapId vmap) {
    const SceneObject *object = owner(mesh);
    if (object == nullptr) return 0;
    object->scene_->log_.record("mesh.pointValue");
    if (point == nullptr) object->scene_->nullPointQueries_.fetch_add(1, std::memory_order_relaxed);
    const auto *map = reinterpret_cast<const WeightMap *>(vmap);
    if (map == nullptr || map->object_ != object) return 0;
    const std::optional<float> found = map->value(point);
    if (!found) return 0;
    if (value != nullptr) *value = *found;
    return 1;
  }
};

Scene::Scene(CallLog &log) : log_(log) {
  itemInfo_ = ItemInfo{&SceneServices::first, &SceneServices::next, &SceneServices::name,
                       &SceneServices::param};
  sceneObjects_ = SceneObjects{&SceneServices::numVMaps, &SceneServices::vmapName};
  objectInfo_ = ObjectInfo{&SceneServices::meshInfo};
}

SceneObject &Scene::addObject(std::string_view name) {
  all_.push_back(std::unique_ptr<SceneObject>(new SceneObject(this, std::string(name))));
  SceneObject *object = all_.back().get();
  known_.insert(object);
  object->position_ = order_.size();
  order_.push_back(object);
  object->meshWithRelease_ = MeshInfo{object, &SceneServices::releaseMesh, &SceneServices::lookupV1,
                                      &SceneServices::pointValue, &SceneServices::lookupV2};
  object->meshWithoutRelease_ = object->meshWithRelease_;
  object->meshWithoutRelease_.destroy = nullptr;
  return *object;
}

SceneObject *Scene::find(ItemId item) const {
  // Never dereference a handle the scene did not make: a test may hand the
  // module any pointer as the shaded object.
  const auto *candidate = reinterpret_cast<const SceneObject *>(item);
  if (candidate == nullptr || known_.find(candidate) == known_.end()) return nullptr;
  return candidate->removed_ ? nullptr : const_cast<SceneObject *>(candidate);
}

SceneObject *Scene::findByName(std::string_view name) const {
  for (SceneObject *object : order_) {
    if (name == object->name()) return object;
  }
  return nullptr;
}

void Scene::rename(SceneObject &object, std::string_view name) {
  retiredNames_.push_back(std::move(object.name_));
  object.name_ = std::make_unique<std::string>(name);
}

void Scene::remove(SceneObject &object) {
  if (object.removed_ || object.scene_ != this) return;
  object.removed_ = true;
  order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(object.position_));
  for (std::size_t i = object.position_; i < order_.size(); ++i) order_[i]->position_ = i;
  refreshWeightMapNames();
}

void Scene::setWeightMapNames(std::vector<std::string> names) {
  explicitMapNames_ = true;
  explicitNames_ = std::move(names);
  refreshWeightMapNames();
}

void Scene::useDerivedWeightMapNames() {
  explicitMapNames_ = false;
  refreshWeightMapNames();
}

std::vector<std::string> Scene::weightMapNames() const {
  return std::vector<std::string>(mapNames_.begin(), mapNames_.end());
}

void Scene::refreshWeightMapNames() {
  std::vector<const char *> names;
  if (explicitMapNames_) {
    for (const std::string &name : explicitNames_) names.push_back(keepText(name));
  } else {
    for (const SceneObject *object : order_) {
      for (const WeightMap &map : object->maps_) {
        const char *text = keepText(map.name());
        if (std::find(names.begin(), names.end(), text) == names.end()) names.push_back(text);
      }
    }
  }
  mapNames_ = std::move(names);
}

const char *Scene::keepText(std::string_view text) {
  for (const auto &kept : keptTexts_) {
    if (*kept == text) return kept->c_str();
  }
  keptTexts_.push_back(std::make_unique<std::string>(text));
  return keptTexts_.back()->c_str();
}

}  // namespace hostsim
