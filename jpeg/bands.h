#pragma once

// A JPEG encoder that uses every processor. It cuts an image into bands of whole MCU rows
// (16 lines each for colour, which is subsampled 4:2:0, 8 for gray), encodes the bands on a
// pool of threads and joins them, in order, into one baseline JPEG in which each band is one
// restart interval. The DC predictions start afresh with every interval, so a band is encoded
// alone: as a small JPEG of its own, of which the entropy-coded data is kept. The file is
// byte for byte the one a single libjpeg compression with the same settings and that restart
// interval makes.
//
// The height may be unknown when the image begins (JpegShape::height 0): the rows given make
// it, and the header's height is written when the image ends (with pwrite for a file, which
// must then be seekable). Bands are written as soon as they and the bands before them are
// encoded, so neither raw rows nor compressed bands pile up: besides the band being filled, at
// most two bands a worker are in flight, whatever the size of the image.
//
// One thread calls the encoder; the workers only encode. Failures (a write error, a band that
// cannot be encoded, memory running out on a worker) are returned, never thrown; after one,
// the image takes nothing more. The encoder takes one image after another.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/error.h"
#include "jpeg/jpeg.h"

namespace qev {

// The processors this process may run on, at least one.
int processors();

// About as many pixels as a band has by default: enough that the work of starting a band is
// small beside that of encoding it, and few enough that a page makes many bands.
inline constexpr int defaultBandPixels = 128 * 1024;

struct BandOptions {
  int threads = processors();          // workers, at least one
  int bandPixels = defaultBandPixels;  // about this many pixels a band, in whole MCU rows
  // For tests: called on a worker before it encodes band `index` (from 0). A std::bad_alloc
  // that it throws fails the band as memory running out in the encoding would.
  std::function<void(int index)> beforeBand;
};

struct BandSize {
  int lines = 0;     // per band, a whole number of MCU rows
  int interval = 0;  // the restart interval: MCUs in a band, at most 65535
};

// How an image `width` pixels wide is cut, for bands of about `bandPixels` pixels.
BandSize bandSize(int width, PixelLayout layout, int bandPixels);

class BandEncoder {
 public:
  explicit BandEncoder(BandOptions options = {});
  ~BandEncoder();  // gives up an image that is not finished
  BandEncoder(const BandEncoder&) = delete;
  BandEncoder& operator=(const BandEncoder&) = delete;

  // Begins an image written to `fd`, which stays open and owned by the caller.
  std::optional<Error> begin(const JpegShape& shape, int fd);
  // Begins an image appended to `memory`, which must outlive the image.
  std::optional<Error> begin(const JpegShape& shape, std::vector<unsigned char>& memory);
  // `count` rows of the shape's layout, each `stride` bytes after the one before. Rows past a
  // known height are ignored.
  std::optional<Error> rows(const unsigned char* data, std::size_t stride, int count);
  // Writes the rest of the image. A known height must have been given in full.
  std::optional<Error> finish();
  // Gives the image up: nothing more of it is written.
  void abort();

 private:
  struct Pool;
  std::unique_ptr<Pool> pool;
};

}  // namespace qev
