// What the preview says besides its shading: the node and its settings as
// a title, and the directions to mark on the sphere. Made from the
// settings alone, so that it needs no module.
#ifndef KERROWBEND_TOOLS_PREVIEW_CAPTION_H
#define KERROWBEND_TOOLS_PREVIEW_CAPTION_H

#include <string>
#include <vector>

#include "tools/preview/scene_host.h"

namespace kerrowbend_host {

// A direction the node turns normals toward, and its label on the picture
// ("" for a lone reference).
struct MarkedReference {
  Vec3 direction;
  std::string label;
};

struct PreviewCaption {
  // The title in pieces; a line breaks between pieces only.
  std::vector<std::string> title;
  std::vector<MarkedReference> references;
};

// For settings with the default scene applied.
PreviewCaption captionFor(const PreviewSettings &settings);

}  // namespace kerrowbend_host

#endif
