// kerrowbend-host preview [options] --out FILE.png: a node of the loaded
// module at work on a lit sphere, before and after, as a PNG. This file
// turns the command line into the node's settings and writes the picture;
// the scene and the node are set up in preview_scene, the spheres drawn in
// preview_render, and the picture around them in preview_picture.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "tools/commands.h"
#include "tools/png_writer.h"
#include "tools/preview_caption.h"
#include "tools/preview_picture.h"
#include "tools/preview_render.h"
#include "tools/preview_scene.h"

namespace kerrowbend_host {

namespace {

namespace fs = std::filesystem;

// A node's name fields hold 259 bytes and a terminator; a longer name
// would be cut short on its way in.
constexpr std::size_t kMaxNameBytes = 259;
// A panel of 4096 pixels makes a picture of up to 8192 x 8192.
constexpr int kMaxSize = 4096;

// An option or value the user can correct.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The command line as given; every value is checked by hand so that each
// problem is reported the same way, naming the option.
struct CommandLine {
  std::string out;
  std::string node = "single";
  std::string reference;
  std::string referenceObject;
  std::vector<std::string> objects;
  std::string weight;
  std::string weightMap;
  std::string invert;
  std::vector<std::string> stages;
  std::string size = "512";
  std::string samples = std::to_string(kDefaultSamples);
  std::string module;
  std::string show = "shading";
  // Which options were given at all, for those that belong to one node.
  std::vector<const CLI::Option *> singleOnly;
  std::vector<const CLI::Option *> multiOnly;
};

std::string inQuotes(std::string_view text) { return "'" + std::string(text) + "'"; }

// A finite number spelled out in full, or nothing.
std::optional<double> finite(std::string_view text) {
  double value = 0.0;
  const char *end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) return {};
  return value;
}

double number(std::string_view option, std::string_view text, std::string_view what) {
  const std::optional<double> value = finite(text);
  if (!value) {
    throw UsageError(std::string(option) + ": " + inQuotes(text) + " is not " + std::string(what));
  }
  return *value;
}

// Three finite numbers separated by commas, or nothing.
std::optional<Vec3> threeNumbers(std::string_view text) {
  Vec3 value{};
  std::size_t from = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t comma = text.find(',', from);
    if ((i < 2) == (comma == std::string_view::npos)) return {};
    const std::optional<double> component =
        finite(text.substr(from, comma == text.npos ? text.npos : comma - from));
    if (!component) return {};
    value[i] = *component;
    from = comma + 1;
  }
  return value;
}

Vec3 vector(std::string_view option, std::string_view text) {
  const std::optional<Vec3> value = threeNumbers(text);
  if (!value) {
    throw UsageError(std::string(option) + ": " + inQuotes(text) + " is not three numbers X,Y,Z");
  }
  return *value;
}

std::string sceneName(std::string_view option, std::string_view name) {
  if (name.empty()) throw UsageError(std::string(option) + ": the name is empty");
  if (name.size() > kMaxNameBytes) {
    throw UsageError(std::string(option) + ": a name holds at most " +
                     std::to_string(kMaxNameBytes) + " bytes, " + inQuotes(name.substr(0, 20)) +
                     "... has " + std::to_string(name.size()));
  }
  return std::string(name);
}

// "NAME:X,Y,Z"; the name may itself hold colons.
ObjectAxis objectAxis(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  const std::optional<Vec3> forward =
      colon != text.npos ? threeNumbers(text.substr(colon + 1)) : std::nullopt;
  if (!forward) throw UsageError("--object: " + inQuotes(text) + " is not NAME:X,Y,Z");
  return {sceneName("--object", text.substr(0, colon)), *forward};
}

// "X,Y,Z:W".
DragStage dragStage(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  const std::optional<Vec3> reference =
      colon != text.npos ? threeNumbers(text.substr(0, colon)) : std::nullopt;
  const std::optional<double> weight =
      colon != text.npos ? finite(text.substr(colon + 1)) : std::nullopt;
  if (!reference || !weight) throw UsageError("--stage: " + inQuotes(text) + " is not X,Y,Z:W");
  return {*reference, *weight};
}

