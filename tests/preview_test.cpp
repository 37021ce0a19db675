// kerrowbend-host preview run as a user runs it, its pictures read back:
// the dragged half differs from the untouched half where the node acts and
// only there, settings given two ways that mean the same drag give the same
// panels, the caption band and the backdrop hold together, and every error
// is one line on stderr with nothing written. The picture goes only where a
// file belongs, and a preview stopped by a signal leaves nothing behind.
#include <fcntl.h>
#include <png.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace kerrowbend_test {
namespace {

namespace fs = std::filesystem;

// Pixels across each picture: small, so each run takes milliseconds.
constexpr int kSize = 48;

// A picture is a caption band above rows of panels; at() and panels()
// count from the top of the panels.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  int top = 0;  // the caption band's height

  std::array<int, 3> pixel(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
  std::array<int, 3> at(int x, int y) const { return pixel(x, top + y); }
  std::vector<uint8_t> panels() const {
    return {rgb.begin() + static_cast<std::ptrdiff_t>(top) * width * 3, rgb.end()};
  }
};

int sum(const std::array<int, 3> &colour) { return colour[0] + colour[1] + colour[2]; }

// Reads a picture with panelRows rows of panels under its caption band.
std::optional<Picture> readPng(const fs::path &path, int panelRows = 1) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  Picture picture{static_cast<int>(image.width), static_cast<int>(image.height),
                  std::vector<uint8_t>(PNG_IMAGE_SIZE(image))};
  if (png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) == 0) {
    return std::nullopt;
  }
  picture.top = picture.height - panelRows * kSize;
  return picture;
}

bool holdsPanels(const Picture &p, int panelRows) {
  return p.width == 2 * kSize && p.top >= 0 && p.height - p.top >= panelRows * kSize;
}

// The summed channel difference between the untouched (left) and dragged
// (right) panel of one row of panels, over the pixel rows [top, bottom);
// -1 for a picture without that row of panels.
long halvesDiffer(const Picture &p, int panelRow = 0, int top = 0, int bottom = kSize) {
  if (!holdsPanels(p, panelRow + 1)) return -1;
  long sum = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const auto before = p.at(x, panelRow * kSize + y);
      const auto after = p.at(kSize + x, panelRow * kSize + y);
      for (int c = 0; c < 3; ++c) sum += std::abs(before[c] - after[c]);
    }
  }
  return sum;
}

// The summed channels of the left (0) or right (1) shading panel; -1 for
// a picture without them.
long brightness(const Picture &p, int panel) {
  if (!holdsPanels(p, 1)) return -1;
  long sum = 0;
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      for (int channel : p.at(panel * kSize + x, y)) sum += channel;
    }
  }
  return sum;
}

// The pixels within 5 of the middle of the left (0) or right (1) shading
// panel.
std::vector<std::array<int, 3>> middleOf(const Picture &p, int panel) {
  std::vector<std::array<int, 3>> pixels;
  for (int y = kSize / 2 - 5; y < kSize / 2 + 5; ++y) {
    for (int x = kSize / 2 - 5; x < kSize / 2 + 5; ++x) {
      pixels.push_back(p.at(panel * kSize + x, y));
    }
  }
  return pixels;
}

