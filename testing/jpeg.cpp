#include "testing/jpeg.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "testing/files.h"

namespace qevtest {

namespace {

// libjpeg reports a fatal error by calling `error_exit`, which must not return: it jumps
// back into decode.
struct Failure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

}  // namespace

qev::Rgb Decoded::at(int x, int y) const {
  const unsigned char* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
  return {p[0], p[1], p[2]};
}

std::optional<Decoded> decode(const std::vector<unsigned char>& jpeg) {
  jpeg_decompress_struct info{};
  Failure failure{};
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = [](j_common_ptr c) {
    std::longjmp(reinterpret_cast<Failure*>(c->err)->jump, 1);
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

std::optional<Decoded> decodeFile(const std::string& path) {
  std::string bytes = readFile(path);
  if (bytes.empty()) return std::nullopt;
  return decode(std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

std::optional<JpegInfo> jpegInfo(const std::string& path) {
  auto image = decodeFile(path);
  if (!image) return std::nullopt;
  return JpegInfo{.width = image->width,
                  .height = image->height,
                  .components = image->components,
                  .density = image->densityUnit == 1 ? image->xDensity : 0};
}

}  // namespace qevtest
