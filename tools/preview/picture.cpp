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

void check(cairo_status_t status) {
  if (status != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error(std::string("drawing the picture failed: ") +
                             cairo_status_to_string(status));
  }
}

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
constexpr Colour kGiven{0.45, 0.85, 1.00};

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

// A mark of the legend: a mark on the sphere drawn small, a colour, or
// nothing before the text.
enum class Symbol { Light, Given, Toward, Away, Swatch, None };

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

void dashed(cairo_t *cr, double length) {
  const std::array<double, 1> dash{std::max(1.5, length)};
  cairo_set_dash(cr, dash.data(), 1, 0.0);
}

// Where the normals turn: a ring with a dot in its middle; a ring around
// another mark leaves the dot out, so the mark inside stays whole.
void drawRing(cairo_t *cr, double x, double y, double radius, double width, bool away, bool dot) {
  cairo_new_path(cr);
  if (away) {
    dashed(cr, radius * 0.32);
  } else if (dot) {
    cairo_arc(cr, x, y, std::max(1.0, radius / 6.6), 0.0, 2.0 * std::numbers::pi);
    setColour(cr, kReference);
    cairo_fill(cr);
  }
  cairo_new_sub_path(cr);
  cairo_arc(cr, x, y, radius, 0.0, 2.0 * std::numbers::pi);
  outlinedStroke(cr, width, kReference);
  cairo_set_dash(cr, nullptr, 0, 0.0);
}

// The reference as given: a square in a colour of its own, so that it
// never reads as the ring beside or around it.
void drawSquare(cairo_t *cr, double x, double y, double half, double width, bool away) {
  cairo_new_path(cr);
  if (away) dashed(cr, half * 0.45);
  cairo_rectangle(cr, x - half, y - half, 2.0 * half, 2.0 * half);
  outlinedStroke(cr, width, kGiven);
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

// One entry of the legend: a symbol, a text, or both.
struct Piece {
  Symbol symbol = Symbol::None;
  std::string text;
  Rgb swatch{};
  double width = 0.0;
};

double symbolWidth(const Piece &piece, const Style &style) {
  return piece.symbol == Symbol::None ? 0.0 : 5.0 * style.symbol;
}

// Cuts text, at a character, until it and "..." fit width; ASCII dots,
// which every font has.
std::string shortened(cairo_t *cr, std::string text, double width, bool always = false) {
  if (!always && textWidth(cr, text) <= width) return text;
  while (!text.empty() && textWidth(cr, text + "...") > width) {
    text.pop_back();
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0U) == 0x80U) {
      text.pop_back();
    }
    if (!text.empty() && (static_cast<unsigned char>(text.back()) & 0x80U) != 0) text.pop_back();
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text + "...";
}

std::vector<std::string> wordsOf(const std::string &text) {
  std::vector<std::string> words;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t space = std::min(text.find(' ', from), text.size());
    if (space > from) words.push_back(text.substr(from, space - from));
    from = space + 1;
  }
  return words;
}

// The title in lines no wider than width: pieces side by side with the
// separator between them; a piece too long for a line broken between its
// words, and a word too long cut short. Past maxLines the last line ends
// in "...", so that a title of many stages leaves room for the spheres.
std::vector<std::string> titleLines(cairo_t *cr, const std::vector<std::string> &pieces,
                                    double width, std::size_t maxLines) {
  std::vector<std::string> lines;
  const auto add = [&](const std::string &text, const char *joiner) {
    if (!lines.empty() && textWidth(cr, lines.back() + joiner + text) <= width) {
      lines.back() += joiner + text;
    } else {
      lines.push_back(shortened(cr, text, width));
    }
  };
  for (const std::string &piece : pieces) {
    if (textWidth(cr, piece) <= width) {
      add(piece, kTitleSeparator);
      continue;
    }
    const char *joiner = kTitleSeparator;
    for (const std::string &word : wordsOf(piece)) {
      add(word, joiner);
      joiner = " ";
    }
  }
  if (lines.size() > maxLines) {
    lines.resize(maxLines);
    // After the separator, so that "..." cannot be read as part of a number.
    lines.back() = shortened(cr, lines.back() + kTitleSeparator, width, true);
  }
  return lines;
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
    for (const Vec3 &v : {reference.given, reference.toward}) {
      const std::optional<Direction> direction = seen(v);
      away = away || (direction && direction->away);
    }
  }
  std::vector<std::vector<Piece>> groups{{{Symbol::Light, "key light"}}};
  if (!caption.references.empty()) {
    if (!caption.givenName.empty()) groups.back().push_back({Symbol::Given, caption.givenName});
    groups.back().push_back({Symbol::Toward, caption.towardName});
  }
  if (!caption.zeroNote.empty()) groups.back().push_back({Symbol::None, caption.zeroNote});
  if (away) groups.back().push_back({Symbol::Away, "behind the sphere"});
  if (rows == 2) {
    groups.push_back({{Symbol::None, "normal map:"},
                      {Symbol::Swatch, "x right", normalColour({1.0, 0.0, 0.0})},
                      {Symbol::Swatch, "y up", normalColour({0.0, 1.0, 0.0})},
                      {Symbol::Swatch, "z toward you", normalColour({0.0, 0.0, 1.0})}});
  }
  return groups;
}

