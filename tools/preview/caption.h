// What the preview says besides its shading: the node and its settings as
// a title, and the directions to mark on the sphere. Made from the
// settings alone, so that it needs no module.
#ifndef KERROWBEND_TOOLS_PREVIEW_CAPTION_H
#define KERROWBEND_TOOLS_PREVIEW_CAPTION_H

#include <string>
#include <vector>

#include "tools/preview/scene_host.h"

namespace kerrowbend_host {

// A reference as the user gave it and the direction the node turns the
// normals toward because of it: the two differ when "Invert Vector" is on,
// and a picture that showed only one would mislead about the other.
struct MarkedReference {
  Vec3 given;
  Vec3 toward;
  // On the picture beside the marks ("" for a lone reference): the
  // stages that share the place, "1-3, 5".
  std::string label;
};

struct PreviewCaption {
  // The title in pieces; a line breaks between pieces, or between words
  // of a piece too long for a line.
  std::vector<std::string> title;
  std::vector<MarkedReference> references;
  // What the legend calls the two marks; givenName is empty where the
  // given and the toward direction are the same by the node's nature.
  std::string givenName;
  std::string towardName;
  // Said instead of a mark for a reference of no length.
  std::string zeroNote;
};

// Stage numbers, counted from 1, as one short text: runs of three or more
// shown as "first-last" ("1-40", "1, 2", "1-3, 7").
std::string stageList(const std::vector<int> &stages);

// For settings with the default scene applied.
PreviewCaption captionFor(const PreviewSettings &settings);

}  // namespace kerrowbend_host

#endif