std::string contents(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ToolRun {
  int status = -1;
  std::string err;
};

class PreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kerrowbend-preview-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs the tool's preview with args and --size kSize; stderr is kept,
  // stdout goes to the file named.
  ToolRun preview(std::vector<std::string> args, bool withSize = true,
                  const fs::path &stdoutFile = "/dev/null") const {
    args.insert(args.begin(), {KERROWBEND_HOST_TOOL, "preview"});
    if (withSize) args.insert(args.end(), {"--size", std::to_string(kSize)});
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const fs::path errFile = dir / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    ToolRun run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.err = contents(errFile);
    fs::remove(errFile);
    return run;
  }

  // Runs the preview into a fresh file and reads the picture back.
  Picture picture(std::vector<std::string> args) {
    const fs::path out = dir / ("picture" + std::to_string(++pictures) + ".png");
    args.insert(args.end(), {"--out", out.string()});
    const ToolRun run = preview(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const bool normals = std::find(args.begin(), args.end(), "normals") != args.end();
    std::optional<Picture> read = readPng(out, normals ? 2 : 1);
    EXPECT_TRUE(read.has_value()) << "no readable PNG at " << out;
    return read.value_or(Picture{});
  }

  fs::path dir;
  int pictures = 0;
};

TEST_F(PreviewTest, DefaultReplacesTheTargetWithBeforeAndAfterSideBySide) {
  const fs::path out = dir / "preview.png";
  std::ofstream(out) << "an earlier file";
  const ToolRun run = preview({"--out", out.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::optional<Picture> p = readPng(out);
  ASSERT_TRUE(p.has_value());
  ASSERT_EQ(p->width, 2 * kSize);
  ASSERT_GT(p->top, 0) << "no caption band above the panels";
  EXPECT_EQ(p->at(0, 0), p->at(kSize, 0)) << "the backdrop differs between the halves";
  EXPECT_GT(halvesDiffer(*p), 0);
  // The default drag leans the normals toward the key light.
  EXPECT_GT(brightness(*p, 1), brightness(*p, 0));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
      << "a temporary file was left beside the picture";
}

TEST_F(PreviewTest, MultiNodeChainsTwoStagesInOrder) {
  const Picture lightFirst =
      picture({"--node", "multi", "--stage", "-1,1,1:0.5", "--stage", "0,-1,0:0.5"});
  const Picture groundFirst =
      picture({"--node", "multi", "--stage", "0,-1,0:0.5", "--stage", "-1,1,1:0.5"});
  EXPECT_GT(halvesDiffer(lightFirst), 0);
  EXPECT_GT(halvesDiffer(groundFirst), 0);
  // The chain does not commute; the same shading would mean a stage was
  // lost. The middle of the sphere is clear of the stages' numbered marks.
  EXPECT_FALSE(middleOf(lightFirst, 1) == middleOf(groundFirst, 1));
}

TEST_F(PreviewTest, NormalsAddARowOfNormalMaps) {
  const Picture p = picture({"--show", "normals"});
  ASSERT_TRUE(holdsPanels(p, 2));
  // The spot facing the camera has the normal (0, 0, 1).
  const auto centre = p.at(kSize / 2, kSize + kSize / 2);
  EXPECT_NEAR(centre[0], 128, 4);
  EXPECT_NEAR(centre[1], 128, 4);
  EXPECT_EQ(centre[2], 255);
  EXPECT_GT(halvesDiffer(p, 1), 0);
}

TEST_F(PreviewTest, WeightMapsActWhereTheyArePainted) {
  const int equator = kSize / 2;
  // Cap is painted above 30 degrees only: below the equator the weight is
  // 0 and the normals come through exactly.
  const Picture cap = picture({"--weight-map", "Cap"});
  EXPECT_GT(halvesDiffer(cap, 0, 0, equator), 0);
  EXPECT_EQ(halvesDiffer(cap, 0, equator, kSize), 0);
  // Gradient falls from 1 at the top to 0 at the bottom: the normals turn
  // most in the upper half.
  const Picture gradient = picture(
      {"--weight-map", "Gradient", "--reference", "1,0,0", "--invert", "0", "--show", "normals"});
  EXPECT_GT(halvesDiffer(gradient, 1, 0, equator), 2 * halvesDiffer(gradient, 1, equator, kSize));
}

TEST_F(PreviewTest, ZeroWeightLeavesTheSphereUntouched) {
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
           {"--weight", "0"}, {"--node", "multi", "--stage", "1,0,0:0"}}) {
    EXPECT_EQ(halvesDiffer(picture(args)), 0) << args[1];
  }
}

TEST_F(PreviewTest, OneBackdropRunsFromTheTopToTheBottom) {
  const Picture p = picture({"--show", "normals"});
  ASSERT_TRUE(holdsPanels(p, 2));
  // The left edge is clear of spheres and text: the backdrop darkens
  // evenly all the way down, with no step where a row of panels starts.
  for (int y = 1; y < p.height; ++y) {
    const int step = sum(p.pixel(0, y - 1)) - sum(p.pixel(0, y));
    ASSERT_TRUE(step >= 0 && step <= 3) << "a step of " << step << " at row " << y;
  }
  EXPECT_GT(sum(p.pixel(0, 0)), sum(p.pixel(0, p.height - 1)) + 30);
}

TEST_F(PreviewTest, CaptionBandHoldsTextOverBothHalves) {
  const Picture p = picture({});
  ASSERT_GT(p.top, 0);
  // Text is drawn far lighter than the backdrop; the title and the legend
  // start on the left, and "after" stands over the right half.
  const auto lightPixels = [&p](int from, int to) {
    int count = 0;
    for (int y = 0; y < p.top; ++y) {
      for (int x = from; x < to; ++x) count += sum(p.pixel(x, y)) > 450 ? 1 : 0;
    }
    return count;
  };
  EXPECT_GT(lightPixels(0, kSize), 20);
  EXPECT_GT(lightPixels(kSize, 2 * kSize), 5);
}

// Where the normal is opposite the reference the node turns neighbouring
// normals far apart: the shading's bands meet in a point. Each pixel there
// should show the blend of what it covers, as a many-sample picture does,
// rather than whichever band its centre happens to fall in.
TEST_F(PreviewTest, SamplesBlendWhereTheNormalIsOppositeTheReference) {
  // The reference points behind the sphere, to the right; the spot opposite
  // it faces the camera on the left, half way to the outline.
  const auto cuspRegion = [this](const char *samples) {
    const Picture p = picture(
        {"--reference", "0.6,0,-0.8", "--invert", "0", "--weight", "0.5", "--samples", samples});
    const int cuspX = kSize + kSize / 2 - static_cast<int>(0.6 * 0.44 * kSize);
    std::vector<std::array<int, 3>> pixels;
    for (int y = kSize / 2 - 6; y < kSize / 2 + 6; ++y) {
      for (int x = cuspX - 6; x < cuspX + 6; ++x) pixels.push_back(p.at(x, y));
    }
    return pixels;
  };
  const auto smooth = cuspRegion("64");
  const auto errorOf = [&](const char *samples) {
    const auto pixels = cuspRegion(samples);
    long error = 0;
    for (std::size_t i = 0; i < pixels.size() && i < smooth.size(); ++i) {
      for (int c = 0; c < 3; ++c) error += std::abs(pixels[i][c] - smooth[i][c]);
    }
    return error;
  };
  const long one = errorOf("1");
  const long four = errorOf("4");
  const long sixteen = errorOf("16");
  EXPECT_LT(four, one / 2) << "1 sample: " << one << ", 4: " << four;
  EXPECT_LT(sixteen, four / 2) << "4 samples: " << four << ", 16: " << sixteen;
}

// Two ways of giving the node the same drag must draw the same panels,
// and one that differs from the untouched sphere. Where the two give the
// reference differently, its square may differ, and only within a mark's
// reach of where it is drawn.
struct SameDrag {
  const char *name;
  std::vector<std::string> one;
  std::vector<std::string> other;
  std::optional<std::array<double, 2>> givenDiffers{};  // as the camera sees it, x right, y up
};

std::ostream &operator<<(std::ostream &out, const SameDrag &c) { return out << c.name; }

class SameDragTest : public PreviewTest, public ::testing::WithParamInterface<SameDrag> {};

TEST_P(SameDragTest, GivesTheSamePicture) {
  const Picture one = picture(GetParam().one);
  const Picture other = picture(GetParam().other);
  EXPECT_GT(halvesDiffer(one), 0);
  ASSERT_EQ(one.panels().size(), other.panels().size());
  const double radius = 0.44 * kSize;
  constexpr double kReach = 15.0;  // a square ringing a ring at kSize, with its outline
  int differing = 0;
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < 2 * kSize; ++x) {
      if (one.at(x, y) == other.at(x, y)) continue;
      const auto &where = GetParam().givenDiffers;
      const double mx = kSize / 2.0 + (where ? (*where)[0] : 0.0) * radius;
      const double my = kSize / 2.0 - (where ? (*where)[1] : 0.0) * radius;
      const bool nearMark = where && std::hypot(x % kSize + 0.5 - mx, y + 0.5 - my) < kReach;
      differing += nearMark ? 0 : 1;
    }
  }
  EXPECT_EQ(differing, 0) << "the panels differ";
}

