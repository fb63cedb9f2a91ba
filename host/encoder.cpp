#include "host/encoder.h"

#include <algorithm>

#include "jpeg/bands.h"
#include "jpeg/jpeg.h"

namespace qev {

namespace {

constexpr int jpegQuality = 85;

// The most image data held for the colour planes of a three-pass page.
constexpr std::size_t maxKeptBytes = std::size_t{1} << 30;

int plane(FrameFormat format) {
  switch (format) {
    case FrameFormat::green:
      return 1;
    case FrameFormat::blue:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

struct PageEncoder::Page {
  Descriptor file;  // until the page is finished or dropped
  int density = 0;
  bool broken = false;

  // The frame being received, and its line so far.
  Frame frame;
  std::vector<unsigned char> pending;
  std::size_t filled = 0;
  std::vector<unsigned char> row;  // the line as 8-bit samples

  // Encoded as the lines come: single-pass frames. `height` is the most lines the frame
  // announced, or 0 while it is unknown; the page has the lines written.
  bool streaming = false;
  PixelLayout layout = PixelLayout::gray;
  int height = 0;
  int written = 0;

  // Kept until the page ends: the separate colour planes of a three-pass scanner.
  std::vector<unsigned char> planes[3];
  int planeRows[3] = {0, 0, 0};
  int pixels = 0;
};

PageEncoder::PageEncoder(Delivered delivered)
    : delivered(std::move(delivered)),
      bands(std::make_unique<BandEncoder>()),
      thread([this] { run(); }) {}

PageEncoder::~PageEncoder() {
  finish();
  send(Step{StepKind::stop});
  thread.join();
}

void PageEncoder::send(Step step) {
  bool wake = false;
  {
    std::lock_guard lock(mutex);
    if (step.kind == StepKind::data) ++queued;
    queue.push_back(std::move(step));
    wake = idle;
    idle = false;
  }
  if (wake) work.notify_one();
}

template <typename Done>
void PageEncoder::await(std::unique_lock<std::mutex>& lock, Done done) {
  ++waiting;
  room.wait(lock, done);
  --waiting;
}

void PageEncoder::beginPage(Descriptor file, int density) {
  Step m{StepKind::page};
  m.file = std::move(file);
  m.density = density;
  send(std::move(m));
}

void PageEncoder::beginFrame(const Frame& frame) {
  Step m{StepKind::frame};
  m.frame = frame;
  send(std::move(m));
}

std::vector<unsigned char> PageEncoder::buffer() {
  std::unique_lock lock(mutex);
  await(lock, [this] { return queued < buffersQueued; });
  if (spare.empty()) return std::vector<unsigned char>(bufferSize);
  std::vector<unsigned char> data = std::move(spare.back());
  spare.pop_back();
  return data;
}

void PageEncoder::push(std::vector<unsigned char> data, std::size_t size) {
  Step m{StepKind::data};
  m.data = std::move(data);
  m.size = size;
  send(std::move(m));
}

void PageEncoder::endFrame() { send(Step{StepKind::frameEnd}); }
void PageEncoder::endPage() { send(Step{StepKind::pageEnd}); }
void PageEncoder::abortPage() { send(Step{StepKind::pageAbort}); }

std::optional<Error> PageEncoder::failure() {
  std::lock_guard lock(mutex);
  return failed;
}

std::optional<Error> PageEncoder::finish() {
  std::unique_lock lock(mutex);
  await(lock, [this] { return queue.empty() && !busy; });
  return failed;
}

void PageEncoder::run() {
  for (;;) {
    Step step{StepKind::stop};
    {
      std::unique_lock lock(mutex);
      while (queue.empty()) {
        idle = true;
        work.wait(lock);
      }
      idle = false;
      step = std::move(queue.front());
      queue.pop_front();
      busy = true;
    }
    if (step.kind == StepKind::stop) {
      dropPage();
      return;
    }
    handle(step);
    bool wake = false;
    {
      std::lock_guard lock(mutex);
      if (step.kind == StepKind::data) {
        --queued;
        if (step.data.size() == bufferSize) spare.push_back(std::move(step.data));
      }
      busy = false;
      wake = waiting > 0;
    }
    if (wake) room.notify_all();
  }
}

void PageEncoder::broke(Error error) {
  {
    std::lock_guard lock(mutex);
    if (!failed) failed = std::move(error);
  }
  if (page) page->broken = true;
  dropPage();
}

// Gives the page up: its file is closed undelivered, and whatever else comes for this page
// is ignored.
void PageEncoder::dropPage() {
  if (!page || !page->file.valid()) return;
  bands->abort();
  (void)page->file.close();
  page->broken = true;
}

void PageEncoder::handle(Step& step) {
  switch (step.kind) {
    case StepKind::page:
      dropPage();
      page = std::make_unique<Page>();
      page->file = std::move(step.file);
      page->density = step.density;
      if (failure()) dropPage();  // no page is written after a failure
      break;
    case StepKind::frame:
      if (page && !page->broken) startFrame(step.frame);
      break;
    case StepKind::data:
      if (page && !page->broken) take(step.data.data(), std::min(step.size, step.data.size()));
      break;
    case StepKind::frameEnd:
      if (page) page->filled = 0;  // an incomplete last line is dropped
      break;
    case StepKind::pageEnd:
    case StepKind::pageAbort:
      if (step.kind == StepKind::pageEnd && page && !page->broken) completePage();
      dropPage();
      page.reset();
      break;
    case StepKind::stop:
      break;
  }
}

void PageEncoder::startFrame(const Frame& frame) {
  if (auto error = checkFrame(frame)) return broke(*error);
  Page& p = *page;
  bool single = frame.format == FrameFormat::gray || frame.format == FrameFormat::rgb;
  PixelLayout layout = frame.format == FrameFormat::rgb ? PixelLayout::rgb : PixelLayout::gray;
  bool first = p.pixels == 0;
  if (!first && frame.pixels != p.pixels) return broke(Error{"Frames of different widths"});
  if (!first && (single != p.streaming || (single && layout != p.layout)))
    return broke(Error{"Frames of different formats"});
  p.frame = frame;
  p.pixels = frame.pixels;
  p.pending.assign(static_cast<std::size_t>(frame.bytesPerLine), 0);
  p.filled = 0;
  p.row.assign(static_cast<std::size_t>(frame.pixels) * channels(frame.format), 0);
  if (first && single) {
    // Lines that follow in further frames make the height unknown too.
    p.streaming = true;
    p.layout = layout;
    p.height = frame.last && frame.lines > 0 ? frame.lines : 0;
    // The bands take the height as unknown whatever the frame announced, and write the
    // height of the lines given when the page ends: a frame that stops early is not filled
    // up. A whole page is the same file either way.
    JpegShape shape{.width = frame.pixels,
                    .height = 0,
                    .layout = layout,
                    .density = p.density,
                    .quality = jpegQuality};
    if (auto error = bands->begin(shape, p.file.get())) return broke(*error);
  }
}

void PageEncoder::take(const unsigned char* data, std::size_t size) {
  Page& p = *page;
  std::size_t at = 0;
  std::size_t length = p.pending.size();
  while (at < size && !p.broken) {
    if (p.filled == 0 && size - at >= length) {
      takeLine(data + at);  // a whole line in the buffer: no copy
      at += length;
      continue;
    }
    std::size_t n = std::min(size - at, length - p.filled);
    std::copy_n(data + at, n, p.pending.begin() + static_cast<long>(p.filled));
    at += n;
    p.filled += n;
    if (p.filled == p.pending.size()) {
      p.filled = 0;
      takeLine(p.pending.data());
    }
  }
}

void PageEncoder::takeLine(const unsigned char* bytes) {
  Page& p = *page;
  // Eight-bit lines are their own samples, padding aside.
  const unsigned char* row = bytes;
  if (p.frame.depth != 8) {
    toEightBit(p.frame, bytes, p.row.data());
    row = p.row.data();
  }
  std::size_t size = p.row.size();
  if (p.streaming) {
    if (p.height > 0 && p.written >= p.height) return;  // more lines than announced
    if (auto error = bands->rows(row, size, 1)) return broke(*error);
    ++p.written;
  } else if (*std::max_element(std::begin(p.planeRows), std::end(p.planeRows)) >= maxJpegSide) {
    // A frame of unknown height that goes on past what a JPEG file can hold.
    return broke(Error{"Image size not supported by JPEG"});
  } else if (p.planes[0].size() + p.planes[1].size() + p.planes[2].size() > maxKeptBytes) {
    // Held pages are bounded: a 1200-dpi colour page of 30 by 30 cm still fits.
    return broke(Error{"Image too large"});
  } else {
    int c = plane(p.frame.format);
    p.planes[c].insert(p.planes[c].end(), row, row + size);
    ++p.planeRows[c];
  }
}

void PageEncoder::completePage() {
  Page& p = *page;
  std::optional<Error> error;
  if (p.streaming) {
    // The lines written are the page; none at all is no page (the bands refuse it).
    error = bands->finish();
  } else {
    // A line needs all three colours: the page has the lines of the shortest plane.
    auto width = static_cast<std::size_t>(p.pixels);
    JpegShape shape{.width = p.pixels,
                    .height = *std::min_element(std::begin(p.planeRows), std::end(p.planeRows)),
                    .layout = PixelLayout::rgb,
                    .density = p.density,
                    .quality = jpegQuality};
    if (shape.height == 0) error = Error{"Image size not supported by JPEG"};
    if (!error) error = bands->begin(shape, p.file.get());
    std::vector<unsigned char> rgb(width * 3);
    for (int y = 0; y < shape.height && !error; ++y) {
      for (int c = 0; c < 3; ++c) {
        const unsigned char* from = p.planes[c].data() + static_cast<std::size_t>(y) * width;
        for (std::size_t x = 0; x < width; ++x) rgb[3 * x + c] = from[x];
      }
      error = bands->rows(rgb.data(), rgb.size(), 1);
    }
    if (!error) error = bands->finish();
  }
  if (!error) {
    if (Outcome closed = p.file.close(); !closed.ok()) error = closed.error();
  }
  if (error) return broke(*error);
  delivered();
}

}  // namespace qev
