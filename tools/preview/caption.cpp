#include "tools/preview/caption.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

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

bool isZero(const Vec3 &v) { return v[0] == 0.0 && v[1] == 0.0 && v[2] == 0.0; }

PreviewCaption singleCaption(const PreviewSettings &settings) {
  PreviewCaption caption;
  caption.title.emplace_back(hostsim::facts::kSingle);
  Vec3 reference{};
  if (settings.reference) {
    reference = *settings.reference;
    caption.title.push_back("Reference Normal " + vector(reference));
    caption.givenName = "reference (as plugged)";
  } else if (!settings.referenceObject.empty()) {
    reference = objectForward(settings, settings.referenceObject);
    caption.title.push_back("Reference Object " + settings.referenceObject + ", forward " +
                            vector(reference));
    caption.givenName = "reference (" + settings.referenceObject + " forward)";
  }
  const bool invert = settings.invert.value_or(hostsim::facts::kNewNodeInvert) != 0;
  caption.title.push_back(std::string("Invert Vector ") + (invert ? "on" : "off"));
  if (settings.weight) caption.title.push_back("Weight " + number(*settings.weight));
  if (!settings.weightMap.empty()) caption.title.push_back("WeightMap " + settings.weightMap);
  caption.towardName = invert ? "normals turn toward (inverted)" : "normals turn toward";
  if (isZero(reference)) {
    caption.zeroNote = "reference is zero: normals pass unchanged";
  } else {
    caption.references.push_back({reference, invert ? hostsim::negated(reference) : reference, ""});
  }
  return caption;
}

// Where a stage's mark sits: stages whose references point the same way
// share one mark, however long each reference is.
Vec3 place(const Vec3 &v) {
  const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  constexpr double kSame = 1e3;  // a thousandth of the radius apart is one place
  return {std::round(v[0] / length * kSame), std::round(v[1] / length * kSame),
          std::round(v[2] / length * kSame)};
}

PreviewCaption multiCaption(const PreviewSettings &settings) {
  PreviewCaption caption;
  caption.title.emplace_back(hostsim::facts::kMulti);
  const std::vector<DragStage> &stages = settings.stages;
  // Neighbouring stages alike in reference and weight make one piece of
  // the title, so that many alike stages do not fill the picture.
  for (std::size_t first = 0; first < stages.size();) {
    std::size_t last = first;
    while (last + 1 < stages.size() && stages[last + 1].reference == stages[first].reference &&
           stages[last + 1].weight == stages[first].weight) {
      ++last;
    }
    const std::string which =
        last == first ? "stage " + std::to_string(first + 1)
                      : "stages " + std::to_string(first + 1) + "-" + std::to_string(last + 1);
    caption.title.push_back(which + ": " + vector(stages[first].reference) + " by " +
                            number(stages[first].weight));
    first = last + 1;
  }
  std::vector<std::pair<Vec3, std::vector<int>>> places;
  std::vector<int> zero;
  for (std::size_t i = 0; i < stages.size(); ++i) {
    const int stage = static_cast<int>(i) + 1;
    if (isZero(stages[i].reference)) {
      zero.push_back(stage);
      continue;
    }
    const Vec3 at = place(stages[i].reference);
    auto shared = std::find_if(places.begin(), places.end(),
                               [&at](const auto &earlier) { return earlier.first == at; });
    if (shared == places.end()) {
      places.push_back({at, {}});
      shared = std::prev(places.end());
    }
    shared->second.push_back(stage);
    if (shared->second.size() == 1) {
      caption.references.push_back({stages[i].reference, stages[i].reference, ""});
    }
  }
  if (stages.size() > 1) {
    for (std::size_t i = 0; i < places.size(); ++i) {
      caption.references[i].label = stageList(places[i].second);
    }
  }
  // A stage turns the normals toward its reference as given.
  caption.towardName = stages.size() > 1 ? "stage references: normals turn toward them"
                                         : "stage reference: normals turn toward it";
  if (!zero.empty()) {
    caption.zeroNote = (zero.size() == 1 ? "stage " : "stages ") + stageList(zero) +
                       ": reference is zero, normals pass unchanged";
  }
  return caption;
}

}  // namespace

std::string stageList(const std::vector<int> &stages) {
  std::string text;
  for (std::size_t first = 0; first < stages.size();) {
    std::size_t last = first;
    while (last + 1 < stages.size() && stages[last + 1] == stages[last] + 1) ++last;
    if (!text.empty()) text += ", ";
    text += std::to_string(stages[first]);
    if (last >= first + 2) {
      text += "-" + std::to_string(stages[last]);
    } else if (last == first + 1) {
      text += ", " + std::to_string(stages[last]);
    }
    first = last + 1;
  }
  return text;
}

PreviewCaption captionFor(const PreviewSettings &settings) {
  return settings.node == PreviewNode::Single ? singleCaption(settings) : multiCaption(settings);
}

}  // namespace kerrowbend_host