const SameDrag kSameDrags[] = {
    {"InvertIsOnInANewNode",
     {"--reference", "0,0,-1"},
     {"--reference", "0,0,1", "--invert", "0"},
     std::array{0.0, 0.0}},
    {"InvertNegatesTheReference",
     {"--reference", "0,0,-1", "--invert", "1"},
     {"--reference", "0,0,1", "--invert", "0"},
     std::array{0.0, 0.0}},
    {"ObjectAxisAsReference",
     {"--reference-object", "Aim", "--object", "Aim:1,0,0", "--invert", "0"},
     {"--reference", "1,0,0", "--invert", "0"}},
    {"DefaultReferenceIsKeyAim", {"--object", "KeyAim:0,1,0"}, {"--reference", "0,1,0"}},
    {"SignedAndBareDecimalsReadAlike",
     {"--reference", "+1,0,-0", "--weight", "+.5", "--invert", "0"},
     {"--reference", "1,0,0", "--weight", "0.5", "--invert", "0"}},
    // Vectors as the title prints them may be pasted back.
    {"PrintedVectorsReadAlike",
     {"--reference", "(0.55, -0.6, -0.58)", "--weight", "0.5"},
     {"--reference", "0.55,-0.6,-0.58", "--weight", "0.5"}},
    {"SpacedVectorsWithoutParentheses",
     {"--reference", "1, 0, 0", "--invert", "0"},
     {"--reference", "1,0,0", "--invert", "0"}},
    {"PrintedObjectAxis",
     {"--reference-object", "Aim", "--object", "Aim:(1, 0, 0)"},
     {"--reference-object", "Aim", "--object", "Aim:1,0,0"}},
    {"PrintedStage",
     {"--node", "multi", "--stage", "(1, 0, 0): 0.5"},
     {"--node", "multi", "--stage", "1,0,0:0.5"}},
    // The multi node draws no square: a stage turns toward its reference.
    {"OneStageIsTheSingleNode",
     {"--node", "multi", "--stage", "1,0,0:0.5"},
     {"--reference", "1,0,0", "--invert", "0", "--weight", "0.5"},
     std::array{1.0, 0.0}},
};

