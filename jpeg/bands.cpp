#include "jpeg/bands.h"

#include <sched.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

#include "common/descriptor.h"
#include "jpeg/jpeg_setup.h"
// After jpeglib.h, which it needs.
#include <jerror.h>

namespace qev {

namespace {

constexpr int maxInterval = 65535;  // the DRI marker's field is 16 bits
constexpr std::size_t firstOutputSize = 64 * 1024;
constexpr unsigned char endOfImage[] = {0xFF, 0xD9};

int mcuSide(PixelLayout layout) { return layout == PixelLayout::gray ? 8 : 16; }

int bytesPerPixel(PixelLayout layout) {
  switch (layout) {
    case PixelLayout::gray:
      return 1;
    case PixelLayout::rgb:
      return 3;
    case PixelLayout::bgrx:
      return 4;
  }
  return 1;
}

// The image being encoded, as every band of it is.
struct Settings {
  JpegShape shape;
  BandSize size;
};

struct Band {
  int index = 0;
  int lines = 0;
  std::vector<unsigned char> raw;   // `lines` rows, without padding
  std::vector<unsigned char> jpeg;  // the band as a JPEG of its own
  std::size_t from = 0;             // the part of `jpeg` that goes into the image: [from, to)
  std::size_t to = 0;
  std::size_t heightAt = 0;  // band 0: where its header holds the image height
  std::optional<Error> error;
  bool outOfMemory = false;  // memory ran out on the worker
  bool done = false;
};

// libjpeg reports errors by calling error_exit, which must not return; it jumps back to the
// entry point of the compressor that made the call.
struct Failure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  bool outOfMemory;
  char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr info) {
  auto* failure = reinterpret_cast<Failure*>(info->err);
  if (info->err->msg_code == JERR_OUT_OF_MEMORY) failure->outOfMemory = true;
  info->err->format_message(info, failure->message);
  std::longjmp(failure->jump, 1);
}

// One worker's libjpeg compressor, which encodes a band into its `jpeg` buffer.
class Compressor {
 public:
  Compressor() {
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = onError;
    destination.init_destination = [](j_compress_ptr c) { self(c)->start(); };
    destination.empty_output_buffer = [](j_compress_ptr c) -> boolean {
      self(c)->grow();
      return TRUE;
    };
    destination.term_destination = [](j_compress_ptr c) {
      Compressor* s = self(c);
      s->used = s->band->jpeg.size() - s->destination.free_in_buffer;
    };
  }
  ~Compressor() {
    if (created) jpeg_destroy_compress(&info);
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  std::optional<Error> encode(const Settings& settings, Band& b) {
    const JpegShape& shape = settings.shape;
    auto rowBytes = static_cast<std::size_t>(shape.width) * bytesPerPixel(shape.layout);
    pointers.resize(static_cast<std::size_t>(b.lines));
    for (std::size_t i = 0; i < pointers.size(); ++i) pointers[i] = b.raw.data() + i * rowBytes;
    band = &b;
    used = 0;
    failure.outOfMemory = false;
    if (setjmp(failure.jump) != 0) {
      jpeg_abort_compress(&info);
      if (failure.outOfMemory) return systemError(ENOMEM);
      return Error{failure.message};
    }
    if (!created) {
      jpeg_create_compress(&info);
      created = true;
      info.dest = &destination;
      info.client_data = this;
    }
    configure(info, shape, b.lines);
    info.restart_interval = static_cast<unsigned int>(settings.size.interval);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
      jpeg_write_scanlines(&info, pointers.data() + info.next_scanline,
                           info.image_height - info.next_scanline);
    }
    jpeg_finish_compress(&info);
    return cut(b);
  }

 private:
  static Compressor* self(j_compress_ptr c) { return static_cast<Compressor*>(c->client_data); }

  void start() {
    std::vector<unsigned char>& out = band->jpeg;
    if (out.size() < firstOutputSize) grow(firstOutputSize);
    destination.next_output_byte = out.data();
    destination.free_in_buffer = out.size();
  }

  // Doubles the output buffer; libjpeg has filled it. Running out of memory is a libjpeg
  // error, so that it unwinds the compressor like any other.
  void grow() {
    std::size_t full = band->jpeg.size();
    grow(2 * full);
    destination.next_output_byte = band->jpeg.data() + full;
    destination.free_in_buffer = band->jpeg.size() - full;
  }