// How far a mark reaches from its middle (outer) and how far its outline
// keeps clear of it (inner): another mark fits inside if it reaches less
// than inner.
double outerOf(const PlacedMark &mark) {
  switch (mark.kind) {
    case MarkKind::Light:
      return 1.6 * mark.radius;
    case MarkKind::Given:
      return std::numbers::sqrt2 * mark.radius;
    case MarkKind::Toward:
      break;
  }
  return mark.radius;
}

double innerOf(const PlacedMark &mark) { return mark.kind == MarkKind::Light ? 0.0 : mark.radius; }

// Marks that share a place (the sun and the ring in the default picture, a
// reference and the way the normals turn with "Invert Vector" off) would
// hide one another: each later mark grows to ring the earlier ones whose
// middle it covers. Marks merely touching are left as they are; both are
// outlines and stay readable.
void ringEarlierMarks(std::vector<PlacedMark> &marks, std::size_t from, double gap) {
  for (std::size_t i = from; i < marks.size(); ++i) {
    for (std::size_t j = from; j < i; ++j) {
      const double apart = std::hypot(marks[i].x - marks[j].x, marks[i].y - marks[j].y);
      if (apart > outerOf(marks[j])) continue;
      const double needed = apart + outerOf(marks[j]) + gap;
      if (innerOf(marks[i]) < needed) {
        marks[i].radius *= needed / innerOf(marks[i]);
        marks[i].ringsAnother = true;
      }
    }
  }
}

// A text's place, with the box its ink fills.
PlacedText placedText(cairo_t *cr, const std::string &text, double x, double baseline) {
  cairo_text_extents_t ink;
  cairo_text_extents(cr, text.c_str(), &ink);
  return {text,
          x,
          baseline,
          x + ink.x_bearing,
          baseline + ink.y_bearing,
          x + ink.x_bearing + ink.width,
          baseline + ink.y_bearing + ink.height};
}

// Moves a text by whole pixels until its ink lies inside the box.
void keepInside(PlacedText &text, double left, double top, double right, double bottom) {
  const double dx = std::max(left - text.left, 0.0) + std::min(right - text.right, 0.0);
  const double dy = std::max(top - text.top, 0.0) + std::min(bottom - text.bottom, 0.0);
  text.x += dx;
  text.left += dx;
  text.right += dx;
  text.baseline += dy;
  text.top += dy;
  text.bottom += dy;
}

// What the drawing needs besides the layout that is shown: which font
// each text takes, and the legend's symbols.
enum class Font { Title, Body, Label };
struct LegendSymbol {
  Piece piece;
  double x, baseline;
};
struct FullLayout {
  PictureLayout shown;
  std::vector<Font> fonts;  // one per text
  std::vector<LegendSymbol> symbols;
};

void useFont(cairo_t *cr, const Style &style, Font font) {
  useFont(cr, style, font != Font::Body);
  if (font == Font::Label) cairo_set_font_size(cr, std::max(9.0, 0.85 * style.font));
}