INSTANTIATE_TEST_SUITE_P(Settings, SameDragTest, ::testing::ValuesIn(kSameDrags),
                         [](const auto &info) { return std::string(info.param.name); });

// The ring must sit where the node really turns the normals: at weight 1
// every normal lands on the reference, the dragged normal map is one
// colour, and the white ring is what stands out of it (the square of the
// reference as given is not white).
struct MarkedDirection {
  const char *name;
  std::vector<std::string> args;
  double x, y;  // the direction turned toward, as the camera sees it
};

std::ostream &operator<<(std::ostream &out, const MarkedDirection &c) { return out << c.name; }

class MarkTest : public PreviewTest, public ::testing::WithParamInterface<MarkedDirection> {};

TEST_P(MarkTest, SitsWhereTheNormalsTurn) {
  std::vector<std::string> args = GetParam().args;
  args.insert(args.end(), {"--show", "normals"});
  const Picture p = picture(args);
  ASSERT_TRUE(holdsPanels(p, 2));
  const double radius = 0.44 * kSize;
  const double centre = kSize / 2.0;
  const auto [x, y] = std::pair{GetParam().x, GetParam().y};
  // The dragged normal map, away from the mark, has the one colour.
  const auto uniform = p.at(kSize + static_cast<int>(centre - x * radius / 2),
                            kSize + static_cast<int>(centre + y * radius / 2));
  double sumX = 0.0;
  double sumY = 0.0;
  int count = 0;
  for (int py = 0; py < kSize; ++py) {
    for (int px = 0; px < kSize; ++px) {
      if (std::hypot(px + 0.5 - centre, py + 0.5 - centre) > radius - 2.0) continue;
      const auto colour = p.at(kSize + px, kSize + py);
      int difference = 0;
      for (int c = 0; c < 3; ++c) difference += std::abs(colour[c] - uniform[c]);
      if (difference > 60 && std::min({colour[0], colour[1], colour[2]}) > 230) {
        sumX += px + 0.5;
        sumY += py + 0.5;
        ++count;
      }
    }
  }
  ASSERT_GT(count, 5) << "no ring on the dragged normal map";
  EXPECT_NEAR(sumX / count, centre + x * radius, 1.5);
  EXPECT_NEAR(sumY / count, centre - y * radius, 1.5);
}

