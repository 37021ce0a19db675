// The finished preview picture: one backdrop under every row of panels; a
// band above them with the title, a legend, and "before" and "after" over
// the two halves; and marks on the spheres where the key light and the
// references point, as seen from the camera. Drawing needs the panels and
// the caption only, never the module.
#ifndef KERROWBEND_TOOLS_PREVIEW_PICTURE_H
#define KERROWBEND_TOOLS_PREVIEW_PICTURE_H

#include <string>
#include <vector>

#include "tools/preview/caption.h"
#include "tools/preview/render.h"

namespace kerrowbend_host {

// What a mark on a sphere stands for.
enum class MarkKind {
  Light,   // where the key light comes from
  Given,   // the reference as given, plugged or an object's forward axis
  Toward,  // where the normals turn, after "Invert Vector"
};

// A mark as placed on the picture, in pixels from its top left corner.
struct PlacedMark {
  MarkKind kind;
  double x, y;
  // The mark's size: the sun's, ring's or square's base radius, grown
  // where the mark rings another at the same place so both show.
  double radius;
  bool away;  // behind the sphere, drawn dashed
  bool ringsAnother;
};

// A text as placed on the picture: where it starts, and the box its ink
// fills, in pixels from the top left corner.
struct PlacedText {
  std::string text;
  double x, baseline;
  double left, top, right, bottom;
};

// Everything the picture shows besides the shading, worked out before
// any pixel is drawn.
struct PictureLayout {
  int width = 0;
  int height = 0;
  int band = 0;                     // the caption band's height, above the panels
  std::vector<std::string> title;   // its lines
  std::vector<std::string> legend;  // each entry's text, in order
  std::vector<PlacedText> texts;    // every text drawn, the title's included
  std::vector<PlacedMark> marks;
};

// For panels of size pixels across in rows rows. Throws
// std::runtime_error when the text cannot be measured.
PictureLayout layOutPicture(int size, int rows, const PreviewCaption &caption);

// As wide as the panels and taller by the caption band. Throws
// std::runtime_error when drawing fails (out of memory, mostly).
Image composePicture(const Panels &panels, const PreviewCaption &caption);

}  // namespace kerrowbend_host

#endif
