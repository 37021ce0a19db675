// The preview's host: the module file loaded into the simulated host, a
// scene holding the sphere and the reference objects, and one node set up
// from the user's settings the way a host sets a node up: panel edits and
// connected inputs, then saved and loaded into a fresh node, which is the
// node the preview shows.
#ifndef KERROWBEND_TOOLS_PREVIEW_SCENE_HOST_H
#define KERROWBEND_TOOLS_PREVIEW_SCENE_HOST_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hostsim/host.h"
#include "hostsim/vec3.h"
#include "tools/preview/sphere.h"

namespace kerrowbend_host {

using hostsim::Vec3;

enum class PreviewNode { Single, Multi };

struct ObjectAxis {
  std::string name;
  Vec3 forward;
};

struct DragStage {
  Vec3 reference;
  double weight;
};

// What the user gives the node. A setting left unset stays as a new node
// has it.
struct PreviewSettings {
  std::string modulePath;
  PreviewNode node = PreviewNode::Single;
  // Scene objects added after the sphere and the key aim, or (under one of
  // their names) turning them.
  std::vector<ObjectAxis> objects;
  // Single node.
  std::optional<Vec3> reference;  // "Reference Normal" plugged into this constant
  std::string referenceObject;    // "Reference Object" in the panel
  std::optional<double> weight;   // "Weight" plugged into this constant
  std::string weightMap;          // "WeightMap" in the panel
  std::optional<int32_t> invert;  // "Invert Vector" in the panel
  // Multi node: "Input Size" in the panel, and each stage's "Reference
  // Normal k" and "Weight k" plugged into constants.
  std::vector<DragStage> stages;
};

// The objects every preview scene starts with: the sphere, and a null aimed
// the way the key light shines.
inline constexpr const char *kSphereName = "Sphere";
inline constexpr const char *kKeyAimName = "KeyAim";

// The names of the scene's objects for these settings, in host order.
std::vector<std::string> sceneObjectNames(const PreviewSettings &settings);

// The forward axis the scene gives the object of this name: as set with
// the settings' objects, else as the scene starts with it.
Vec3 objectForward(const PreviewSettings &settings, const std::string &name);

// Fills in what the user left open with the default scene.
void applyDefaultScene(PreviewSettings &settings);

class PreviewScene {
 public:
  // Loads the module and sets the scene and the node up. Throws
  // hostsim::LoadError for a module that cannot be loaded and
  // std::runtime_error, naming the module file, for a module that does not
  // take the settings as a host hands them over. progress hears what the
  // scene is doing once the module is loaded ("placing the Kerrowbend
  // node").
  explicit PreviewScene(const PreviewSettings &settings,
                        const std::function<void(const std::string &stage)> &progress = {});

  // The node's "World Normal" at the spot of the sphere with this unit
  // normal; not-a-number where the node set no value. [thread-safe]
  Vec3 drag(const Vec3 &normal) const;

 private:
  void addObjects(const PreviewSettings &settings);
  hostsim::Node &placeConfiguredNode(const PreviewSettings &settings);
  hostsim::Node &reload(hostsim::Node &configured, const PreviewSettings &settings,
                        const std::function<void(const std::string &stage)> &progress);
  [[noreturn]] void fail(const std::string &problem) const;

  std::string modulePath_;
  hostsim::Host host_;
  std::unique_ptr<SphereMesh> sphere_;
  hostsim::Node *node_ = nullptr;
  OutputId output_ = nullptr;
};

}  // namespace kerrowbend_host

#endif