// Unit directions whose marks lie within half the sphere's radius of its
// middle, clear of the outline.
const MarkedDirection kMarkedDirections[] = {
    {"PluggedReference",
     {"--reference", "0.4,0.3,0.866", "--invert", "0", "--weight", "1"},
     0.4,
     0.3},
    // Invert on, as in a new node: toward the opposite of the reference.
    {"InvertedReference", {"--reference", "0.4,0.3,-0.866", "--weight", "1"}, -0.4, -0.3},
    {"ObjectAxis",
     {"--reference-object", "Aim", "--object", "Aim:-0.3,0.4,0.866", "--invert", "0", "--weight",
      "1"},
     -0.3,
     0.4},
    {"Stage", {"--node", "multi", "--stage", "0.3,-0.4,0.866:1"}, 0.3, -0.4},
};

INSTANTIATE_TEST_SUITE_P(Directions, MarkTest, ::testing::ValuesIn(kMarkedDirections),
                         [](const auto &info) { return std::string(info.param.name); });

// A bad setting: one line on stderr naming the problem, a failing exit and
// the earlier file at --out left as it was, with nothing beside it.
struct BadSetting {
  const char *name;
  std::vector<std::string> args;
  const char *named;  // what the message must mention
};

std::ostream &operator<<(std::ostream &out, const BadSetting &c) { return out << c.name; }

class BadSettingTest : public PreviewTest, public ::testing::WithParamInterface<BadSetting> {};

