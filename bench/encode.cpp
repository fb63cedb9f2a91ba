// Encoding throughput of scanned pages: one libjpeg compression on one thread (JpegWriter)
// against the band encoder on one thread and on every processor, for A4 colour pages at 300
// and 600 dpi. Prints megapixels a second of wall time (and per thread) and per second of
// processor time, the median of a few runs.
//   qev_bench_encode [runs]    (default 3)

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "jpeg/bands.h"
#include "jpeg/jpeg.h"

namespace {

using qev::BandEncoder;
using qev::BandOptions;
using qev::JpegShape;
using qev::PixelLayout;

double now(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A page as a scanner sees it: white paper, lines of dark text, a photograph in the middle
// third, and sensor noise everywhere.
std::vector<unsigned char> page(int width, int height) {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
  std::uint32_t seed = 7;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  int line = std::max(1, height / 120);  // text line pitch
  for (int y = 0; y < height; ++y) {
    bool photo = y > height / 3 && y < 2 * height / 3;
    bool textRow = y % line < line * 2 / 3;
    for (int x = 0; x < width; ++x) {
      unsigned char* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      int noise = static_cast<int>(next() >> 29);
      if (photo && x > width / 6 && x < 5 * width / 6) {
        p[0] = static_cast<unsigned char>((x * 255 / width + noise * 3) & 0xFF);
        p[1] = static_cast<unsigned char>((y * 255 / height + x / 7 + noise * 2) & 0xFF);
        p[2] = static_cast<unsigned char>(((x + y) / 5 + noise * 4) & 0xFF);
      } else {
        bool ink = textRow && (x / 3 * 2654435761u >> 7) % 5 < 2 && (x / (width / 9)) % 3 != 2;
        unsigned char v = static_cast<unsigned char>(ink ? 30 + noise : 245 - noise);
        p[0] = p[1] = p[2] = v;
      }
    }
  }
  return rgb;
}

struct Result {
  double wall = 0;  // seconds
  double cpu = 0;   // seconds of processor time, all threads
  std::size_t bytes = 0;
};

Result median(int runs, const std::function<std::size_t()>& encode) {
  std::vector<Result> results;
  for (int i = 0; i < runs; ++i) {
    double wall = now(CLOCK_MONOTONIC), cpu = now(CLOCK_PROCESS_CPUTIME_ID);
    std::size_t bytes = encode();
    results.push_back({now(CLOCK_MONOTONIC) - wall, now(CLOCK_PROCESS_CPUTIME_ID) - cpu, bytes});
  }
  std::sort(results.begin(), results.end(),
            [](const Result& a, const Result& b) { return a.wall < b.wall; });
  return results[results.size() / 2];
}

void report(const char* name, int threads, double megapixels, const Result& r) {
  double wall = megapixels / r.wall;
  std::printf(
      "  %-22s %2d thread%s %7.1f MP/s wall, %6.1f MP/s per thread, %6.1f MP per CPU-s,"
      " %5.0f ms, %zu KiB\n",
      name, threads, threads == 1 ? " " : "s", wall, wall / threads, megapixels / r.cpu,
      r.wall * 1000, r.bytes / 1024);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  int cores = qev::processors();
  std::printf("%d processors, median of %d runs\n", cores, runs);
  struct {
    const char* name;
    int width, height;
  } pages[] = {{"A4 at 300 dpi", 2480, 3508}, {"A4 at 600 dpi", 4960, 7016}};
  for (const auto& p : pages) {
    auto pixels = page(p.width, p.height);
    double megapixels = static_cast<double>(p.width) * p.height / 1e6;
    std::size_t stride = static_cast<std::size_t>(p.width) * 3;
    JpegShape shape{.width = p.width,
                    .height = p.height,
                    .layout = PixelLayout::rgb,
                    .density = 300,
                    .quality = 85};
    std::vector<unsigned char> out;
    out.reserve(pixels.size() / 4);
    std::printf("%s, %dx%d colour (%.1f MP):\n", p.name, p.width, p.height, megapixels);

    report("one compression", 1, megapixels, median(runs, [&] {
             out.clear();
             auto writer = qev::JpegWriter::toMemory(out);
             bool ok = !writer->begin(shape) && !writer->rows(pixels.data(), stride, p.height) &&
                       !writer->finish();
             return ok ? out.size() : 0;
           }));
    for (int threads : {1, cores}) {
      BandOptions options;
      options.threads = threads;
      BandEncoder bands(options);
      report("bands", threads, megapixels, median(runs, [&] {
               out.clear();
               bool ok = !bands.begin(shape, out) && !bands.rows(pixels.data(), stride, p.height) &&
                         !bands.finish();
               return ok ? out.size() : 0;
             }));
      if (cores == 1) break;
    }
  }
  return 0;
}
