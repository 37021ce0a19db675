// The simulated scene: object items in host order, their forward directions,
// their meshes with points and weight maps, and the current time; plus the
// service tables that show it to the module ("LW Item Info", "Scene
// Objects", "LW Object Info" with its MeshInfo, "LW Time Info").
//
// The scene is changed only from the test's own thread, between
// evaluations; the module reads it from many threads at once, so every read
// path is lock-free and allocation-free, and everything the module may hold
// a pointer to (items, points, maps, name texts) keeps its address until
// the Host is destroyed. A removed object or an old name therefore stays in
// memory, merely unlinked from the scene.
#ifndef KERROWBEND_HOSTSIM_SCENE_MODEL_H
#define KERROWBEND_HOSTSIM_SCENE_MODEL_H

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "host/scene.h"
#include "hostsim/vec3.h"

namespace hostsim {

class CallLog;
class Scene;
struct SceneServices;
class SceneObject;

// The forward axis of a new object.
inline constexpr Vec3 kDefaultForward{0.0, 0.0, 1.0};

// One point of a mesh; its address is the PointId handed to the module.
struct MeshPoint {
  const SceneObject *object;
  std::size_t index;
};

// A named weight map: a value for some of its object's points. Its address
// is the VMapId handed to the module.
class WeightMap {
 public:
  const std::string &name() const { return name_; }
  void set(PointId point, float value);
  void clear(PointId point);
  std::optional<float> value(PointId point) const;

 private:
  friend class SceneObject;
  friend struct SceneServices;
  WeightMap(const SceneObject *object, std::string name)
      : object_(object), name_(std::move(name)) {}
  const MeshPoint *ownPoint(PointId point) const;

  const SceneObject *object_;
  std::string name_;
  std::vector<std::optional<float>> values_;  // by point index
};

class SceneObject {
 public:
  using ForwardFunction = std::function<Vec3(double time)>;

  ItemId id() const { return reinterpret_cast<ItemId>(const_cast<SceneObject *>(this)); }
  const char *name() const { return name_->c_str(); }
  bool removed() const { return removed_; }

  // The direction given by ItemInfo::param 4 (forward, +Z); default
  // kDefaultForward.
  void setForward(const Vec3 &direction);
  void setForward(ForwardFunction direction);
  Vec3 forwardAt(double time) const;

  PointId addPoint();
  std::size_t pointCount() const { return points_.size(); }
  // The map of that name, made (with no values) when the object has none.
  WeightMap &weightMap(std::string_view name);
  // Shorthand for weightMap(map).set(point, value).
  void setWeight(std::string_view map, PointId point, float value);
  const WeightMap *findWeightMap(std::string_view name) const;
  const std::deque<WeightMap> &weightMaps() const { return maps_; }

 private:
  friend class Scene;
  friend class WeightMap;
  friend struct SceneServices;
  SceneObject(Scene *scene, std::string name);

  Scene *scene_;
  std::unique_ptr<std::string> name_;
  bool removed_ = false;
  std::size_t position_ = 0;  // index in the scene's object order while not removed
  Vec3 forward_ = kDefaultForward;
  ForwardFunction forwardFunction_;
  std::deque<MeshPoint> points_;
  std::deque<WeightMap> maps_;
  // The two views ObjectInfo::meshInfo can hand out: with and without a
  // release entry. Fixed per object so that concurrent callers share them
  // without anyone writing.
  MeshInfo meshWithRelease_{};
  MeshInfo meshWithoutRelease_{};
};

class Scene {
 public:
  explicit Scene(CallLog &log);
  Scene(const Scene &) = delete;
  Scene &operator=(const Scene &) = delete;

  // Appends an object to the host's object order.
  SceneObject &addObject(std::string_view name);
  // Objects in host order.
  const std::vector<SceneObject *> &objects() const { return order_; }
  SceneObject *find(ItemId item) const;
  SceneObject *findByName(std::string_view name) const;
  // The old name text stays valid: a module may still hold it.
  void rename(SceneObject &object, std::string_view name);
  // Unlinks the object: walks, lookups and meshInfo no longer see it. Its
  // ItemId stays a harmless handle (param writes zeros, name gives "").
  void remove(SceneObject &object);

  // "Scene Objects": by default the distinct weight-map names over all
  // objects in order of first appearance; an explicit list replaces that
  // until useDerivedWeightMapNames(). vmapName answers null for an index
  // outside [0, count) and for any map type other than 'WGHT'.
  void setWeightMapNames(std::vector<std::string> names);
  void useDerivedWeightMapNames();
  std::vector<std::string> weightMapNames() const;
  // A host whose count disagrees with its names (a negative one included):
  // numVMaps answers count until it is set back to nullopt.
  void setWeightMapCountAnswer(std::optional<int> count) { mapCountAnswer_ = count; }

  // meshInfo answers null for every object while refused.
  void setMeshInfoRefused(bool refused) { meshInfoRefused_ = refused; }
  // Hands out MeshInfo records whose destroy (release) entry is null.
  void setMeshReleaseAvailable(bool available) { meshReleaseAvailable_ = available; }
  // Calls of MeshInfo::pointVMapValue handed a null point id. This host
  // answers them with no value, but a host may read through the id
  // unchecked, so a module must never hand one. [thread-safe]
  long nullPointQueries() const { return nullPointQueries_.load(); }

  void setTime(double time) { timeInfo_.time = time; }
  void setFrame(int frame) { timeInfo_.frame = frame; }
  double time() const { return timeInfo_.time; }
  int frame() const { return timeInfo_.frame; }

  // The service tables.
  ItemInfo *itemInfoTable() { return &itemInfo_; }
  SceneObjects *sceneObjectsTable() { return &sceneObjects_; }
  ObjectInfo *objectInfoTable() { return &objectInfo_; }
  TimeInfo *timeInfoTable() { return &timeInfo_; }

  CallLog &log() const { return log_; }

 private:
  friend class SceneObject;
  friend struct SceneServices;
  void refreshWeightMapNames();
  // A stable copy of text; equal texts share one copy.
  const char *keepText(std::string_view text);

  CallLog &log_;
  std::vector<std::unique_ptr<SceneObject>> all_;  // every object ever added
  std::unordered_set<const SceneObject *> known_;  // the same, for checking ItemIds
  std::vector<SceneObject *> order_;               // the live ones in host order
  std::vector<std::unique_ptr<std::string>> retiredNames_;

  bool explicitMapNames_ = false;
  std::vector<std::string> explicitNames_;
  std::vector<const char *> mapNames_;  // what numVMaps and vmapName answer
  std::optional<int> mapCountAnswer_;
  std::vector<std::unique_ptr<std::string>> keptTexts_;

  std::atomic<long> nullPointQueries_{0};
  bool meshInfoRefused_ = false;
  bool meshReleaseAvailable_ = true;

  ItemInfo itemInfo_{};
  SceneObjects sceneObjects_{};
  ObjectInfo objectInfo_{};
  TimeInfo timeInfo_{};
};

}  // namespace hostsim

#endif