std::string joined(const std::vector<std::string> &names) {
  std::string text;
  for (const std::string &name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

bool contains(const std::vector<std::string> &names, const std::string &name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

void checkNodeOptions(const CommandLine &line, PreviewNode node) {
  const auto &others = node == PreviewNode::Single ? line.multiOnly : line.singleOnly;
  for (const CLI::Option *option : others) {
    if (option->count() > 0) {
      throw UsageError(option->get_name() + " is for the " +
                       (node == PreviewNode::Single ? "multi" : "single") +
                       " node, not for --node " + line.node);
    }
  }
}

PreviewSettings settingsFrom(const CommandLine &line) {
  PreviewSettings settings;
  if (line.node == "single") {
    settings.node = PreviewNode::Single;
  } else if (line.node == "multi") {
    settings.node = PreviewNode::Multi;
  } else {
    throw UsageError("--node: " + inQuotes(line.node) + " is neither single nor multi");
  }
  checkNodeOptions(line, settings.node);

  for (const std::string &text : line.objects) {
    ObjectAxis object = objectAxis(text);
    for (const ObjectAxis &earlier : settings.objects) {
      if (earlier.name == object.name) {
        throw UsageError("--object: " + inQuotes(object.name) + " is given twice");
      }
    }
    settings.objects.push_back(std::move(object));
  }
  if (!line.reference.empty() && !line.referenceObject.empty()) {
    throw UsageError("--reference and --reference-object both give the reference; use one");
  }
  if (!line.reference.empty()) settings.reference = vector("--reference", line.reference);
  if (!line.referenceObject.empty()) {
    settings.referenceObject = sceneName("--reference-object", line.referenceObject);
    const std::vector<std::string> objects = sceneObjectNames(settings);
    if (!contains(objects, settings.referenceObject)) {
      throw UsageError("--reference-object: the scene has no object " +
                       inQuotes(settings.referenceObject) + " (it has " + joined(objects) +
                       "; add one with --object NAME:X,Y,Z)");
    }
  }
  if (!line.weight.empty() && !line.weightMap.empty()) {
    throw UsageError("--weight and --weight-map both give the weight; use one");
  }
  if (!line.weight.empty()) settings.weight = number("--weight", line.weight, "a number");
  if (!line.weightMap.empty()) {
    if (!contains(SphereMesh::mapNames(), line.weightMap)) {
      throw UsageError("--weight-map: the sphere has no weight map " + inQuotes(line.weightMap) +
                       " (it has " + joined(SphereMesh::mapNames()) + ")");
    }
    settings.weightMap = line.weightMap;
  }
  if (!line.invert.empty()) {
    if (line.invert != "0" && line.invert != "1") {
      throw UsageError("--invert: " + inQuotes(line.invert) + " is neither 0 nor 1");
    }
    settings.invert = line.invert == "1" ? 1 : 0;
  }
  for (const std::string &text : line.stages) settings.stages.push_back(dragStage(text));
  applyDefaultScene(settings);
  return settings;
}

int wholeNumber(std::string_view option, const std::string &text, int most) {
  int value = 0;
  const char *end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < 1 || value > most) {
    throw UsageError(std::string(option) + ": " + inQuotes(text) +
                     " is not a whole number from 1 to " + std::to_string(most));
  }
  return value;
}

PreviewShow showFrom(const std::string &text) {
  if (text == "shading") return PreviewShow::Shading;
  if (text == "normals") return PreviewShow::Normals;
  throw UsageError("--show: " + inQuotes(text) + " is neither shading nor normals");
}

// The module built beside the running tool.
std::string moduleBesideTool() {
  std::error_code error;
  const fs::path tool = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string("kerrowbend.p") : (tool.parent_path() / "kerrowbend.p").string();
}

// Refuses an output the picture could not be written to before any work.
void checkOutput(const std::string &out) {
  if (out.empty()) throw UsageError("--out FILE.png is required");
  const fs::path path(out);
  std::error_code error;
  if (fs::is_directory(path, error)) {
    throw UsageError("--out: " + inQuotes(out) + " is a directory");
  }
  const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  if (!fs::is_directory(folder, error)) {
    throw UsageError("--out: cannot write " + inQuotes(out) + ": there is no folder " +
                     inQuotes(folder.string()));
  }
}

// Writes beside the target under a temporary name and renames it into
// place, so a failure never leaves a partial picture nor spoils an earlier
// one.
void writePicture(const Image &image, const std::string &out) {
  const fs::path path(out);
  const fs::path temporary = path.parent_path() / ("." + path.filename().string() + "." +
                                                   std::to_string(::getpid()) + ".tmp");
  try {
    writePng(temporary.string(), image.width, image.height, image.rgb);
    fs::rename(temporary, path);
  } catch (const std::exception &failure) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    const auto *system = dynamic_cast<const fs::filesystem_error *>(&failure);
    throw std::runtime_error("cannot write " + inQuotes(out) + ": " +
                             (system != nullptr ? system->code().message() : failure.what()));
  }
}

// An empty value would otherwise read as an option not given.
void checkNoEmptyValues(const CLI::App &command) {
  for (const CLI::Option *option : command.get_options()) {
    for (const std::string &value : option->results()) {
      if (value.empty()) throw UsageError(option->get_name() + ": the value is empty");
    }
  }
}

int runPreview(const CLI::App &command, const CommandLine &line) {
  checkNoEmptyValues(command);
  checkOutput(line.out);
  const int size = wholeNumber("--size", line.size, kMaxSize);
  const int samples = wholeNumber("--samples", line.samples, kMaxSamples);
  const PreviewShow show = showFrom(line.show);
  PreviewSettings settings = settingsFrom(line);
  settings.modulePath = line.module.empty() ? moduleBesideTool() : line.module;

  const PreviewScene scene(settings);
  const Panels panels = renderPanels(size, show, samples,
                                     [&scene](const Vec3 &normal) { return scene.drag(normal); });
  writePicture(composePicture(panels, captionFor(settings)), line.out);
  return kExitOk;
}

}  // namespace

