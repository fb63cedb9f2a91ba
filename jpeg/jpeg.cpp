#include "jpeg/jpeg.h"

#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "common/descriptor.h"
#include "jpeg/jpeg_setup.h"

namespace qev {

void configure(jpeg_compress_struct& info, const JpegShape& shape, int height) {
  info.image_width = static_cast<JDIMENSION>(shape.width);
  info.image_height = static_cast<JDIMENSION>(height);
  switch (shape.layout) {
    case PixelLayout::gray:
      info.input_components = 1;
      info.in_color_space = JCS_GRAYSCALE;
      break;
    case PixelLayout::rgb:
      info.input_components = 3;
      info.in_color_space = JCS_RGB;
      break;
    case PixelLayout::bgrx:
      info.input_components = 4;
      info.in_color_space = JCS_EXT_BGRX;
      break;
  }
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, shape.quality, TRUE);
  info.density_unit = 1;  // dots per inch
  int density = shape.density > 0 && shape.density <= 65535 ? shape.density : 72;
  info.X_density = static_cast<UINT16>(density);
  info.Y_density = static_cast<UINT16>(density);
}

namespace {

constexpr std::size_t bufferSize = 64 * 1024;

// libjpeg reports errors by calling error_exit, which must not return; it jumps back to the
// entry point of the writer that made the call.
struct Failure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr info) {
  auto* failure = reinterpret_cast<Failure*>(info->err);
  info->err->format_message(info, failure->message);
  std::longjmp(failure->jump, 1);
}

class Writer : public JpegWriter {
 public:
  explicit Writer(int fd) : fd(fd) { setUp(); }
  explicit Writer(std::vector<unsigned char>& memory) : memory(&memory) { setUp(); }
  ~Writer() override { jpeg_destroy_compress(&info); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  std::optional<Error> begin(const JpegShape& shape) override {
    if (broken) return broken;
    static_assert(maxJpegSide == JPEG_MAX_DIMENSION);
    if (shape.width <= 0 || shape.height <= 0 || shape.width > maxJpegSide ||
        shape.height > maxJpegSide) {
      return broken = Error{"Image size not supported by JPEG"};
    }
    if (setjmp(failure.jump) != 0) return broke();
    configure(info, shape, shape.height);
    jpeg_start_compress(&info, TRUE);
    return std::nullopt;
  }

  std::optional<Error> rows(const unsigned char* data, std::size_t stride, int count) override {
    if (broken) return broken;
    if (setjmp(failure.jump) != 0) return broke();
    for (int i = 0; i < count; ++i) {
      JSAMPROW row = const_cast<JSAMPROW>(data + static_cast<std::size_t>(i) * stride);
      jpeg_write_scanlines(&info, &row, 1);
    }
    return broken;
  }

  std::optional<Error> finish() override {
    if (broken) return broken;
    if (setjmp(failure.jump) != 0) return broke();
    jpeg_finish_compress(&info);
    return broken;
  }

 private:
  void setUp() {
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = onError;
    jpeg_create_compress(&info);
    destination.init_destination = [](j_compress_ptr c) { self(c)->reset(); };
    destination.empty_output_buffer = [](j_compress_ptr c) -> boolean {
      Writer* w = self(c);
      w->flush(w->buffer.size());
      w->reset();
      return TRUE;
    };
    destination.term_destination = [](j_compress_ptr c) {
      Writer* w = self(c);
      w->flush(w->buffer.size() - w->destination.free_in_buffer);
    };
    info.dest = &destination;
    info.client_data = this;
    buffer.resize(bufferSize);
  }

  static Writer* self(j_compress_ptr c) { return static_cast<Writer*>(c->client_data); }

  void reset() {
    destination.next_output_byte = buffer.data();
    destination.free_in_buffer = buffer.size();
  }

  // Hands `size` bytes of the buffer on. A file write error is kept and reported by the next
  // call of the writer; the encoder itself goes on into the buffer.
  void flush(std::size_t size) {
    if (memory != nullptr) {
      memory->insert(memory->end(), buffer.begin(), buffer.begin() + static_cast<long>(size));
      return;
    }
    if (broken) return;
    if (Outcome written = writeAll(fd, {buffer.data(), size}); !written.ok()) {
      broken = written.error();
    }
  }

  std::optional<Error> broke() {
    if (!broken) broken = Error{failure.message};
    return broken;
  }

  int fd = -1;
  std::vector<unsigned char>* memory = nullptr;
  std::vector<unsigned char> buffer;
  jpeg_compress_struct info{};
  jpeg_destination_mgr destination{};
  Failure failure{};
  std::optional<Error> broken;
};

}  // namespace

std::unique_ptr<JpegWriter> JpegWriter::toFile(int fd) { return std::make_unique<Writer>(fd); }

std::unique_ptr<JpegWriter> JpegWriter::toMemory(std::vector<unsigned char>& memory) {
  return std::make_unique<Writer>(memory);
}

}  // namespace qev