void layOutBand(cairo_t *cr, FullLayout &layout, const PreviewCaption &caption, const Style &style,
                int rows) {
  PictureLayout &shown = layout.shown;
  const double room = shown.width - 2.0 * style.margin;
  // Enough title for any caption a user writes by hand; forty stages are
  // summed up rather than pushing the spheres out of sight.
  constexpr std::size_t kMaxTitleLines = 4;
  useFont(cr, style, Font::Title);
  shown.title = titleLines(cr, caption.title, room, kMaxTitleLines);
  double baseline = style.margin + style.font;
  for (const std::string &line : shown.title) {
    shown.texts.push_back(placedText(cr, line, style.margin, baseline));
    layout.fonts.push_back(Font::Title);
    baseline += style.line;
  }
  useFont(cr, style, Font::Body);
  for (std::vector<Piece> &group : legendGroups(caption, rows)) {
    // An entry too long for a line goes on over the next, between words,
    // rather than lose the words that say what its mark is.
    std::vector<Piece> pieces;
    for (Piece &piece : group) {
      shown.legend.push_back(piece.text);
      for (const std::string &part :
           titleLines(cr, {piece.text}, room - symbolWidth(piece, style), std::string::npos)) {
        Piece line = piece;
        line.text = part;
        line.width = symbolWidth(line, style) + textWidth(cr, part);
        pieces.push_back(line);
        piece.symbol = Symbol::None;
      }
    }
    for (const std::vector<Piece> &line : flow(pieces, style.gap, room)) {
      double x = style.margin;
      for (const Piece &piece : line) {
        layout.symbols.push_back({piece, x, baseline});
        shown.texts.push_back(placedText(cr, piece.text, x + symbolWidth(piece, style), baseline));
        layout.fonts.push_back(Font::Body);
        x += piece.width + style.gap;
      }
      baseline += style.line;
    }
  }
  for (const auto &[label, centre] : {std::pair{"before", 0.25}, std::pair{"after", 0.75}}) {
    shown.texts.push_back(
        placedText(cr, label, centre * shown.width - textWidth(cr, label) / 2.0, baseline));
    layout.fonts.push_back(Font::Body);
  }
  shown.band = static_cast<int>(std::ceil(baseline + style.line - style.font + style.margin));
}

void layOutMarks(cairo_t *cr, FullLayout &layout, const PreviewCaption &caption, const Style &style,
                 int size, int rows) {
  PictureLayout &shown = layout.shown;
  const double radius = kSphereShare * size;
  const double pad = 1.0;
  useFont(cr, style, Font::Label);
  for (int row = 0; row < rows; ++row) {
    for (int half = 0; half < 2; ++half) {
      const double left = half * size;
      const double top = shown.band + row * size;
      const auto place = [&](const Direction &d) {
        return std::pair{left + size / 2.0 + d.x * radius, top + size / 2.0 - d.y * radius};
      };
      const std::size_t first = shown.marks.size();
      // The light matters to the shading row alone.
      if (row == 0) {
        const Direction light = *seen(kKeyLight);
        const auto [x, y] = place(light);
        shown.marks.push_back({MarkKind::Light, x, y, style.mark, light.away, false});
      }
      std::vector<std::pair<std::size_t, std::string>> labels;
      for (const MarkedReference &reference : caption.references) {
        if (const std::optional<Direction> d = seen(reference.toward)) {
          const auto [x, y] = place(*d);
          if (!reference.label.empty()) labels.emplace_back(shown.marks.size(), reference.label);
          shown.marks.push_back({MarkKind::Toward, x, y, 2.2 * style.mark, d->away, false});
        }
      }
      if (!caption.givenName.empty()) {
        for (const MarkedReference &reference : caption.references) {
          if (const std::optional<Direction> d = seen(reference.given)) {
            const auto [x, y] = place(*d);
            shown.marks.push_back({MarkKind::Given, x, y, 1.5 * style.mark, d->away, false});
          }
        }
      }
      ringEarlierMarks(shown.marks, first, 0.6 * style.mark + 1.0);
      // A label sits above and to the right of its mark, or to the left
      // where the panel ends, and never past the panel's edges.
      for (const auto &[index, text] : labels) {
        const PlacedMark &mark = shown.marks[index];
        const double reach = 0.75 * outerOf(mark) + 2.0;
        PlacedText label = placedText(cr, text, mark.x + reach, mark.y - reach);
        if (label.right > left + size - pad) {
          label = placedText(cr, text, mark.x - reach - textWidth(cr, text), mark.y - reach);
        }
        keepInside(label, left + pad, top + pad, left + size - pad, top + size - pad);
        shown.texts.push_back(label);
        layout.fonts.push_back(Font::Label);
      }
    }
  }
}

