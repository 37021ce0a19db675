// kerrowbend-host preview [options] --out FILE.png: a node of the loaded
// module at work on a lit sphere, before and after, as a PNG. This file
// turns the command line into the node's settings, has a child process
// set the node up and draw the picture (the module's code may crash or
// hang), and writes the PNG the child hands back. The scene and the node
// are set up in scene_host, the spheres drawn in render, and the
// picture around them in picture.
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "hostsim/module_facts.h"
#include "tools/cli/command_line.h"
#include "tools/cli/commands.h"
#include "tools/preview/caption.h"
#include "tools/preview/picture.h"
#include "tools/preview/png_writer.h"
#include "tools/preview/render.h"
#include "tools/preview/scene_host.h"
#include "tools/process/child_run.h"
#include "tools/process/module_location.h"
#include "tools/process/output_file.h"

namespace kerrowbend_host {

namespace {

// A node's name fields hold a terminator after the name; a longer name
// would be cut short on its way in.
constexpr std::size_t kMaxNameBytes = hostsim::facts::kNameField - 1;
// A panel of 4096 pixels makes a picture of up to 8192 x 8192.
constexpr int kMaxSize = 4096;

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
  double timeLimit = kDefaultTimeLimit;
  // Which options were given at all, for those that belong to one node.
  std::vector<const CLI::Option *> singleOnly;
  std::vector<const CLI::Option *> multiOnly;
};

std::string inQuotes(std::string_view text) { return "'" + std::string(text) + "'"; }

UsageError notOfForm(std::string_view option, std::string_view whole, std::string_view form) {
  return UsageError(std::string(option) + ": " + inQuotes(whole) + " is not " + std::string(form));
}

// Without the spaces and tabs around it.
std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// One number within the value whole of option, which has the given form;
// spaces around it are allowed.
double partOf(std::string_view option, std::string_view text, std::string_view whole,
              std::string_view form) {
  text = trimmed(text);
  const ParsedNumber number = parseNumber(text);
  if (number.problem == nullptr) return number.value;
  if (number.problem == kNotANumber) throw notOfForm(option, whole, form);
  throw UsageError(std::string(option) + ": " + inQuotes(text) + " in " + inQuotes(whole) + ' ' +
                   number.problem);
}

// Three numbers separated by commas, within the value whole of option: as
// the tool prints a vector, "(0.55, -0.6, -0.58)", or without the
// parentheses and spaces.
Vec3 threeNumbers(std::string_view option, std::string_view text, std::string_view whole,
                  std::string_view form) {
  text = trimmed(text);
  if (text.starts_with('(') != text.ends_with(')')) throw notOfForm(option, whole, form);
  if (text.starts_with('(') && text.size() >= 2) text = text.substr(1, text.size() - 2);
  Vec3 value{};
  std::size_t from = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t comma = text.find(',', from);
    if ((i < 2) == (comma == std::string_view::npos)) throw notOfForm(option, whole, form);
    value[i] = partOf(option, text.substr(from, comma == text.npos ? text.npos : comma - from),
                      whole, form);
    from = comma + 1;
  }
  return value;
}

Vec3 vector(std::string_view option, std::string_view text) {
  return threeNumbers(option, text, text, "three numbers X,Y,Z");
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
  constexpr std::string_view kForm = "NAME:X,Y,Z";
  const std::size_t colon = text.rfind(':');
  if (colon == text.npos) throw notOfForm("--object", text, kForm);
  const Vec3 forward = threeNumbers("--object", text.substr(colon + 1), text, kForm);
  return {sceneName("--object", trimmed(text.substr(0, colon))), forward};
}

