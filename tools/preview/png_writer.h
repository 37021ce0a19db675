// An 8-bit RGB image as the bytes of a PNG file, made with libpng.
#ifndef KERROWBEND_TOOLS_PREVIEW_PNG_WRITER_H
#define KERROWBEND_TOOLS_PREVIEW_PNG_WRITER_H

#include <cstdint>
#include <span>
#include <string>

namespace kerrowbend_host {

// The PNG of width x height pixels, three bytes each, rows top to bottom.
// Throws std::runtime_error with libpng's reason when it cannot be made.
std::string encodePng(int width, int height, std::span<const uint8_t> rgb);

}  // namespace kerrowbend_host

#endif
