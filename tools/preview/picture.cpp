#include "tools/preview/picture.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kerrowbend_host {

namespace {

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

struct Colour {
  double r, g, b;
};

// A dark backdrop, lighter at the top, running once from the top of the
// panels to the bottom so that no row of panels starts it anew; the
// caption band above keeps its top colour, so the panels look the same
// however long the caption.
constexpr Colour kBackdropTop{0.22, 0.23, 0.26};
constexpr Colour kBackdropBottom{0.11, 0.11, 0.13};
constexpr Colour kText{0.90, 0.90, 0.88};
constexpr Colour kOutline{0.08, 0.08, 0.10};
constexpr Colour kSun{1.00, 0.84, 0.25};
constexpr Colour kReference{1.00, 1.00, 1.00};

// Between the pieces of a title line: plain ASCII, which even the font
// Cairo falls back on when the system has none can draw.
constexpr const char *kTitleSeparator = "  |  ";

// Cairo's own text, in a family every system's fontconfig resolves.
constexpr const char *kFontFamily = "sans-serif";

// Sizes in pixels, from the panel's side: text stays readable in small
// pictures and does not grow without end in large ones.
struct Style {
  double font;
  double line;    // from one baseline to the next
  double margin;  // around the band's text
  double gap;     // between legend entries
  double mark;    // radius of a mark on a sphere
  double symbol;  // radius of a mark in the legend
};

Style styleFor(int size) {
  const double font = std::clamp(size / 16.0, 10.0, 20.0);
  return {font, 1.3 * font, 0.6 * font, 1.2 * font, std::max(2.5, size * 0.018), 0.3 * font};
}

void setColour(cairo_t *cr, const Colour &c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

void useFont(cairo_t *cr, const Style &style, bool bold) {
  cairo_select_font_face(cr, kFontFamily, CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, style.font);
}

double textWidth(cairo_t *cr, const std::string &text) {
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  return extents.x_advance;
}

// Strokes the current path in colour over a darker, wider outline, so the
// stroke reads on the light and the dark parts of a sphere alike.
void outlinedStroke(cairo_t *cr, double width, const Colour &colour) {
  cairo_set_line_width(cr, width + 2.0);
  setColour(cr, kOutline);
  cairo_stroke_preserve(cr);
  cairo_set_line_width(cr, width);
  setColour(cr, colour);
  cairo_stroke(cr);
}

// What a mark stands for; a direction away from the camera is drawn
// hollow and dashed, since it is seen through the sphere.
enum class Mark { Light, Reference, Away, Swatch, None };

void drawSun(cairo_t *cr, double x, double y, double radius, bool away) {
  const double width = std::max(1.0, radius / 3.0);
  cairo_new_path(cr);
  for (int ray = 0; ray < 8; ++ray) {
    const double angle = ray * std::numbers::pi / 4.0;
    cairo_move_to(cr, x + 1.15 * radius * std::cos(angle), y + 1.15 * radius * std::sin(angle));
    cairo_line_to(cr, x + 1.6 * radius * std::cos(angle), y + 1.6 * radius * std::sin(angle));
  }
  outlinedStroke(cr, width, kSun);
  cairo_new_sub_path(cr);
  cairo_arc(cr, x, y, 0.8 * radius, 0.0, 2.0 * std::numbers::pi);
  if (!away) {
    setColour(cr, kSun);
    cairo_fill_preserve(cr);
  }
  outlinedStroke(cr, width, kSun);
}

void drawRing(cairo_t *cr, double x, double y, double radius, bool away) {
  const double width = std::max(1.0, radius / 3.0);
  cairo_new_path(cr);
  if (away) {
    const std::array<double, 1> dash{std::max(1.5, radius * 0.7)};
    cairo_set_dash(cr, dash.data(), 1, 0.0);
  } else {
    cairo_arc(cr, x, y, std::max(1.0, radius / 3.0), 0.0, 2.0 * std::numbers::pi);
    setColour(cr, kReference);
    cairo_fill(cr);
  }
  cairo_new_sub_path(cr);
  cairo_arc(cr, x, y, 2.2 * radius, 0.0, 2.0 * std::numbers::pi);
  outlinedStroke(cr, width, kReference);
  cairo_set_dash(cr, nullptr, 0, 0.0);
}

// A text with a dark outline, for labels over the spheres.
void outlinedText(cairo_t *cr, double x, double y, const std::string &text) {
  cairo_new_path(cr);
  cairo_move_to(cr, x, y);
  cairo_text_path(cr, text.c_str());
  cairo_set_line_width(cr, 2.0);
  setColour(cr, kOutline);
  cairo_stroke_preserve(cr);
  setColour(cr, kReference);
  cairo_fill(cr);
}

// One entry of the title or the legend: a mark, a text, or both.
struct Piece {
  Mark mark = Mark::None;
  std::string text;
  Rgb swatch{};
  double width = 0.0;
};

double markWidth(const Piece &piece, const Style &style) {
  return piece.mark == Mark::None ? 0.0 : 5.0 * style.symbol;
}

// Breaks pieces into lines no wider than width, with space between the
// pieces of a line; a piece wider than a line gets a line of its own.
std::vector<std::vector<Piece>> flow(const std::vector<Piece> &pieces, double space, double width) {
  std::vector<std::vector<Piece>> lines;
  double used = 0.0;
  for (const Piece &piece : pieces) {
    if (lines.empty() || used + space + piece.width > width) {
      lines.emplace_back();
      used = -space;
    }
    lines.back().push_back(piece);
    used += space + piece.width;
  }
  return lines;
}

void drawMark(cairo_t *cr, Mark mark, double x, double y, double radius) {
  switch (mark) {
    case Mark::Light:
      drawSun(cr, x, y, radius, false);
      break;
    case Mark::Reference:
      drawRing(cr, x, y, radius, false);
      break;
    case Mark::Away:
      drawRing(cr, x, y, radius, true);
      break;
    case Mark::Swatch:
    case Mark::None:
      break;
  }
}

void drawPiece(cairo_t *cr, const Piece &piece, const Style &style, double x, double baseline) {
  const double middle = baseline - 0.35 * style.font;
  if (piece.mark == Mark::Swatch) {
    const double side = 2.6 * style.symbol;
    cairo_new_path(cr);
    cairo_rectangle(cr, x + style.symbol, middle - side / 2.0, side, side);
    cairo_set_source_rgb(cr, piece.swatch[0] / 255.0, piece.swatch[1] / 255.0,
                         piece.swatch[2] / 255.0);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1.0);
    setColour(cr, kOutline);
    cairo_stroke(cr);
  } else {
    drawMark(cr, piece.mark, x + 2.0 * style.symbol, middle, style.symbol * 0.8);
  }
  setColour(cr, kText);
  cairo_move_to(cr, x + markWidth(piece, style), baseline);
  cairo_show_text(cr, piece.text.c_str());
}

struct Band {
  std::vector<std::vector<Piece>> title;
  std::vector<std::vector<Piece>> legend;
  double height = 0.0;
};

struct Direction {
  double x, y;  // on the picture plane, y up
  bool away;
};

// Where a direction meets the unit sphere, as the camera sees it; none for
// a direction of no length.
std::optional<Direction> seen(const Vec3 &v) {
  const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (!std::isfinite(length) || length == 0.0) return std::nullopt;
  return Direction{v[0] / length, v[1] / length, v[2] < 0.0};
}

// The legend in groups, each starting a line of its own: the marks, then
// the normal-map colours where the picture has them.
std::vector<std::vector<Piece>> legendGroups(const PreviewCaption &caption, int rows) {
  bool away = seen(kKeyLight)->away;
  for (const MarkedReference &reference : caption.references) {
    const std::optional<Direction> direction = seen(reference.direction);
    away = away || (direction && direction->away);
  }
  std::vector<std::vector<Piece>> groups{
      {{Mark::Light, "key light"}, {Mark::Reference, "reference"}}};
  if (away) groups.back().push_back({Mark::Away, "behind the sphere"});
  if (rows == 2) {
    groups.push_back({{Mark::None, "normal map:"},
                      {Mark::Swatch, "x right", normalColour({1.0, 0.0, 0.0})},
                      {Mark::Swatch, "y up", normalColour({0.0, 1.0, 0.0})},
                      {Mark::Swatch, "z toward you", normalColour({0.0, 0.0, 1.0})}});
  }
  return groups;
}

Band layOutBand(cairo_t *cr, const PreviewCaption &caption, const Style &style, int rows,
                double width) {
  const double room = width - 2.0 * style.margin;
  std::vector<Piece> title;
  useFont(cr, style, true);
  for (const std::string &text : caption.title) {
    title.push_back({Mark::None, text, {}, textWidth(cr, text)});
  }
  Band band;
  band.title = flow(title, textWidth(cr, kTitleSeparator), room);
  useFont(cr, style, false);
  for (std::vector<Piece> &group : legendGroups(caption, rows)) {
    for (Piece &piece : group) piece.width = markWidth(piece, style) + textWidth(cr, piece.text);
    for (std::vector<Piece> &line : flow(group, style.gap, room)) band.legend.push_back(line);
  }
  const auto lines = static_cast<double>(band.title.size() + band.legend.size() + 1);
  band.height = std::ceil(2.0 * style.margin + lines * style.line);
  return band;
}

void drawBand(cairo_t *cr, const Band &band, const Style &style, double width) {
  double baseline = style.margin + style.font;
  useFont(cr, style, true);
  for (const std::vector<Piece> &line : band.title) {
    std::string text;
    for (const Piece &piece : line) text += (text.empty() ? "" : kTitleSeparator) + piece.text;
    setColour(cr, kText);
    cairo_move_to(cr, style.margin, baseline);
    cairo_show_text(cr, text.c_str());
    baseline += style.line;
  }
  useFont(cr, style, false);
  for (const std::vector<Piece> &line : band.legend) {
    double x = style.margin;
    for (const Piece &piece : line) {
      drawPiece(cr, piece, style, x, baseline);
      x += piece.width + style.gap;
    }
    baseline += style.line;
  }
  setColour(cr, kText);
  for (const auto &[label, centre] : {std::pair{"before", 0.25}, std::pair{"after", 0.75}}) {
    cairo_move_to(cr, centre * width - textWidth(cr, label) / 2.0, baseline);
    cairo_show_text(cr, label);
  }
}

// A pixel of a Cairo image surface: four bytes, native-endian.
unsigned char *pixelAt(unsigned char *data, int stride, int x, int y) {
  return data + static_cast<std::ptrdiff_t>(y) * stride + static_cast<std::ptrdiff_t>(x) * 4;
}

// The panels as a Cairo surface, colours multiplied by coverage as Cairo
// keeps them.
Surface panelSurface(const Panels &panels) {
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, panels.width(), panels.height()),
                  &cairo_surface_destroy);
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return surface;
  cairo_surface_flush(surface.get());
  unsigned char *data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  for (int y = 0; y < panels.height(); ++y) {
    for (int x = 0; x < panels.width(); ++x) {
      const uint8_t *from = &panels.rgba[(static_cast<std::size_t>(y) * panels.width() + x) * 4];
      const uint32_t alpha = from[3];
      const auto times = [alpha](uint8_t c) { return (c * alpha + 127U) / 255U; };
      const uint32_t pixel =
          alpha << 24U | times(from[0]) << 16U | times(from[1]) << 8U | times(from[2]);
      std::memcpy(pixelAt(data, stride, x, y), &pixel, 4);
    }
  }
  cairo_surface_mark_dirty(surface.get());
  return surface;
}

