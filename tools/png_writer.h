// An 8-bit RGB image as PNG, with libpng.
#ifndef KERROWBEND_TOOLS_PNG_WRITER_H
#define KERROWBEND_TOOLS_PNG_WRITER_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kerrowbend_host {

// The PNG file's bytes for width x height pixels, three bytes each, rows
// top to bottom. Throws std::runtime_error with libpng's reason.
std::vector<uint8_t> encodePng(int width, int height, std::span<const uint8_t> rgb);

// Writes encodePng's bytes to path. Throws std::runtime_error with the
// reason when the file cannot be written (the caller names the file as the
// user knows it); a partly written file is then removed.
void writePng(const std::string &path, int width, int height, std::span<const uint8_t> rgb);

}  // namespace kerrowbend_host

#endif
