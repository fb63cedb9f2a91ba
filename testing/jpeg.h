#pragma once

// Test support: decodes JPEG bytes with libjpeg so that tests can look at the pixels.

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <vector>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "platform/page.h"

namespace qev {

struct Decoded {
  int components = 0;
  int width = 0;
  int height = 0;
  int densityUnit = -1;
  int xDensity = 0;
  int yDensity = 0;
  std::vector<unsigned char> rgb;  // rows of red, green, blue

  Rgb at(int x, int y) const {
    const unsigned char* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    return {p[0], p[1], p[2]};
  }
};

struct DecodeFailure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

inline std::optional<Decoded> decode(const std::vector<unsigned char>& jpeg) {
  jpeg_decompress_struct info{};
  DecodeFailure failure{};
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = [](j_common_ptr c) {
    std::longjmp(reinterpret_cast<DecodeFailure*>(c->err)->jump, 1);
  };
  Decoded image;
  if (setjmp(failure.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&info, TRUE);
  image.components = info.num_components;
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  image.width = static_cast<int>(info.output_width);
  image.height = static_cast<int>(info.output_height);
  image.densityUnit = info.density_unit;
  image.xDensity = info.X_density;
  image.yDensity = info.Y_density;
  image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &image.rgb[static_cast<std::size_t>(info.output_scanline) * image.width * 3];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return image;
}

}  // namespace qev