  void grow(std::size_t size) {
    bool failed = false;
    try {
      band->jpeg.resize(size);
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    if (failed) {
      failure.outOfMemory = true;
      std::longjmp(failure.jump, 1);
    }
  }

  // Finds the band's header and entropy-coded data. Band 0 keeps its header (whose height is
  // set later); every other band starts with the restart marker that ends the band before it.
  // The end-of-image marker is left out.
  std::optional<Error> cut(Band& b) const {
    const std::vector<unsigned char>& j = b.jpeg;
    std::size_t at = 2;  // after SOI
    std::size_t frame = 0;
    std::size_t data = 0;
    while (data == 0 && at + 4 <= used && j[at] == 0xFF) {
      unsigned char marker = j[at + 1];
      if (marker >= 0xC0 && marker <= 0xC2) frame = at;  // SOF0 to SOF2
      at += 2 + (std::size_t{j[at + 2]} << 8 | j[at + 3]);
      if (marker == 0xDA) data = at;  // SOS
    }
    if (frame == 0 || data == 0 || used < data + 2 || j[used - 2] != 0xFF || j[used - 1] != 0xD9)
      return Error{"Unexpected JPEG data from libjpeg"};
    b.heightAt = frame + 5;
    b.to = used - 2;
    if (b.index == 0) {
      b.from = 0;
    } else {
      b.from = data - 2;
      b.jpeg[b.from] = 0xFF;
      b.jpeg[b.from + 1] = static_cast<unsigned char>(0xD0 + (b.index - 1) % 8);  // RSTn
    }
    return std::nullopt;
  }

  jpeg_compress_struct info{};
  jpeg_destination_mgr destination{};
  Failure failure{};
  bool created = false;
  Band* band = nullptr;
  std::size_t used = 0;  // bytes of the band's output written by libjpeg
  std::vector<JSAMPROW> pointers;
};

}  // namespace

int processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

BandSize bandSize(int width, PixelLayout layout, int bandPixels) {
  int side = mcuSide(layout);
  int across = std::max(1, (width + side - 1) / side);  // MCUs in a row
  long long wanted = (static_cast<long long>(std::max(bandPixels, 1)) +
                      static_cast<long long>(std::max(width, 1)) * side - 1) /
                     (static_cast<long long>(std::max(width, 1)) * side);
  int rows = static_cast<int>(std::clamp<long long>(wanted, 1, maxInterval / across));
  return {.lines = rows * side, .interval = rows * across};
}

// The pool's workers and the image being encoded. Everything but the queue and the bands'
// `done` and `error` belongs to the calling thread.
struct BandEncoder::Pool {
  explicit Pool(BandOptions options) : options(std::move(options)) {}

  ~Pool() {
    cancel();
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    wake.notify_all();
    for (std::thread& t : workers) t.join();
  }

  std::optional<Error> begin(const JpegShape& shape, int toFd,
                             std::vector<unsigned char>* toMemory) {
    cancel();
    open = false;
    broken.reset();
    fd = toFd;
    memory = toMemory;
    start = memory != nullptr ? static_cast<off_t>(memory->size()) : ::lseek(fd, 0, SEEK_CUR);
    written = 0;
    if (shape.width <= 0 || shape.height < 0 || shape.width > maxJpegSide ||
        shape.height > maxJpegSide) {
      return broken = Error{"Image size not supported by JPEG"};
    }
    settings.shape = shape;
    if (settings.shape.density <= 0 || settings.shape.density > 65535) settings.shape.density = 72;
    settings.size = bandSize(shape.width, shape.layout, options.bandPixels);
    rowBytes = static_cast<std::size_t>(shape.width) * bytesPerPixel(shape.layout);
    given = 0;
    next = 0;
    heightAt = 0;
    heightWritten = 0;
    // Bands of another size are of no more use.
    if (!spare.empty() && spare.front()->raw.size() != rowBytes * settings.size.lines)
      spare.clear();
    try {
      while (workers.size() < static_cast<std::size_t>(std::max(options.threads, 1)))
        workers.emplace_back([this] { work(); });
    } catch (const std::exception&) {
      if (workers.empty()) return broken = Error{"Cannot start the encoding threads"};
    }
    try {
      // Every band of the image fits, so that taking bands back never needs memory.
      spare.reserve(maxPending() + 1);
    } catch (const std::bad_alloc&) {
      return broken = systemError(ENOMEM);
    }
    open = true;
    return std::nullopt;
  }

