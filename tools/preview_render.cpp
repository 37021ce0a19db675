#include "tools/preview_render.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>

namespace kerrowbend_host {

namespace {

// Colours in display space, 0 to 1.
using Colour = std::array<double, 3>;

double dot(const Vec3 &a, const Vec3 &b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Vec3 unit(const Vec3 &v) {
  const double length = std::sqrt(dot(v, v));
  return {v[0] / length, v[1] / length, v[2] / length};
}

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

// The sphere's radius as a share of the panel, leaving a margin around it.
constexpr double kSphereRadius = 0.44;

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

Rgb toRgb(const Colour &c) { return {toByte(c[0]), toByte(c[1]), toByte(c[2])}; }

Colour toColour(const Rgb &c) { return {c[0] / 255.0, c[1] / 255.0, c[2] / 255.0}; }

bool usable(const Vec3 &normal) {
  const double lengthSquared = dot(normal, normal);
  return std::isfinite(lengthSquared) && lengthSquared > 0.0;
}

// A dark backdrop, lighter at the top, the same in every panel so that
// only the sphere differs between them.
Colour backdrop(double heightShare) {
  return mix(Colour{0.22, 0.23, 0.26}, Colour{0.11, 0.11, 0.13}, heightShare);
}

struct Layout {
  int size;
  PreviewShow show;
  double radius;  // in pixels
};

// Draws one row of pixels of the panel pair: each pixel's untouched and
// dragged spot in both rows of panels.
void drawRow(Image &image, const Layout &layout, const DragFunction &drag, int y) {
  const double centre = layout.size / 2.0;
  const double py = (centre - (y + 0.5)) / layout.radius;
  const Colour background = backdrop((y + 0.5) / layout.size);
  for (int x = 0; x < layout.size; ++x) {
    double px = (x + 0.5 - centre) / layout.radius;
    double qy = py;
    const double distance = std::hypot(px, qy);
    // The share of the pixel the sphere covers, from the distance of its
    // centre to the outline, smooths the outline without supersampling.
    const double coverage = std::clamp((1.0 - distance) * layout.radius + 0.5, 0.0, 1.0);
    Rgb shadeBefore = toRgb(background);
    Rgb shadeAfter = shadeBefore;
    Rgb normalBefore = shadeBefore;
    Rgb normalAfter = shadeBefore;
    if (coverage > 0.0) {
      // A pixel on the outline takes the spot just inside it.
      constexpr double kInside = 1.0 - 1e-9;
      if (distance > kInside) {
        px *= kInside / distance;
        qy *= kInside / distance;
      }
      const Vec3 before{px, qy, std::sqrt(std::max(0.0, 1.0 - px * px - qy * qy))};
      const Vec3 after = drag(before);
      const auto over = [&](const Rgb &colour) {
        return toRgb(mix(background, toColour(colour), coverage));
      };
      shadeBefore = over(toonShade(before));
      shadeAfter = over(toonShade(after));
      normalBefore = over(normalColour(before));
      normalAfter = over(normalColour(after));
    }
    image.set(x, y, shadeBefore);
    image.set(layout.size + x, y, shadeAfter);
    if (layout.show == PreviewShow::Normals) {
      image.set(x, layout.size + y, normalBefore);
      image.set(layout.size + x, layout.size + y, normalAfter);
    }
  }
}

}  // namespace

const Vec3 kKeyLight = unit({-0.55, 0.6, 0.58});
const Rgb kUnusableNormal{255, 0, 255};

Image::Image(int w, int h)
    : width(w), height(h), rgb(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3) {}

void Image::set(int x, int y, const Rgb &colour) {
  const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
  std::copy(colour.begin(), colour.end(), rgb.begin() + static_cast<std::ptrdiff_t>(at));
}

Rgb Image::at(int x, int y) const {
  const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
  return {rgb[at], rgb[at + 1], rgb[at + 2]};
}

Rgb toonShade(const Vec3 &normal) {
  if (!usable(normal)) return kUnusableNormal;
  const Vec3 n = unit(normal);
  const double light = dot(n, kKeyLight);
  Colour colour = mix(kShadow, kMidTone, smoothStep(kTerminator, kBandSoftness, light));
  colour = mix(colour, kLit, smoothStep(kLitFrom, kBandSoftness, light));
  const Vec3 halfway =
      unit({kKeyLight[0] + kViewer[0], kKeyLight[1] + kViewer[1], kKeyLight[2] + kViewer[2]});
  colour = mix(colour, kHighlight, smoothStep(kHighlightFrom, kHighlightSoftness, dot(n, halfway)));
  return toRgb(colour);
}

Rgb normalColour(const Vec3 &normal) {
  if (!usable(normal)) return kUnusableNormal;
  const Vec3 n = unit(normal);
  return toRgb({(n[0] + 1.0) / 2.0, (n[1] + 1.0) / 2.0, (n[2] + 1.0) / 2.0});
}

Image renderPreview(int size, PreviewShow show, const DragFunction &drag, unsigned threads) {
  if (size <= 0) throw std::invalid_argument("renderPreview: the size must be positive");
  const int rows = show == PreviewShow::Normals ? 2 : 1;
  Image image(2 * size, rows * size);
  const Layout layout{size, show, kSphereRadius * size};
  if (threads == 0) threads = std::max(1U, std::thread::hardware_concurrency());
  threads = std::min(threads, static_cast<unsigned>(size));
  // Rows are handed out one at a time: the sphere covers the middle rows
  // more than the outer ones, so fixed blocks would leave threads idle.
  std::atomic<int> nextRow{0};
  const auto work = [&] {
    for (int y = nextRow++; y < size; y = nextRow++) drawRow(image, layout, drag, y);
  };
  {
    std::vector<std::jthread> pool;  // joined at the end of the block, before image is returned
    pool.reserve(threads - 1);
    for (unsigned i = 1; i < threads; ++i) pool.emplace_back(work);
    work();
  }
  return image;
}

}  // namespace kerrowbend_host