// "X,Y,Z:W".
DragStage dragStage(std::string_view text) {
  constexpr std::string_view kForm = "X,Y,Z:W";
  const std::size_t colon = text.rfind(':');
  if (colon == text.npos) throw notOfForm("--stage", text, kForm);
  const Vec3 reference = threeNumbers("--stage", text.substr(0, colon), text, kForm);
  return {reference, partOf("--stage", text.substr(colon + 1), text, kForm)};
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
  if (!line.weight.empty()) settings.weight = numberOption("--weight", line.weight);
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

PreviewShow showFrom(const std::string &text) {
  if (text == "shading") return PreviewShow::Shading;
  if (text == "normals") return PreviewShow::Normals;
  throw UsageError("--show: " + inQuotes(text) + " is neither shading nor normals");
}

// The picture's PNG, made in the child: the module loaded, the node set up
// and every pixel shaded there.
std::string drawPicture(const PreviewSettings &settings, int size, int samples, PreviewShow show) {
  tellParent("loading the module");
  const PreviewScene scene(settings, [](const std::string &stage) { tellParent(stage); });
  tellParent("shading");
  const Panels panels = renderPanels(
      size, show, samples,
      [&scene](const Vec3 &normal) {
        stillWorking();
        return scene.drag(normal);
      },
      0, tellProgress);
  tellParent("drawing the picture");
  // The time it takes grows with the picture, and no module code runs in it.
  const AliveMeanwhile drawing;
  const Image picture = composePicture(panels, captionFor(settings));
  return encodePng(picture.width, picture.height, picture.rgb);
}

int runPreview(const CommandLine &line) {
  if (line.out.empty()) throw UsageError("--out FILE.png is required");
  // "-" is standard output, as for most tools that write one file; a PNG
  // on a terminal is only noise, so that is refused before any work.
  const bool toStandardOutput = line.out == "-";
  if (toStandardOutput && ::isatty(STDOUT_FILENO) != 0) {
    throw UsageError("--out -: standard output is a terminal; redirect it to a file or a pipe");
  }
  try {
    if (!toStandardOutput) checkOutputFile(line.out);
  } catch (const std::invalid_argument &refused) {
    throw UsageError(std::string("--out: ") + refused.what());
  }
  constexpr int kMinSize = 1;
  const int size = wholeNumberOption("--size", line.size, kMinSize, kMaxSize);
  const int samples = wholeNumberOption("--samples", line.samples, 1, kMaxSamples);
  const PreviewShow show = showFrom(line.show);
  PreviewSettings settings = settingsFrom(line);
  settings.modulePath = line.module.empty() ? defaultModulePath("--module PATH") : line.module;

  ChildOutcome outcome = runInChild(
      [&settings, size, samples, show] { return drawPicture(settings, size, samples, show); },
      line.timeLimit, true);
  const std::string png = childAnswer(outcome, inQuotes(settings.modulePath), line.timeLimit);
  if (toStandardOutput) {
    writeStandardOutput(png);
  } else {
    writeOutputFile(line.out, png);
  }
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
  readLeniently(*preview);
  preview->add_option("--out", line->out, "the PNG to write (required); - for standard output")
      ->type_name("FILE.png");
  preview->add_option("--node", line->node, "the node to place: single (default) or multi")
      ->type_name("single|multi");
  line->singleOnly = {
      preview
          ->add_option("--reference", line->reference,
                       "single node only: plug \"Reference Normal\" into this constant "
                       "direction")
          ->type_name("X,Y,Z"),
      preview
          ->add_option("--reference-object", line->referenceObject,
                       "single node only: \"Reference Object\", the object whose forward (+Z) "
                       "axis is the reference (default KeyAim, aimed the way the key light "
                       "shines)")
          ->type_name("NAME"),
      preview
          ->add_option("--object", line->objects,
                       "single node only: a scene object and its forward axis, or a new axis "
                       "for Sphere or KeyAim; repeat for more")
          ->type_name("NAME:X,Y,Z")
          ->expected(1)
          ->take_all(),
      preview
          ->add_option("--weight", line->weight,
                       "single node only: plug \"Weight\" into this constant, any number "
                       "(default 0.25)")
          ->type_name("W"),
      preview
          ->add_option("--weight-map", line->weightMap,
                       "single node only: \"WeightMap\", a map painted on the sphere, Gradient "
                       "(1 at the top to 0 at the bottom) or Cap (1 above 30 degrees, unpainted "
                       "below)")
          ->type_name("NAME"),
      preview
          ->add_option("--invert", line->invert,
                       "single node only: \"Invert Vector\", 0 or 1; on in a new node, so the "
                       "normal turns toward the opposite of the reference")
          ->type_name("0|1"),
  };
  line->multiOnly = {
      preview
          ->add_option("--stage", line->stages,
                       "multi node only: a stage's reference direction and weight, in stage "
                       "order; repeat for more (default: toward the key light by 0.25, then the "
                       "ground by 0.25)")
          ->type_name("X,Y,Z:W")
          ->expected(1)
          ->take_all(),
  };
  preview
      ->add_option(
          "--size", line->size,
          "pixels across each picture, 1 to " + std::to_string(kMaxSize) + " (default 512)")
      ->type_name("N");
  preview
      ->add_option("--samples", line->samples,
                   "samples per pixel, to smooth outlines and sudden turns, 1 to " +
                       std::to_string(kMaxSamples) + " (default " +
                       std::to_string(kDefaultSamples) + ")")
      ->type_name("N");
  preview
      ->add_option("--show", line->show,
                   "shading (default), or normals to add a row of normal maps below")
      ->type_name("shading|normals");
  preview->add_option("--module", line->module, "the module file (default: " + modulePlaces() + ")")
      ->type_name("PATH");
  addTimeLimitOption(
      *preview, line->timeLimit,
      "seconds the module may go without showing progress before it is stopped as hung");
  preview->callback([preview, line, &exitCode] {
    exitCode = runCommand(*preview, [&line] { return runPreview(*line); });
  });
}

}  // namespace kerrowbend_host
