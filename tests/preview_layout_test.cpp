// The preview picture's layout, read from the layout code rather than
// from pixels: where the marks sit and what the legend calls them, that no
// mark hides another, and that every text stays inside the picture and
// its panel at the smallest and largest sizes and with many stages.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/preview/caption.h"
#include "tools/preview/picture.h"
#include "tools/preview/render.h"
#include "tools/preview/scene_host.h"

namespace kerrowbend_test {
namespace {

using kerrowbend_host::DragStage;
using kerrowbend_host::MarkKind;
using kerrowbend_host::PictureLayout;
using kerrowbend_host::PlacedMark;
using kerrowbend_host::PreviewCaption;
using kerrowbend_host::PreviewNode;
using kerrowbend_host::PreviewSettings;
using kerrowbend_host::Vec3;

PreviewCaption captionOf(PreviewSettings settings) {
  kerrowbend_host::applyDefaultScene(settings);
  return kerrowbend_host::captionFor(settings);
}

PreviewSettings plugged(const Vec3 &reference, std::optional<int> invert = std::nullopt) {
  PreviewSettings settings;
  settings.reference = reference;
  settings.invert = invert;
  return settings;
}

PreviewSettings stages(std::vector<DragStage> list) {
  PreviewSettings settings;
  settings.node = PreviewNode::Multi;
  settings.stages = std::move(list);
  return settings;
}

bool has(const std::vector<std::string> &texts, const std::string &text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The marks of one kind on the left shading panel.
std::vector<PlacedMark> marksOf(const PictureLayout &layout, MarkKind kind, int size) {
  std::vector<PlacedMark> found;
  for (const PlacedMark &mark : layout.marks) {
    if (mark.kind == kind && mark.x < size && mark.y < layout.band + size) found.push_back(mark);
  }
  return found;
}

// How far a mark reaches and how far its outline keeps clear of its middle.
double outer(const PlacedMark &m) {
  if (m.kind == MarkKind::Light) return 1.6 * m.radius;
  return m.kind == MarkKind::Given ? std::numbers::sqrt2 * m.radius : m.radius;
}
double inner(const PlacedMark &m) { return m.kind == MarkKind::Light ? 0.0 : m.radius; }

constexpr int kSize = 192;

struct MarkCase {
  const char *name;
  PreviewSettings settings;
  // Where each mark should be, as unit directions seen from the camera
  // (x right, y up); none where there must be no such mark.
  std::optional<std::array<double, 2>> given, toward;
  std::vector<std::string> legend;  // entries that must be there
  std::vector<std::string> absent;  // and entries that must not
};

std::ostream &operator<<(std::ostream &out, const MarkCase &c) { return out << c.name; }

class MarkPlaceTest : public ::testing::TestWithParam<MarkCase> {};

TEST_P(MarkPlaceTest, ShowsTheReferenceAsGivenAndWhereTheNormalsTurn) {
  const MarkCase &c = GetParam();
  const PictureLayout layout = kerrowbend_host::layOutPicture(kSize, 1, captionOf(c.settings));
  const double radius = kerrowbend_host::kSphereShare * kSize;
  const auto expectAt = [&](MarkKind kind, const auto &where, const char *what) {
    const std::vector<PlacedMark> marks = marksOf(layout, kind, kSize);
    if (!where) {
      EXPECT_TRUE(marks.empty()) << "a mark for " << what;
      return;
    }
    ASSERT_EQ(marks.size(), 1U) << what;
    EXPECT_NEAR(marks[0].x, kSize / 2.0 + (*where)[0] * radius, 1e-6) << what;
    EXPECT_NEAR(marks[0].y, layout.band + kSize / 2.0 - (*where)[1] * radius, 1e-6) << what;
  };
  expectAt(MarkKind::Given, c.given, "the reference as given");
  expectAt(MarkKind::Toward, c.toward, "where the normals turn");
  for (const std::string &entry : c.legend) EXPECT_TRUE(has(layout.legend, entry)) << entry;
  for (const std::string &entry : c.absent) EXPECT_FALSE(has(layout.legend, entry)) << entry;
}

const double kS = 1.0 / std::sqrt(2.0);

const MarkCase kMarkCases[] = {
    // A new node has "Invert Vector" on: plugged up, the normals turn down.
    {"PluggedUpTurnsDown",
     plugged({0, 1, 0}),
     {{0, 1}},
     {{0, -1}},
     {"reference (as plugged)", "normals turn toward (inverted)"},
     {"reference"}},
    {"InvertOffTurnsAsPlugged",
     plugged({kS, 0, kS}, 0),
     {{kS, 0}},
     {{kS, 0}},
     {"reference (as plugged)", "normals turn toward"},
     {"normals turn toward (inverted)"}},
    {"ObjectAxisNamesTheObject",
     [] {
       PreviewSettings s;
       s.referenceObject = "Rim";
       s.objects = {{"Rim", {0.6, 0.0, -0.8}}};
       return s;
     }(),
     {{0.6, 0}},
     {{-0.6, 0}},
     {"reference (Rim forward)", "behind the sphere"},
     {}},
    {"ZeroReferenceSaysSo",
     plugged({0, 0, 0}),
     std::nullopt,
     std::nullopt,
     {"reference is zero: normals pass unchanged"},
     {"reference (as plugged)", "normals turn toward (inverted)"}},
    // A stage turns toward its reference as given: one mark says both.
    {"StageTurnsTowardItsReference",
     stages({{{0, 1, 0}, 0.5}}),
     std::nullopt,
     {{0, 1}},
     {"stage reference: normals turn toward it"},
     {}},
    {"ZeroStageSaysSo",
     stages({{{0, 1, 0}, 0.5}, {{0, 0, 0}, 0.5}}),
     std::nullopt,
     {{0, 1}},
     {"stage 2: reference is zero, normals pass unchanged"},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Captions, MarkPlaceTest, ::testing::ValuesIn(kMarkCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Marks at one place are nested: the later rings the earlier with room
// between, so each shows. The default picture's ring sits on the sun; with
// "Invert Vector" off the reference and the turn coincide.
TEST(MarkOverlapTest, MarksAtOnePlaceRingEachOther) {
  const std::vector<std::pair<const char *, PreviewSettings>> cases = {
      {"default", PreviewSettings{}},
      {"invert off", plugged({-1, 1, 1}, 0)},
      {"toward the light", stages({{{-0.55, 0.6, 0.58}, 0.5}})},
  };
  for (const auto &[name, settings] : cases) {
    SCOPED_TRACE(name);
    const PictureLayout layout = kerrowbend_host::layOutPicture(kSize, 1, captionOf(settings));
    int together = 0;
    for (std::size_t i = 0; i < layout.marks.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        const PlacedMark &a = layout.marks[i];
        const PlacedMark &b = layout.marks[j];
        const double apart = std::hypot(a.x - b.x, a.y - b.y);
        if (apart > std::max(outer(a), outer(b))) continue;
        ++together;
        const bool aRingsB = inner(a) > apart + outer(b);
        const bool bRingsA = inner(b) > apart + outer(a);
        EXPECT_TRUE(aRingsB || bRingsA) << "marks " << j << " and " << i << " overlap";
      }
    }
    EXPECT_GT(together, 0) << "the case has no marks at one place";
  }
}

// Every text inside the picture and, for a mark's label, inside its own
// panel; the title no longer than its lines allow and never cut in a word
// without saying so.
struct LayoutCase {
  const char *name;
  int size;
  int rows;
  PreviewSettings settings;
};

std::ostream &operator<<(std::ostream &out, const LayoutCase &c) { return out << c.name; }

class LayoutTest : public ::testing::TestWithParam<LayoutCase> {};

PreviewSettings fortyStages(bool alike) {
  std::vector<DragStage> list;
  for (int i = 0; i < 40; ++i) {
    const double turn = alike ? 0.0 : i * 0.15;
    list.push_back({{std::cos(turn), std::sin(turn), 0.3}, 0.1});
  }
  return stages(list);
}

TEST_P(LayoutTest, KeepsEveryTextInside) {
  const LayoutCase &c = GetParam();
  const PreviewCaption caption = captionOf(c.settings);
  const PictureLayout layout = kerrowbend_host::layOutPicture(c.size, c.rows, caption);
  EXPECT_EQ(layout.width, 2 * c.size);
  EXPECT_EQ(layout.height, layout.band + c.rows * c.size);
  EXPECT_LE(layout.title.size(), 4U);
  for (const auto &text : layout.texts) {
    SCOPED_TRACE(text.text);
    EXPECT_GE(text.left, 0.0);
    EXPECT_GE(text.top, 0.0);
    EXPECT_LE(text.right, layout.width);
    EXPECT_LE(text.bottom, layout.height);
    if (text.baseline > layout.band) {
      // A label over a panel: within that panel.
      const double left = std::floor(text.left / c.size) * c.size;
      EXPECT_LE(text.right, left + c.size);
    }
  }
  // A title line ends in a whole word of the caption, or in "...".
  std::string words = " ";
  for (const std::string &piece : caption.title) words += piece + " ";
  for (const std::string &line : layout.title) {
    const std::string last = line.substr(line.rfind(' ') + 1);
    EXPECT_TRUE(last.ends_with("...") || words.find(" " + last + " ") != std::string::npos)
        << "'" << line << "' ends in a cut word";
  }
}

const LayoutCase kLayoutCases[] = {
    {"DefaultAt64", 64, 1, PreviewSettings{}},
    {"DefaultAt4096", 4096, 1, PreviewSettings{}},
    {"NormalsAt64", 64, 2,
     [] {
       PreviewSettings s;
       s.weightMap = "Gradient";
       return s;
     }()},
    {"LongObjectNameAt64", 64, 1,
     [] {
       PreviewSettings s;
       s.referenceObject = "AVeryLongReferenceObjectNameIndeed";
       s.objects = {{s.referenceObject, {1, 0, 0}}};
       return s;
     }()},
    // The README's multi example: stage 2's label at the right edge.
    {"StageAtTheRightEdge", 512, 2, stages({{{0, 1, 0}, 0.5}, {{1, 0, 0}, 0.3}})},
    {"StageAtTheRightEdgeAt64", 64, 1, stages({{{0, 1, 0}, 0.5}, {{1, 0, 0}, 0.3}})},
    {"FortyAlikeStagesAt64", 64, 1, fortyStages(true)},
    {"FortyStagesAt512", 512, 1, fortyStages(false)},
    {"FortyStagesAt4096", 4096, 1, fortyStages(false)},
};

INSTANTIATE_TEST_SUITE_P(Pictures, LayoutTest, ::testing::ValuesIn(kLayoutCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Stages at one place share one mark and one label, which names them all.
TEST(StageLabelTest, StagesAtOnePlaceShareOneLabel) {
  const PictureLayout layout =
      kerrowbend_host::layOutPicture(kSize, 1, captionOf(fortyStages(true)));
  EXPECT_EQ(marksOf(layout, MarkKind::Toward, kSize).size(), 1U);
  int labels = 0;
  for (const auto &text : layout.texts) {
    if (text.baseline > layout.band && text.right <= kSize) {
      ++labels;
      EXPECT_EQ(text.text, "1-40");
    }
  }
  EXPECT_EQ(labels, 1);
  std::string title;
  for (const std::string &line : layout.title) title += line + "\n";
  EXPECT_NE(title.find("stages 1-40: (1, 0, 0.3) by 0.1"), std::string::npos) << title;
}

TEST(StageLabelTest, ListsRunsShortly) {
  const std::vector<std::pair<std::vector<int>, std::string>> cases = {
      {{3}, "3"},
      {{1, 2}, "1, 2"},
      {{1, 2, 3}, "1-3"},
      {{1, 2, 3, 7}, "1-3, 7"},
      {{2, 4, 5, 6, 9, 10}, "2, 4-6, 9, 10"},
  };
  for (const auto &[stages, text] : cases) {
    EXPECT_EQ(kerrowbend_host::stageList(stages), text) << text;
  }
}

}  // namespace
}  // namespace kerrowbend_test
