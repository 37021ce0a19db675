// Writing an 8-bit RGB image to a PNG file with libpng.
#ifndef KERROWBEND_TOOLS_PNG_WRITER_H
#define KERROWBEND_TOOLS_PNG_WRITER_H

#include <cstdint>
#include <span>
#include <string>

namespace kerrowbend_host {

// Writes width x height pixels, three bytes each, rows top to bottom, to
// path. Throws std::runtime_error with libpng's reason when the file cannot
// be written (the caller names the file as the user knows it); a partly
// written file is then removed.
void writePng(const std::string &path, int width, int height, std::span<const uint8_t> rgb);

}  // namespace kerrowbend_host

#endif
