// The finished preview picture: one backdrop under every row of panels; a
// band above them with the title, a legend, and "before" and "after" over
// the two halves; and marks on the spheres where the key light and the
// references point, as seen from the camera. Drawing needs the panels and
// the caption only, never the module.
#ifndef KERROWBEND_TOOLS_PREVIEW_PICTURE_H
#define KERROWBEND_TOOLS_PREVIEW_PICTURE_H

#include "tools/preview/caption.h"
#include "tools/preview/render.h"

namespace kerrowbend_host {

// As wide as the panels and taller by the caption band. Throws
// std::runtime_error when drawing fails (out of memory, mostly).
Image composePicture(const Panels &panels, const PreviewCaption &caption);

}  // namespace kerrowbend_host

#endif
