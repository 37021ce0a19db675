#include "tools/preview/render.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <thread>

namespace kerrowbend_host {

namespace {

// Colours in display space, 0 to 1.
using Colour = std::array<double, 3>;

using hostsim::dot;
using hostsim::unit;

constexpr Vec3 kViewer{0.0, 0.0, 1.0};

// The ramp: a cool shadow, a mid tone and a warm lit tone, each change
// spread over a narrow range of the light's cosine so the bands read as
// toon shading without stair-stepped edges; the highlight the same way.
constexpr Colour kShadow{0.25, 0.27, 0.45};
constexpr Colour kMidTone{0.80, 0.52, 0.42};
constexpr Colour kLit{1.00, 0.82, 0.66};
constexpr Colour kHighlight{1.00, 0.97, 0.92};
constexpr double kTerminator = 0.0;
constexpr double kLitFrom = 0.45;
constexpr double kHighlightFrom = 0.96;
constexpr double kBandSoftness = 0.04;
constexpr double kHighlightSoftness = 0.006;

double smoothStep(double edge, double softness, double x) {
  const double t = std::clamp((x - (edge - softness)) / (2.0 * softness), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

Colour mix(const Colour &a, const Colour &b, double t) {
  return {a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t};
}

uint8_t toByte(double value) {
  return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

bool usable(const Vec3 &normal) {
  const double lengthSquared = dot(normal, normal);
  return std::isfinite(lengthSquared) && lengthSquared > 0.0;
}

// What a normal that cannot be used is drawn in, so it stands out.
constexpr Colour kUnusable{1.0, 0.0, 1.0};

// The colour of a normal under the key light with a soft three-tone ramp
// and a toon highlight; a normal of any non-zero length is normalised as a
// renderer would.
Colour toonShade(const Vec3 &normal) {
  if (!usable(normal)) return kUnusable;
  const Vec3 n = unit(normal);
  const double light = dot(n, kKeyLight);
  Colour colour = mix(kShadow, kMidTone, smoothStep(kTerminator, kBandSoftness, light));
  colour = mix(colour, kLit, smoothStep(kLitFrom, kBandSoftness, light));
  // Worked out once: every sample of every pixel uses it.
  static const Vec3 halfway =
      unit({kKeyLight[0] + kViewer[0], kKeyLight[1] + kViewer[1], kKeyLight[2] + kViewer[2]});
  return mix(colour, kHighlight, smoothStep(kHighlightFrom, kHighlightSoftness, dot(n, halfway)));
}

Colour normalMapColour(const Vec3 &normal) {
  if (!usable(normal)) return kUnusable;
  const Vec3 n = unit(normal);
  return {(n[0] + 1.0) / 2.0, (n[1] + 1.0) / 2.0, (n[2] + 1.0) / 2.0};
}

void add(Colour &sum, const Colour &c) {
  for (std::size_t i = 0; i < 3; ++i) sum[i] += c[i];
}

// Where in a pixel its samples fall, as shares of its side: n points, one
// in each column of an n-wide grid, their heights spread by the
// bit-reversed index so that no two share a row or a column and any count
// covers the pixel evenly. One sample is the pixel's centre.
std::vector<std::array<double, 2>> samplePattern(int samples) {
  std::vector<std::array<double, 2>> pattern;
  for (int i = 0; i < samples; ++i) {
    double reversed = 0.0;
    double bit = 0.5;
    for (auto rest = static_cast<unsigned>(i); rest != 0; rest >>= 1U, bit /= 2.0) {
      if ((rest & 1U) != 0) reversed += bit;
    }
    pattern.push_back({(i + 0.5) / samples, std::fmod(reversed + 0.5 / samples, 1.0)});
  }
  return pattern;
}

using Pattern = std::vector<std::array<double, 2>>;

struct Layout {
  int size;
  int rows;
  double radius;  // in pixels
};

// The share of the pixel the sphere covers, from the distance of its
// centre to the outline: the outline stays smooth at any sample count.
double coverageAt(const Layout &layout, int x, int y) {
  const double centre = layout.size / 2.0;
  const double distance = std::hypot(x + 0.5 - centre, centre - (y + 0.5)) / layout.radius;
  return std::clamp((1.0 - distance) * layout.radius + 0.5, 0.0, 1.0);
}

std::size_t offset(const Panels &panels, int x, int y) {
  return (static_cast<std::size_t>(y) * panels.width() + x) * 4;
}

void put(Panels &panels, int x, int y, const Colour &colour, double coverage) {
  const std::size_t at = offset(panels, x, y);
  for (std::size_t i = 0; i < 3; ++i) panels.rgba[at + i] = toByte(colour[i]);
  panels.rgba[at + 3] = toByte(coverage);
}

// Draws one pixel of the sphere, the mean of its samples, in every panel:
// the untouched and the dragged spot, in shading and as normal maps.
void drawPixel(Panels &panels, const Layout &layout, const Pattern &pattern,
               const DragFunction &drag, int x, int y) {
  const double coverage = coverageAt(layout, x, y);
  if (coverage <= 0.0) return;
  const double centre = layout.size / 2.0;
  Colour shadeBefore{};
  Colour shadeAfter{};
  Colour normalBefore{};
  Colour normalAfter{};
  for (const auto &[dx, dy] : pattern) {
    double px = (x + dx - centre) / layout.radius;
    double py = (centre - (y + dy)) / layout.radius;
    // A sample beyond the outline takes the spot just inside it: the
    // coverage already says how much of the pixel is sphere.
    constexpr double kInside = 1.0 - 1e-9;
    const double reach = std::hypot(px, py);
    if (reach > kInside) {
      px *= kInside / reach;
      py *= kInside / reach;
    }
    const Vec3 before{px, py, std::sqrt(std::max(0.0, 1.0 - px * px - py * py))};
    const Vec3 after = drag(before);
    add(shadeBefore, toonShade(before));
    add(shadeAfter, toonShade(after));
    if (layout.rows == 2) {
      add(normalBefore, normalMapColour(before));
      add(normalAfter, normalMapColour(after));
    }
  }
  const double share = 1.0 / static_cast<double>(pattern.size());
  const auto mean = [share](const Colour &sum) {
    return Colour{sum[0] * share, sum[1] * share, sum[2] * share};
  };
  put(panels, x, y, mean(shadeBefore), coverage);
  put(panels, layout.size + x, y, mean(shadeAfter), coverage);
  if (layout.rows == 2) {
    put(panels, x, layout.size + y, mean(normalBefore), coverage);
    put(panels, layout.size + x, layout.size + y, mean(normalAfter), coverage);
  }
}

// Whether a pixel drawn from its centre alone differs from a neighbour
// on the sphere, in any panel, by more than the eye takes for a smooth
// change: only there do more samples show anything.
bool uneven(const Panels &panels, const Layout &layout, int x, int y) {
  constexpr int kSmoothStep = 8;  // in any channel, of 255
  for (int row = 0; row < layout.rows; ++row) {
    for (int half = 0; half < 2; ++half) {
      const int left = half * layout.size;
      const int top = row * layout.size;
      const std::size_t here = offset(panels, left + x, top + y);
      for (int ny = std::max(0, y - 1); ny <= std::min(layout.size - 1, y + 1); ++ny) {
        for (int nx = std::max(0, x - 1); nx <= std::min(layout.size - 1, x + 1); ++nx) {
          const std::size_t there = offset(panels, left + nx, top + ny);
          if (panels.rgba[there + 3] == 0) continue;
          for (std::size_t c = 0; c < 3; ++c) {
            if (std::abs(panels.rgba[here + c] - panels.rgba[there + c]) > kSmoothStep) return true;
          }
        }
      }
    }
  }
  return false;
}

// Rows done of all passes, for the progress a caller is told.
struct RowCount {
  std::atomic<long> done{0};
  long total = 1;
  const ProgressFunction *progress = nullptr;
};

// Runs work(y) for every row, on up to threads threads. Rows are handed
// out one at a time: the sphere covers the middle rows more than the outer
// ones, so fixed blocks would leave threads idle.
void forEachRow(int size, unsigned threads, RowCount &count, const std::function<void(int)> &work) {
  std::atomic<int> nextRow{0};
  const auto rows = [&] {
    for (int y = nextRow++; y < size; y = nextRow++) {
      work(y);
      const long done = ++count.done;
      if (*count.progress) {
        (*count.progress)(static_cast<double>(done) / static_cast<double>(count.total));
      }
    }
  };
  std::vector<std::jthread> pool;  // joined on return
  pool.reserve(threads - 1);
  for (unsigned i = 1; i < threads; ++i) pool.emplace_back(rows);
  rows();
}

}  // namespace

const Vec3 kKeyLight = unit({-0.55, 0.6, 0.58});

Rgb normalColour(const Vec3 &normal) {
  const Colour c = normalMapColour(normal);
  return {toByte(c[0]), toByte(c[1]), toByte(c[2])};
}

Panels renderPanels(int size, PreviewShow show, int samples, const DragFunction &drag,
                    unsigned threads, const ProgressFunction &progress) {
  if (size <= 0) throw std::invalid_argument("renderPanels: the size must be positive");
  if (samples < 1 || samples > kMaxSamples) {
    throw std::invalid_argument("renderPanels: the sample count is out of range");
  }
  Panels panels;
  panels.size = size;
  panels.rows = show == PreviewShow::Normals ? 2 : 1;
  // Up to a quarter of a gigabyte at the largest size, which takes the
  // system long enough to hand over that a caller waiting on progress
  // would think the work stuck: it is cleared a slice at a time, and each
  // slice counts as a start.
  const std::size_t bytes = static_cast<std::size_t>(panels.width()) * panels.height() * 4;
  constexpr std::size_t kSlice = std::size_t{1} << 23U;
  panels.rgba.reserve(bytes);
  while (panels.rgba.size() < bytes) {
    panels.rgba.resize(std::min(bytes, panels.rgba.size() + kSlice), 0);
    if (progress) progress(0.0);
  }
  const Layout layout{size, panels.rows, kSphereShare * size};
  if (threads == 0) threads = std::max(1U, std::thread::hardware_concurrency());
  threads = std::min(threads, static_cast<unsigned>(size));
  // Every pixel is drawn from its centre first; only where that leaves
  // neighbours far apart is it drawn again from all its samples, which
  // keeps the cost near one sample a pixel. Which pixels are drawn again is
  // decided from the first drawing alone, so the picture does not depend
  // on the order the threads take the rows in.
  RowCount count;
  count.total = static_cast<long>(size) * (samples == 1 ? 1 : 3);
  count.progress = &progress;
  const Pattern centreOnly = samplePattern(1);
  forEachRow(size, threads, count, [&](int y) {
    for (int x = 0; x < size; ++x) drawPixel(panels, layout, centreOnly, drag, x, y);
  });
  if (samples == 1) return panels;
  std::vector<uint8_t> again(static_cast<std::size_t>(size) * size, 0);
  forEachRow(size, threads, count, [&](int y) {
    for (int x = 0; x < size; ++x) {
      again[static_cast<std::size_t>(y) * size + x] = uneven(panels, layout, x, y) ? 1 : 0;
    }
  });
  const Pattern pattern = samplePattern(samples);
  forEachRow(size, threads, count, [&](int y) {
    for (int x = 0; x < size; ++x) {
      if (again[static_cast<std::size_t>(y) * size + x] != 0) {
        drawPixel(panels, layout, pattern, drag, x, y);
      }
    }
  });
  return panels;
}

}  // namespace kerrowbend_host