TEST_P(BadSettingTest, IsOneLineAndWritesNothing) {
  const fs::path out = dir / "preview.png";
  std::ofstream(out) << "an earlier file";
  std::ofstream(dir / "notes.p") << "not a module";
  std::vector<std::string> args = GetParam().args;
  for (std::string &arg : args) {
    if (arg.starts_with("DIR/")) arg = (dir / arg.substr(4)).string();
  }
  args.insert(args.end(), {"--out", out.string()});
  const ToolRun run = preview(args, false);
  EXPECT_NE(run.status, 0);
  EXPECT_TRUE(run.err.starts_with("kerrowbend-host preview: ")) << run.err;
  EXPECT_NE(run.err.find(GetParam().named), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  EXPECT_EQ(contents(out), "an earlier file");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

const BadSetting kBadSettings[] = {
    {"SizeZero", {"--size", "0"}, "--size"},
    {"SizeNotANumber", {"--size", "12px"}, "'12px'"},
    {"NoSamples", {"--samples", "0"}, "--samples"},
    {"SamplesBeyondTheLimit", {"--samples", "65"}, "--samples"},
    {"ReferenceOfTwo", {"--reference", "1,2"}, "'1,2'"},
    {"WeightNotFinite", {"--weight", "inf"}, "--weight"},
    {"InvertOfTwo", {"--invert", "2"}, "--invert"},
    {"UnknownObject", {"--reference-object", "Lamp"}, "'Lamp'"},
    {"ObjectWithoutAxis", {"--object", "Lamp"}, "NAME:X,Y,Z"},
    {"UnknownMap", {"--weight-map", "Freckles"}, "'Freckles'"},
    {"TwoWeights", {"--weight", "1", "--weight-map", "Cap"}, "--weight-map"},
    {"StageOnSingleNode", {"--stage", "1,0,0:1"}, "--stage"},
    {"WeightOnMultiNode", {"--node", "multi", "--weight", "1"}, "--weight"},
    {"StageWithoutWeight", {"--node", "multi", "--stage", "1,0,0"}, "'1,0,0'"},
    {"UnclosedParenthesis", {"--reference", "(1, 0, 0"}, "'(1, 0, 0'"},
    {"EmptyParentheses", {"--reference", "()"}, "'()'"},
    {"SpaceInsideANumber", {"--reference", "1, 0 .5, 0"}, "'1, 0 .5, 0'"},
    {"MissingModule", {"--module", "DIR/missing.p"}, "missing.p"},
    {"ModuleNotALibrary", {"--module", "DIR/notes.p"}, "notes.p"},
};

INSTANTIATE_TEST_SUITE_P(Errors, BadSettingTest, ::testing::ValuesIn(kBadSettings),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(PreviewTest, OutputIntoAMissingFolderIsRefused) {
  const ToolRun run = preview({"--out", (dir / "none" / "preview.png").string()});
  EXPECT_NE(run.status, 0);
  EXPECT_TRUE(run.err.starts_with("kerrowbend-host preview: ")) << run.err;
  EXPECT_NE(run.err.find("preview.png"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir / "none"));
}

TEST_F(PreviewTest, OutDashWritesThePngToStandardOutput) {
  const fs::path file = dir / "file.png";
  ASSERT_EQ(preview({"--out", file.string()}).status, 0);
  const fs::path piped = dir / "stdout.png";
  const ToolRun run = preview({"--out", "-"}, true, piped);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(fs::exists(dir / "-"));
  EXPECT_TRUE(readPng(piped).has_value());
  EXPECT_TRUE(contents(piped) == contents(file)) << "standard output is not the picture";
}

// A run of the tool with one of stdout and stderr on a terminal, and what
// the terminal showed.
struct TerminalRun {
  int status = -1;
  std::string terminal;
  std::string other;  // what went to the other of stdout and stderr
};

TerminalRun onTerminal(const fs::path &dir, std::vector<std::string> args, int terminalFd) {
  args.insert(args.begin(), {KERROWBEND_HOST_TOOL, "preview"});
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  TerminalRun run;
  int controller = -1;
  int terminal = -1;
  if (::openpty(&controller, &terminal, nullptr, nullptr, nullptr) != 0) return run;
  const fs::path otherFile = dir / "other.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, terminal, terminalFd);
  posix_spawn_file_actions_addopen(&actions, terminalFd == 1 ? 2 : 1, otherFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addclose(&actions, controller);
  pid_t pid = 0;
  const bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  ::close(terminal);
  // Read as it comes, so that the tool never waits on a full terminal;
  // the terminal reads as ended (EIO) once the tool and its child are gone.
  for (char buffer[4096];;) {
    const ssize_t got = ::read(controller, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    run.terminal.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(controller);
  if (started) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  run.other = contents(otherFile);
  fs::remove(otherFile);
  return run;
}

TEST_F(PreviewTest, OutDashRefusesATerminal) {
  const TerminalRun run = onTerminal(dir, {"--size", "16", "--out", "-"}, 1);
  EXPECT_GT(run.status, 0);
  EXPECT_LT(run.status, 128);
  EXPECT_EQ(run.terminal, "") << "the PNG went to the terminal";
  EXPECT_NE(run.other.find("terminal"), std::string::npos) << run.other;
  EXPECT_EQ(run.other.find('\n'), run.other.size() - 1) << run.other;
}

// Progress stands on one line of a terminal and is wiped at the end; on a
// file (every other test here) stderr stays empty.
TEST_F(PreviewTest, ProgressShowsOnATerminalOnly) {
  const fs::path out = dir / "big.png";
  const TerminalRun run =
      onTerminal(dir, {"--size", "1024", "--samples", "16", "--out", out.string()}, 2);
  EXPECT_EQ(run.status, 0) << run.terminal;
  EXPECT_NE(run.terminal.find("shading "), std::string::npos) << run.terminal;
  EXPECT_NE(run.terminal.find('%'), std::string::npos) << run.terminal;
  EXPECT_EQ(run.terminal.find('\n'), std::string::npos) << "progress left a line behind";
  EXPECT_TRUE(run.terminal.ends_with("\r\033[K")) << "the progress was not wiped";
  EXPECT_TRUE(readPng(out, 1).has_value());
}

// The largest, most sampled picture takes many seconds, with long stretches
// in which no pixel calls the module; none of them may count as silence.
TEST_F(PreviewTest, TheLargestPictureIsNeverStoppedForItsSize) {
#if defined(KERROWBEND_SANITIZED)
  GTEST_SKIP() << "minutes under sanitizers; the limit's logic is the same in every build";
#endif
  const fs::path out = dir / "largest.png";
  const ToolRun run = preview(
      {"--size", "4096", "--samples", "64", "--time-limit", "1", "--out", out.string()}, false);
  EXPECT_EQ(run.status, 0) << run.err;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_file(&image, out.c_str()), 0);
  EXPECT_EQ(image.width, 8192U);
  png_image_free(&image);
}

// The time limit is for a module gone silent, not for a long picture: the
// drawing takes longer than the limit and still gets written.
TEST_F(PreviewTest, ASlowButLiveModuleOutlastsTheTimeLimit) {
  const fs::path out = dir / "slow.png";
  const auto start = std::chrono::steady_clock::now();
  const ToolRun run = preview(
      {"--module", EVAL_SLOW_MODULE, "--size", "24", "--time-limit", "1", "--out", out.string()},
      false);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(readPng(out).has_value());
  EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1))
      << "the drawing was too quick to show anything";
}

// Where --out may point, and what must be left of it: only a regular file,
// or one that a symbolic link names, is replaced, and the link stays.
struct OutputTarget {
  const char *name;
  // Makes what --out will name in dir; gives the --out path, or nothing
  // where this test may not make it.
  std::optional<fs::path> (*make)(const fs::path &dir);
  // Whether what was there is as the test made it (with the picture
  // written, where one is).
  bool (*kept)(const fs::path &dir);
  bool written;
};

std::ostream &operator<<(std::ostream &out, const OutputTarget &c) { return out << c.name; }

class OutputTargetTest : public PreviewTest, public ::testing::WithParamInterface<OutputTarget> {};

TEST_P(OutputTargetTest, IsWrittenOnlyWhereAFileBelongs) {
  const std::optional<fs::path> out = GetParam().make(dir);
  if (!out) GTEST_SKIP() << "this test may not make " << GetParam().name;
  const auto entries = [this] {
    return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
  };
  const auto before = entries();
  const ToolRun run = preview({"--out", out->string()});
  if (GetParam().written) {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(readPng(*out).has_value());
  } else {
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.starts_with("kerrowbend-host preview: --out: '" + out->string() + "' "))
        << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
  EXPECT_TRUE(GetParam().kept(dir));
  EXPECT_EQ(entries(), before) << "a file was left beside the picture";
}

const OutputTarget kOutputTargets[] = {
    {"NamedPipe",
     [](const fs::path &dir) -> std::optional<fs::path> {
       ::mkfifo((dir / "pipe.png").c_str(), 0600);
       return dir / "pipe.png";
     },
     [](const fs::path &dir) { return fs::is_fifo(dir / "pipe.png"); }, false},
    {"Device",
     [](const fs::path &dir) -> std::optional<fs::path> {
       // The device that /dev/full is, made anew where the test can see it.
       if (::mknod((dir / "full.png").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) return {};
       return dir / "full.png";
     },
     [](const fs::path &dir) { return fs::is_character_file(dir / "full.png"); }, false},
    {"Directory",
     [](const fs::path &dir) -> std::optional<fs::path> {
       fs::create_directory(dir / "folder.png");
       return dir / "folder.png";
     },
     [](const fs::path &dir) { return fs::is_empty(dir / "folder.png"); }, false},
    {"LinkToADevice",
     [](const fs::path &dir) -> std::optional<fs::path> {
       fs::create_symlink("/dev/null", dir / "null.png");
       return dir / "null.png";
     },
     [](const fs::path &dir) { return fs::read_symlink(dir / "null.png") == "/dev/null"; }, false},
    {"LinkToAFile",
     [](const fs::path &dir) -> std::optional<fs::path> {
       fs::create_directory(dir / "pictures");
       std::ofstream(dir / "pictures" / "real.png") << "an earlier file";
       fs::create_symlink("pictures/real.png", dir / "link.png");
       return dir / "link.png";
     },
     [](const fs::path &dir) {
       return fs::read_symlink(dir / "link.png") == "pictures/real.png" &&
              readPng(dir / "pictures" / "real.png").has_value() &&
              std::distance(fs::directory_iterator(dir / "pictures"), fs::directory_iterator()) ==
                  1;
     },
     true},
};

INSTANTIATE_TEST_SUITE_P(Out, OutputTargetTest, ::testing::ValuesIn(kOutputTargets),
                         [](const auto &info) { return std::string(info.param.name); });

// The pids of the children of pid, as Linux lists them.
std::vector<pid_t> childrenOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::vector<pid_t> children;
  for (pid_t child = 0; in >> child;) children.push_back(child);
  return children;
}

// Gone, or dead and waiting to be reaped.
bool ended(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t state = stat.rfind(") ");
  return state == std::string::npos || stat[state + 2] == 'Z';
}

TEST_F(PreviewTest, StoppedBySignalLeavesNothingAndEndsItsChild) {
  using namespace std::chrono_literals;
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    // Large enough to be still drawing when the signal comes.
    std::string out = (dir / "big.png").string();
    std::vector<std::string> args = {
        KERROWBEND_HOST_TOOL, "preview", "--size", "2048", "--out", out};
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    // A test run in the background inherits SIGINT ignored.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, &attributes, argv.data(), environ), 0);
    posix_spawnattr_destroy(&attributes);

    std::vector<pid_t> children;
    for (auto waited = 0ms; children.empty() && waited < 20s; waited += 10ms) {
      std::this_thread::sleep_for(10ms);
      children = childrenOf(pid);
    }
    EXPECT_EQ(children.size(), 1u) << "the tool started no child to draw in";
    std::this_thread::sleep_for(200ms);
    ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
    for (const pid_t child : children) {
      bool gone = ended(child);
      for (auto waited = 0ms; !gone && waited < 5s; waited += 10ms) {
        std::this_thread::sleep_for(10ms);
        gone = ended(child);
      }
      EXPECT_TRUE(gone) << "the child drawing the picture outlived the tool";
    }
    EXPECT_TRUE(fs::is_empty(dir)) << "the stopped preview left a file";
  }
}

}  // namespace
}  // namespace kerrowbend_test
