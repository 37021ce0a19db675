#include "tools/preview/scene_host.h"

#include <algorithm>
#include <stdexcept>

#include "hostsim/block_io.h"
#include "hostsim/module_facts.h"
#include "tools/preview/render.h"

namespace kerrowbend_host {

namespace {

namespace facts = hostsim::facts;

// The settings make their round trip in the text form of scene data, as in
// a scene saved as text.
constexpr hostsim::BlockForm kSceneForm = hostsim::BlockForm::Text;

const char *serverName(PreviewNode node) {
  return node == PreviewNode::Single ? facts::kSingle : facts::kMulti;
}

// Plugs constants into the node's inputs as a user wires value nodes to
// them (stage k's inputs exist once the node has k stages). Gives the name
// of an input the node lacks, or "" when every one was there.
std::string connectInputs(hostsim::Node &node, const PreviewSettings &settings) {
  std::vector<std::pair<std::string, Vec3>> vectors;
  std::vector<std::pair<std::string, double>> scalars;
  if (settings.node == PreviewNode::Single) {
    if (settings.reference) vectors.emplace_back(facts::kReferenceInput, *settings.reference);
    if (settings.weight) scalars.emplace_back(facts::kWeightInput, *settings.weight);
  } else {
    for (std::size_t i = 0; i < settings.stages.size(); ++i) {
      const int stage = static_cast<int>(i) + 1;
      vectors.emplace_back(facts::stageReferenceInput(stage), settings.stages[i].reference);
      scalars.emplace_back(facts::stageWeightInput(stage), settings.stages[i].weight);
    }
  }
  for (const auto &[name, value] : vectors) {
    if (node.input(name) == nullptr) return name;
    node.connect(name, value);
  }
  for (const auto &[name, value] : scalars) {
    if (node.input(name) == nullptr) return name;
    node.connect(name, value);
  }
  return {};
}

}  // namespace

std::vector<std::string> sceneObjectNames(const PreviewSettings &settings) {
  std::vector<std::string> names{kSphereName, kKeyAimName};
  for (const ObjectAxis &object : settings.objects) {
    if (std::find(names.begin(), names.end(), object.name) == names.end()) {
      names.push_back(object.name);
    }
  }
  return names;
}

Vec3 objectForward(const PreviewSettings &settings, const std::string &name) {
  for (const ObjectAxis &object : settings.objects) {
    if (object.name == name) return object.forward;
  }
  // A light's forward axis is the direction it shines: away from the light.
  if (name == kKeyAimName) return hostsim::negated(kKeyLight);
  return hostsim::kDefaultForward;
}

// The default scene shows what artists place the node for in toon
// shading. The single node takes its reference from KeyAim, a null aimed
// the way the key light shines; "Invert Vector", on in a new node, turns
// that into the direction toward the light, so the normals lean toward the
// light as they do when a user aims the reference with it. A weight of a quarter pulls every normal
// a quarter of the way toward the light: the lit tones spread, the shadow
// withdraws to a crescent and the bands round out, beside the same sphere
// untouched, with all three tones still in view on both. (From about a
// third of the way the shadow leaves the visible side, which shows less of
// what the weight does.) The multi node follows the same pull with an
// equal one toward the ground, which tips the bands level, the way artists
// steady shading under a chin or a brim; the second stage visibly works on
// the first one's result.
void applyDefaultScene(PreviewSettings &settings) {
  constexpr double kQuarterWay = 0.25;
  if (settings.node == PreviewNode::Single) {
    if (!settings.reference && settings.referenceObject.empty()) {
      settings.referenceObject = kKeyAimName;
    }
    if (!settings.weight && settings.weightMap.empty()) settings.weight = kQuarterWay;
    return;
  }
  if (settings.stages.empty()) {
    settings.stages = {{kKeyLight, kQuarterWay}, {{0.0, -1.0, 0.0}, kQuarterWay}};
  }
}

PreviewScene::PreviewScene(const PreviewSettings &settings,
                           const std::function<void(const std::string &stage)> &progress)
    : modulePath_(settings.modulePath), host_(settings.modulePath) {
  if (progress) progress(std::string("placing the ") + serverName(settings.node) + " node");
  addObjects(settings);
  hostsim::Node &configured = placeConfiguredNode(settings);
  node_ = &reload(configured, settings, progress);
  const hostsim::Output *output = node_->output(facts::kOutput);
  if (output == nullptr) fail("the reloaded node has no \"World Normal\" output");
  output_ = output->id();
  // The reference object is looked up at a new time, as when a host starts
  // rendering a frame.
  host_.newTime(0, 0.0);
  // Evaluation runs on several threads; the host's log of calls would
  // serialise them and grow with every spot.
  host_.log().setRecording(false);
}

Vec3 PreviewScene::drag(const Vec3 &normal) const {
  return node_->evaluate(sphere_->spotAt(normal), output_).value;
}

void PreviewScene::addObjects(const PreviewSettings &settings) {
  hostsim::Scene &scene = host_.scene();
  sphere_ = std::make_unique<SphereMesh>(scene.addObject(kSphereName));
  scene.addObject(kKeyAimName).setForward(objectForward(settings, kKeyAimName));
  for (const ObjectAxis &object : settings.objects) {
    hostsim::SceneObject *existing = scene.findByName(object.name);
    (existing != nullptr ? *existing : scene.addObject(object.name)).setForward(object.forward);
  }
}

void PreviewScene::fail(const std::string &problem) const {
  throw std::runtime_error("'" + modulePath_ + "': " + problem);
}

hostsim::Node &PreviewScene::placeConfiguredNode(const PreviewSettings &settings) {
  const std::string server = serverName(settings.node);
  if (host_.module().findServer(SERVER_CLASS_NODE_HANDLER, server) == nullptr ||
      host_.module().findServer(SERVER_CLASS_NODE_INTERFACE, server) == nullptr) {
    fail("the module has no " + server + " node with a panel");
  }
  const int activated = host_.activateHandler(server);
  if (activated != ACTIVATE_OK) {
    fail("activating the " + server + " node gave " + std::to_string(activated));
  }
  hostsim::Node &node = host_.createNode(server, server + " (1)");
  if (node.instance() == nullptr) fail("placing a " + server + " node failed");

  // The user opens the node's panel and edits it.
  InterfaceRecord record{node.instance(), nullptr, nullptr, nullptr};
  const int opened = host_.activateInterface(server, NODE_INTERFACE_VERSION, &record);
  const hostsim::PanelRecord *panel = host_.panels().find(record.panel);
  if (opened != ACTIVATE_OK || panel == nullptr) {
    fail("the " + server + " node's panel did not open");
  }
  const auto edited = [&](int answer, const char *control) {
    if (answer != 1) fail("the " + server + " panel refused a value for " + control);
  };
  if (settings.node == PreviewNode::Single) {
    if (!settings.referenceObject.empty()) {
      edited(panel->setString(facts::kReferenceObjectId, settings.referenceObject),
             "\"Reference Object\"");
    }
    if (settings.invert) {
      edited(panel->setInt(facts::kInvertId, *settings.invert), "\"Invert Vector\"");
    }
    if (!settings.weightMap.empty()) {
      edited(panel->setString(facts::kWeightMapId, settings.weightMap), "\"WeightMap\"");
    }
  } else {
    edited(panel->editInt(facts::kInputSizeId, static_cast<int32_t>(settings.stages.size())),
           "\"Input Size\"");
  }
  const std::string missing = connectInputs(node, settings);
  if (!missing.empty()) fail("the " + server + " node has no input \"" + missing + "\"");
  return node;
}

// Saves the configured node as a scene file holds it and loads that into a
// fresh node, wired the same way: what the preview shows is what a saved
// scene brings back, not what the panel edits left in memory.
hostsim::Node &PreviewScene::reload(hostsim::Node &configured, const PreviewSettings &settings,
                                    const std::function<void(const std::string &stage)> &progress) {
  const std::string server = configured.server();
  if (progress) progress("saving the " + server + " node and loading it again");
  hostsim::SaveReport saved;
  const std::string data = configured.save(kSceneForm, &saved);
  if (saved.error != nullptr) fail("saving the " + server + " node failed: " + saved.error);
  if (!saved.problems.empty()) fail("saving the " + server + " node: " + saved.problems.front());
  configured.destroy();

  hostsim::Node &fresh = host_.createNode(server, server + " (2)");
  if (fresh.instance() == nullptr) fail("placing a " + server + " node failed");
  hostsim::LoadReport loaded;
  const Error error = fresh.load(kSceneForm, data, {}, &loaded);
  if (error != nullptr) fail("loading the saved " + server + " node failed: " + error);
  if (!loaded.problems.empty()) {
    fail("loading the saved " + server + " node: " + loaded.problems.front());
  }
  const std::string missing = connectInputs(fresh, settings);
  if (!missing.empty()) fail("the reloaded " + server + " node has no input \"" + missing + "\"");
  return fresh;
}

}  // namespace kerrowbend_host
