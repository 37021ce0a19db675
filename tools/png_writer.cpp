#include "tools/png_writer.h"

#include <png.h>

#include <cstdio>
#include <stdexcept>

namespace kerrowbend_host {

void writePng(const std::string &path, int width, int height, std::span<const uint8_t> rgb) {
  if (width <= 0 || height <= 0 ||
      rgb.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
    throw std::invalid_argument("writePng: the pixels do not match the image size");
  }
  // The simplified interface keeps libpng's longjmp error handling inside
  // libpng and reports through the image record instead.
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  if (png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) == 0) {
    const std::string reason = image.message;
    png_image_free(&image);
    std::remove(path.c_str());
    throw std::runtime_error(reason);
  }
}

}  // namespace kerrowbend_host