FullLayout fullLayout(int size, int rows, const PreviewCaption &caption) {
  const Style style = styleFor(size);
  FullLayout layout;
  layout.shown.width = 2 * size;
  // Text is measured before the picture's height is known.
  const Surface scratch(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1),
                        &cairo_surface_destroy);
  const Context cr(cairo_create(scratch.get()), &cairo_destroy);
  layOutBand(cr.get(), layout, caption, style, rows);
  layout.shown.height = layout.shown.band + rows * size;
  layOutMarks(cr.get(), layout, caption, style, size, rows);
  check(cairo_status(cr.get()));
  return layout;
}

void drawSymbol(cairo_t *cr, const LegendSymbol &symbol, const Style &style) {
  const double middle = symbol.baseline - 0.35 * style.font;
  const double x = symbol.x + 2.0 * style.symbol;
  const double r = style.symbol * 0.8;
  const double width = std::max(1.0, r / 3.0);
  switch (symbol.piece.symbol) {
    case Symbol::Light:
      drawSun(cr, x, middle, r, false);
      break;
    case Symbol::Toward:
      drawRing(cr, x, middle, 2.2 * r, width, false, true);
      break;
    case Symbol::Away:
      drawRing(cr, x, middle, 2.2 * r, width, true, false);
      break;
    case Symbol::Given:
      drawSquare(cr, x, middle, 1.5 * r, width, false);
      break;
    case Symbol::Swatch: {
      const double side = 2.6 * style.symbol;
      const Rgb &c = symbol.piece.swatch;
      cairo_new_path(cr);
      cairo_rectangle(cr, symbol.x + style.symbol, middle - side / 2.0, side, side);
      cairo_set_source_rgb(cr, c[0] / 255.0, c[1] / 255.0, c[2] / 255.0);
      cairo_fill_preserve(cr);
      cairo_set_line_width(cr, 1.0);
      setColour(cr, kOutline);
      cairo_stroke(cr);
      break;
    }
    case Symbol::None:
      break;
  }
}

void drawCaption(cairo_t *cr, const FullLayout &layout, const Style &style) {
  for (const LegendSymbol &symbol : layout.symbols) drawSymbol(cr, symbol, style);
  for (std::size_t i = 0; i < layout.shown.texts.size(); ++i) {
    const PlacedText &text = layout.shown.texts[i];
    useFont(cr, style, layout.fonts[i]);
    if (layout.fonts[i] == Font::Label) {
      outlinedText(cr, text.x, text.baseline, text.text);
    } else {
      setColour(cr, kText);
      cairo_move_to(cr, text.x, text.baseline);
      cairo_show_text(cr, text.text.c_str());
    }
  }
}

// The larger marks first, so that a mark ringed by another is drawn over
// the ring's inside.
void drawMarks(cairo_t *cr, const PictureLayout &layout, int size, const Style &style) {
  std::vector<PlacedMark> marks = layout.marks;
  std::stable_sort(marks.begin(), marks.end(), [](const PlacedMark &a, const PlacedMark &b) {
    return outerOf(a) > outerOf(b);
  });
  const double width = std::max(1.0, style.mark / 3.0);
  for (const PlacedMark &mark : marks) {
    // A mark at the outline stays in its own panel.
    const double left = std::floor(mark.x / size) * size;
    const double top = layout.band + std::floor((mark.y - layout.band) / size) * size;
    cairo_save(cr);
    cairo_rectangle(cr, left, top, size, size);
    cairo_clip(cr);
    switch (mark.kind) {
      case MarkKind::Light:
        drawSun(cr, mark.x, mark.y, mark.radius, mark.away);
        break;
      case MarkKind::Toward:
        drawRing(cr, mark.x, mark.y, mark.radius, width, mark.away, !mark.ringsAnother);
        break;
      case MarkKind::Given:
        drawSquare(cr, mark.x, mark.y, mark.radius, width, mark.away);
        break;
    }
    cairo_restore(cr);
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

Image drawPicture(const Panels &panels, const PreviewCaption &caption) {
  const Style style = styleFor(panels.size);
  const FullLayout layout = fullLayout(panels.size, panels.rows, caption);
  const int top = layout.shown.band;
  const Surface picture(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, layout.shown.width, layout.shown.height),
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

  drawMarks(c, layout.shown, panels.size, style);
  drawCaption(c, layout, style);
  check(cairo_status(c));
  return imageOf(picture.get());
}

}  // namespace

PictureLayout layOutPicture(int size, int rows, const PreviewCaption &caption) {
  PictureLayout layout = fullLayout(size, rows, caption).shown;
  cairo_debug_reset_static_data();
  FcFini();
  return layout;
}

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