  std::optional<Error> rows(const unsigned char* data, std::size_t stride, int count) {
    if (!open) return broken ? broken : Error{"No image begun"};
    try {
      for (int i = 0; i < count && !broken; ++i) {
        if (settings.shape.height > 0 && given >= settings.shape.height) break;
        if (given >= maxJpegSide) return fail(Error{"Image size not supported by JPEG"});
        if (!filling) filling = takeBand();
        std::memcpy(filling->raw.data() + static_cast<std::size_t>(filling->lines) * rowBytes,
                    data + static_cast<std::size_t>(i) * stride, rowBytes);
        ++filling->lines;
        ++given;
        if (filling->lines == settings.size.lines) submit();
      }
    } catch (const std::bad_alloc&) {
      return fail(systemError(ENOMEM));
    }
    return broken;
  }

  std::optional<Error> finish() {
    if (!open) return broken ? broken : Error{"No image begun"};
    if (!broken) {
      try {
        if (filling && filling->lines > 0) submit();
        while (!broken && !pending.empty()) collect(true);
      } catch (const std::bad_alloc&) {
        fail(systemError(ENOMEM));
      }
    }
    if (!broken && given == 0) fail(Error{"Image size not supported by JPEG"});
    if (!broken && given < settings.shape.height) fail(Error{"Fewer rows than the image's height"});
    if (!broken) put(endOfImage, sizeof endOfImage);
    if (!broken && heightWritten != given) {
      unsigned char height[] = {static_cast<unsigned char>(given >> 8),
                                static_cast<unsigned char>(given & 0xFF)};
      patch(heightAt, height);
    }
    open = false;
    return broken;
  }

  // Takes the image's bands back from the workers, dropping what they made.
  void cancel() {
    {
      std::unique_lock lock(mutex);
      for (Band* b : queue) b->done = true;  // never started
      queue.clear();
      await(lock, [this] {
        return std::all_of(pending.begin(), pending.end(), [](const auto& b) { return b->done; });
      });
    }
    for (auto& b : pending) recycle(std::move(b));
    pending.clear();
    if (filling) recycle(std::move(filling));
  }

  std::optional<Error> fail(Error error) {
    if (!broken) broken = std::move(error);
    cancel();
    return broken;
  }

  std::unique_ptr<Band> takeBand() {
    if (!spare.empty()) {
      auto b = std::move(spare.back());
      spare.pop_back();
      return b;
    }
    auto b = std::make_unique<Band>();
    b->raw.resize(rowBytes * settings.size.lines);
    return b;
  }

  void recycle(std::unique_ptr<Band> b) {
    b->lines = 0;
    b->error.reset();
    b->outOfMemory = false;
    b->done = false;
    spare.push_back(std::move(b));
  }

  // Hands the band being filled to the workers, then writes what is done.
  void submit() {
    Band* b = filling.get();
    b->index = next++;
    pending.push_back(std::move(filling));
    bool idle = false;
    {
      std::lock_guard lock(mutex);
      try {
        queue.push_back(b);
      } catch (const std::bad_alloc&) {
        b->done = true;  // for cancel, which the caller's failure calls
        throw;
      }
      idle = sleeping > 0;
    }
    if (idle) wake.notify_one();
    while (!broken && !pending.empty() && collect(pending.size() >= maxPending())) {
    }
  }

  // Writes the oldest band if it is done, or once it is when `wait`. Returns whether it did.
  bool collect(bool wait) {
    {
      std::unique_lock lock(mutex);
      if (wait) await(lock, [this] { return pending.front()->done; });
      if (!pending.front()->done) return false;
    }
    std::unique_ptr<Band> b = std::move(pending.front());
    pending.pop_front();
    if (b->outOfMemory) {
      fail(systemError(ENOMEM));
    } else if (b->error) {
      fail(std::move(*b->error));
    } else {
      if (b->index == 0) {
        heightAt = written + b->heightAt;
        heightWritten = settings.shape.height;
        b->jpeg[b->heightAt] = static_cast<unsigned char>(heightWritten >> 8);
        b->jpeg[b->heightAt + 1] = static_cast<unsigned char>(heightWritten & 0xFF);
      }
      put(b->jpeg.data() + b->from, b->to - b->from);
    }
    recycle(std::move(b));
    return true;
  }