void drawMarks(cairo_t *cr, const Panels &panels, const PreviewCaption &caption, const Style &style,
               double top) {
  const double radius = kSphereShare * panels.size;
  const auto place = [&](int row, int half, const Direction &d) {
    return std::pair{half * panels.size + panels.size / 2.0 + d.x * radius,
                     top + row * panels.size + panels.size / 2.0 - d.y * radius};
  };
  useFont(cr, style, true);
  cairo_set_font_size(cr, std::max(9.0, 0.85 * style.font));
  for (int row = 0; row < panels.rows; ++row) {
    for (int half = 0; half < 2; ++half) {
      // A mark at the outline stays in its own panel.
      cairo_save(cr);
      cairo_rectangle(cr, half * panels.size, top + row * panels.size, panels.size, panels.size);
      cairo_clip(cr);
      for (const MarkedReference &reference : caption.references) {
        const std::optional<Direction> direction = seen(reference.direction);
        if (!direction) continue;
        const auto [x, y] = place(row, half, *direction);
        drawRing(cr, x, y, style.mark, direction->away);
        if (!reference.label.empty()) {
          outlinedText(cr, x + 2.4 * style.mark, y - 1.4 * style.mark, reference.label);
        }
      }
      // The light matters to the shading row alone.
      if (row == 0) {
        const Direction light = *seen(kKeyLight);
        const auto [x, y] = place(row, half, light);
        drawSun(cr, x, y, style.mark, light.away);
      }
      cairo_restore(cr);
    }
  }
}

