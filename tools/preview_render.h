// The preview picture: a unit sphere seen from +Z (x right, y up), drawn
// twice side by side, its own normals on the left and the normals the node
// made of them on the right. Each is drawn as toon shading under a key
// light and, on request, as a normal map in a second row. Nothing here
// knows the host: the node is reached through a function.
#ifndef KERROWBEND_TOOLS_PREVIEW_RENDER_H
#define KERROWBEND_TOOLS_PREVIEW_RENDER_H

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace kerrowbend_host {

using Vec3 = std::array<double, 3>;
using Rgb = std::array<uint8_t, 3>;

// The unit direction toward the key light: above, to the left and in front
// of the sphere, so that the lit side, the terminator and the shadow side
// are all in view.
extern const Vec3 kKeyLight;

// What the picture holds besides the shading row.
enum class PreviewShow { Shading, Normals };

// Rows top to bottom, three bytes a pixel.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;

  Image(int w, int h);
  void set(int x, int y, const Rgb &colour);
  Rgb at(int x, int y) const;
};

// The node's result for the spot of the sphere with this unit normal;
// called from several threads at once.
using DragFunction = std::function<Vec3(const Vec3 &normal)>;

// Draws size x size pixels per panel: 2 x 1 panels for shading, 2 x 2 with
// the normal maps below. Evaluates drag once per pixel covered by the
// sphere, on up to threads threads (0: as many as the machine has).
Image renderPreview(int size, PreviewShow show, const DragFunction &drag, unsigned threads = 0);

// The colour of a normal under the key light with a soft three-tone ramp
// and a toon highlight; a normal of any non-zero length is normalised as a
// renderer would.
Rgb toonShade(const Vec3 &normal);
// The usual normal-map colour of the normalised normal: each component
// mapped from [-1, 1] to [0, 255].
Rgb normalColour(const Vec3 &normal);
// What both give for a normal that cannot be used: zero length, infinite
// or not a number.
extern const Rgb kUnusableNormal;

}  // namespace kerrowbend_host

#endif