  std::size_t maxPending() const { return 2 * workers.size(); }

  // Waits on `finished` until `done`; `lock` holds `mutex`.
  template <typename Done>
  void await(std::unique_lock<std::mutex>& lock, Done done) {
    awaited = true;
    finished.wait(lock, done);
    awaited = false;
  }

  void work() {
    Compressor compressor;
    std::unique_lock lock(mutex);
    for (;;) {
      while (!stopping && queue.empty()) {
        ++sleeping;
        wake.wait(lock);
        --sleeping;
      }
      if (queue.empty()) return;
      Band* b = queue.front();
      queue.pop_front();
      lock.unlock();
      // Memory running out is marked, not described, which would need memory again.
      std::optional<Error> error;
      bool outOfMemory = false;
      try {
        if (options.beforeBand) options.beforeBand(b->index);
        error = compressor.encode(settings, *b);
      } catch (const std::bad_alloc&) {
        outOfMemory = true;
      }
      lock.lock();
      b->error = std::move(error);
      b->outOfMemory = outOfMemory;
      b->done = true;
      if (awaited) finished.notify_one();
    }
  }

  // Appends to the image's output.
  void put(const unsigned char* bytes, std::size_t size) {
    written += size;
    if (memory != nullptr) {
      try {
        memory->insert(memory->end(), bytes, bytes + size);
      } catch (const std::bad_alloc&) {
        fail(systemError(ENOMEM));
      }
      return;
    }
    if (Outcome out = writeAll(fd, {bytes, size}); !out.ok()) fail(out.error());
  }

  // Overwrites two bytes of the output at `at`, counted from the image's start.
  void patch(std::size_t at, const unsigned char (&bytes)[2]) {
    if (memory != nullptr) {
      std::copy_n(bytes, 2, memory->begin() + start + static_cast<off_t>(at));
      return;
    }
    if (start < 0) {
      fail(systemError(ESPIPE));
      return;
    }
    for (;;) {
      ssize_t n = ::pwrite(fd, bytes, 2, start + static_cast<off_t>(at));
      if (n == 2) return;
      if (n < 0 && errno == EINTR) continue;
      fail(n < 0 ? systemError(errno) : systemError(EIO));
      return;
    }
  }

  BandOptions options;
  std::vector<std::thread> workers;

  std::mutex mutex;
  // Each side is woken only while it waits.
  std::condition_variable wake;      // for the workers: a band is queued, or they stop
  std::condition_variable finished;  // for the caller: a band is done
  int sleeping = 0;                  // workers waiting on `wake`
  bool awaited = false;              // the caller waits on `finished`
  std::deque<Band*> queue;           // bands to encode
  bool stopping = false;

  // The image. `settings` changes only while no band is queued or being encoded.
  Settings settings;
  int fd = -1;
  std::vector<unsigned char>* memory = nullptr;
  off_t start = 0;          // where the image begins in the output; -1 in a file that cannot seek
  std::size_t written = 0;  // bytes of the image written
  bool open = false;
  std::optional<Error> broken;
  std::size_t rowBytes = 0;
  int given = 0;             // rows
  int next = 0;              // index of the next band
  std::size_t heightAt = 0;  // in the output
  int heightWritten = 0;
  std::unique_ptr<Band> filling;
  std::deque<std::unique_ptr<Band>> pending;  // handed to the workers, in order
  std::vector<std::unique_ptr<Band>> spare;
};

BandEncoder::BandEncoder(BandOptions options) : pool(std::make_unique<Pool>(std::move(options))) {}

BandEncoder::~BandEncoder() = default;

std::optional<Error> BandEncoder::begin(const JpegShape& shape, int fd) {
  return pool->begin(shape, fd, nullptr);
}

std::optional<Error> BandEncoder::begin(const JpegShape& shape,
                                        std::vector<unsigned char>& memory) {
  return pool->begin(shape, -1, &memory);
}

std::optional<Error> BandEncoder::rows(const unsigned char* data, std::size_t stride, int count) {
  return pool->rows(data, stride, count);
}

std::optional<Error> BandEncoder::finish() { return pool->finish(); }

void BandEncoder::abort() {
  pool->cancel();
  pool->open = false;
}

}  // namespace qev