Image imageOf(cairo_surface_t *surface) {
  cairo_surface_flush(surface);
  Image image{cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface), {}};
  image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  unsigned char *data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  auto to = image.rgb.begin();
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      uint32_t pixel = 0;
      std::memcpy(&pixel, pixelAt(data, stride, x, y), 4);
      *to++ = static_cast<uint8_t>(pixel >> 16U);
      *to++ = static_cast<uint8_t>(pixel >> 8U);
      *to++ = static_cast<uint8_t>(pixel);
    }
  }
  return image;
}

void check(cairo_status_t status) {
  if (status != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error(std::string("drawing the picture failed: ") +
                             cairo_status_to_string(status));
  }
}

Image drawPicture(const Panels &panels, const PreviewCaption &caption) {
  const Style style = styleFor(panels.size);
  const int width = panels.width();
  Band band;
  {
    // Text is measured before the picture's height is known.
    const Surface scratch(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1),
                          &cairo_surface_destroy);
    const Context cr(cairo_create(scratch.get()), &cairo_destroy);
    band = layOutBand(cr.get(), caption, style, panels.rows, width);
    check(cairo_status(cr.get()));
  }
  const int top = static_cast<int>(band.height);
  const Surface picture(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, top + panels.height()),
      &cairo_surface_destroy);
  const Surface spheres = panelSurface(panels);
  check(cairo_surface_status(spheres.get()));
  const Context cr(cairo_create(picture.get()), &cairo_destroy);
  cairo_t *c = cr.get();

  const std::unique_ptr<cairo_pattern_t, decltype(&cairo_pattern_destroy)> backdrop(
      cairo_pattern_create_linear(0.0, top, 0.0, top + panels.height()), &cairo_pattern_destroy);
  cairo_pattern_add_color_stop_rgb(backdrop.get(), 0.0, kBackdropTop.r, kBackdropTop.g,
                                   kBackdropTop.b);
  cairo_pattern_add_color_stop_rgb(backdrop.get(), 1.0, kBackdropBottom.r, kBackdropBottom.g,
                                   kBackdropBottom.b);
  cairo_set_source(c, backdrop.get());
  cairo_paint(c);
  cairo_set_source_surface(c, spheres.get(), 0.0, top);
  cairo_paint(c);

  drawMarks(c, panels, caption, style, top);
  drawBand(c, band, style, width);
  check(cairo_status(c));
  return imageOf(picture.get());
}

}  // namespace

Image composePicture(const Panels &panels, const PreviewCaption &caption) {
  Image image = drawPicture(panels, caption);
  // Cairo and fontconfig keep the fonts they found for the life of the
  // process; a tool that draws one picture hands them back, so that leak
  // checkers see it end clean. The next picture finds them anew.
  cairo_debug_reset_static_data();
  FcFini();
  return image;
}

}  // namespace kerrowbend_host
