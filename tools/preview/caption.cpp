#include "tools/preview/caption.h"

#include <cmath>
#include <cstdio>

#include "hostsim/module_facts.h"

namespace kerrowbend_host {

namespace {

// Two decimals at most, without trailing zeros: short enough for a title.
std::string number(double value) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.2f", value);
  std::string shown = text.data();
  while (shown.back() == '0') shown.pop_back();
  if (shown.back() == '.') shown.pop_back();
  return shown == "-0" ? "0" : shown;
}

std::string vector(const Vec3 &v) {
  return "(" + number(v[0]) + ", " + number(v[1]) + ", " + number(v[2]) + ")";
}

PreviewCaption singleCaption(const PreviewSettings &settings) {
  PreviewCaption caption;
  caption.title.emplace_back(hostsim::facts::kSingle);
  Vec3 reference{};
  if (settings.reference) {
    reference = *settings.reference;
    caption.title.push_back("Reference Normal " + vector(reference));
  } else if (!settings.referenceObject.empty()) {
    reference = objectForward(settings, settings.referenceObject);
    caption.title.push_back("Reference Object " + settings.referenceObject + ", forward " +
                            vector(reference));
  }
  const bool invert = settings.invert.value_or(hostsim::facts::kNewNodeInvert) != 0;
  caption.title.push_back(std::string("Invert Vector ") + (invert ? "on" : "off"));
  if (settings.weight) caption.title.push_back("Weight " + number(*settings.weight));
  if (!settings.weightMap.empty()) caption.title.push_back("WeightMap " + settings.weightMap);
  if (invert) reference = hostsim::negated(reference);
  caption.references.push_back({reference, ""});
  return caption;
}

PreviewCaption multiCaption(const PreviewSettings &settings) {
  PreviewCaption caption;
  caption.title.emplace_back(hostsim::facts::kMulti);
  const bool numbered = settings.stages.size() > 1;
  for (std::size_t i = 0; i < settings.stages.size(); ++i) {
    const DragStage &stage = settings.stages[i];
    const std::string label = std::to_string(i + 1);
    caption.title.push_back("stage " + label + ": " + vector(stage.reference) + " by " +
                            number(stage.weight));
    caption.references.push_back({stage.reference, numbered ? label : ""});
  }
  return caption;
}

}  // namespace

PreviewCaption captionFor(const PreviewSettings &settings) {
  return settings.node == PreviewNode::Single ? singleCaption(settings) : multiCaption(settings);
}

}  // namespace kerrowbend_host
