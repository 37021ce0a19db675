// The preview's panels: a unit sphere seen from +Z (x right, y up), drawn
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

#include "hostsim/vec3.h"

namespace kerrowbend_host {

using hostsim::Vec3;
using Rgb = std::array<uint8_t, 3>;

// The unit direction toward the key light: above, to the left and in front
// of the sphere, so that the lit side, the terminator and the shadow side
// are all in view.
extern const Vec3 kKeyLight;

// The sphere's radius as a share of a panel's side, leaving a margin
// around it; the sphere sits in the panel's middle.
inline constexpr double kSphereShare = 0.44;

// What the picture holds besides the shading row.
enum class PreviewShow { Shading, Normals };

// Samples a pixel takes of the sphere: one is fastest, more smooth the
// places where the node turns neighbouring normals far apart.
inline constexpr int kDefaultSamples = 4;
inline constexpr int kMaxSamples = 64;

// A finished picture: rows top to bottom, three bytes a pixel.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

// The panels without a backdrop, so that whoever lays out the picture
// puts one backdrop under all of them: rows top to bottom, four bytes a
// pixel, the sphere's colour and the share of the pixel it covers.
struct Panels {
  int size = 0;  // pixels across one panel
  int rows = 0;  // 1, or 2 with the normal maps
  std::vector<uint8_t> rgba;

  int width() const { return 2 * size; }
  int height() const { return rows * size; }
};

// The node's result for the spot of the sphere with this unit normal;
// called from several threads at once.
using DragFunction = std::function<Vec3(const Vec3 &normal)>;

// The share of the panels drawn so far, 0 to 1, after each row of pixels
// of each pass; called from several threads at once, the shares not
// always in order. A row can take long with no call to drag at all, so
// this is how a caller hears that the work goes on.
using ProgressFunction = std::function<void(double share)>;

// Draws size x size pixels per panel: 2 x 1 panels for shading, 2 x 2 with
// the normal maps below. Evaluates drag once per pixel covered by the
// sphere and, where that leaves neighbouring pixels sharply apart, samples
// times more; on up to threads threads (0: as many as the machine has).
Panels renderPanels(int size, PreviewShow show, int samples, const DragFunction &drag,
                    unsigned threads = 0, const ProgressFunction &progress = {});

// The usual normal-map colour of the normalised normal: each component
// mapped from [-1, 1] to [0, 255]; magenta for a normal that cannot be
// used (zero length, infinite or not a number).
Rgb normalColour(const Vec3 &normal);

}  // namespace kerrowbend_host

#endif