void addPreviewCommand(CLI::App &app, int &exitCode) {
  auto line = std::make_shared<CommandLine>();
  CLI::App *preview = app.add_subcommand(
      "preview",
      "Render a lit sphere through a node of the module, its normals untouched (left) and "
      "dragged (right), and write it as a PNG. Without settings: the single node pulling "
      "the normals a quarter of the way toward the key light");
  preview->add_option("--out", line->out, "the PNG to write (required)")->type_name("FILE.png");
  preview->add_option("--node", line->node, "the node to place (default single)")
      ->type_name("single|multi");
  line->singleOnly = {
      preview
          ->add_option("--reference", line->reference,
                       "plug \"Reference Normal\" into this constant direction")
          ->type_name("X,Y,Z"),
      preview
          ->add_option("--reference-object", line->referenceObject,
                       "\"Reference Object\": the object whose forward (+Z) axis is the "
                       "reference (default KeyAim, aimed the way the key light shines)")
          ->type_name("NAME"),
      preview
          ->add_option("--object", line->objects,
                       "a scene object and its forward axis, or a new axis for Sphere or "
                       "KeyAim; repeat for more")
          ->type_name("NAME:X,Y,Z")
          ->expected(1)
          ->take_all(),
      preview
          ->add_option("--weight", line->weight,
                       "plug \"Weight\" into this constant (default 0.25)")
          ->type_name("W"),
      preview
          ->add_option("--weight-map", line->weightMap,
                       "\"WeightMap\": a map painted on the sphere, Gradient (1 at the top to 0 "
                       "at the bottom) or Cap (1 above 30 degrees, unpainted below)")
          ->type_name("NAME"),
      preview
          ->add_option("--invert", line->invert,
                       "\"Invert Vector\"; on in a new node, so the normal turns toward the "
                       "opposite of the reference")
          ->type_name("0|1"),
  };
  line->multiOnly = {
      preview
          ->add_option("--stage", line->stages,
                       "a stage's reference direction and weight, in stage order; repeat for "
                       "more (default: toward the key light by 0.25, then the ground by 0.25)")
          ->type_name("X,Y,Z:W")
          ->expected(1)
          ->take_all(),
  };
  preview->add_option("--size", line->size, "pixels across each picture (default 512)")
      ->type_name("N");
  preview
      ->add_option("--samples", line->samples,
                   "samples per pixel, to smooth outlines and sudden turns (default " +
                       std::to_string(kDefaultSamples) + ", at most " +
                       std::to_string(kMaxSamples) + ")")
      ->type_name("N");
  preview
      ->add_option("--show", line->show,
                   "shading (default), or normals to add a row of normal maps below")
      ->type_name("shading|normals");
  preview
      ->add_option("--module", line->module,
                   "the module file (default: kerrowbend.p beside this tool)")
      ->type_name("PATH");
  preview->callback([preview, line, &exitCode] {
    try {
      exitCode = runPreview(*preview, *line);
    } catch (const UsageError &failure) {
      reportFailure("preview", failure);
      exitCode = kExitUsage;
    } catch (const std::exception &failure) {
      exitCode = reportFailure("preview", failure);
    }
  });
}

}  // namespace kerrowbend_host
