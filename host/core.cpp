// A SANE device in the driver host: opening, selecting a source, scanning a batch of pages
// and closing. Every function here runs on the worker thread, but `cancelNow` and
// `stopSilently`.

#include "host/core.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "host/batch.h"
#include "host/encoder.h"
#include "host/habits.h"
#include "host/link.h"
#include "host/status.h"
#include "host/worker.h"

namespace qev {

namespace {

// How often, at most, qev is told that a page's data still comes: often enough for the
// shortest limit qev's tests set on the wait for data, seldom enough to cost nothing.
constexpr auto readingInterval = std::chrono::milliseconds(250);

constexpr std::int64_t commonResolutions[] = {75, 100, 150, 200, 300, 400, 600, 1200, 2400, 4800};

std::optional<FrameFormat> formatOf(SANE_Frame frame) {
  switch (frame) {
    case SANE_FRAME_GRAY:
      return FrameFormat::gray;
    case SANE_FRAME_RGB:
      return FrameFormat::rgb;
    case SANE_FRAME_RED:
      return FrameFormat::red;
    case SANE_FRAME_GREEN:
      return FrameFormat::green;
    case SANE_FRAME_BLUE:
      return FrameFormat::blue;
    default:
      return std::nullopt;
  }
}

bool allows(const SANE_Option_Descriptor& option, SANE_Word value) {
  if (option.constraint_type == SANE_CONSTRAINT_WORD_LIST) {
    const SANE_Word* list = option.constraint.word_list;
    return std::find(list + 1, list + 1 + list[0], value) != list + 1 + list[0];
  }
  if (option.constraint_type == SANE_CONSTRAINT_RANGE) {
    return value >= option.constraint.range->min && value <= option.constraint.range->max;
  }
  return true;
}

// Sets options one after another until one fails, and keeps what the first failure
// answered; the options are still read after it.
struct Setter {
  SaneOptions& options;
  SANE_Status status = SANE_STATUS_GOOD;

  void set(std::string_view name, const std::string& value) {
    if (status == SANE_STATUS_GOOD) status = options.setString(name, value);
  }
  void set(std::string_view name, double value) {
    if (status == SANE_STATUS_GOOD) status = options.setNumber(name, value);
  }
};

// How a feeder is told to scan one side of each sheet or both, once its source is selected:
// a duplex source, else the entries of a string option `adf-mode` (epson2, kodakaio) or a
// switch `duplex` (hpaio), where they may be set.
struct Sides {
  std::optional<std::string> source;    // the duplex source
  std::optional<std::string> oneSide;   // of `adf-mode`
  std::optional<std::string> twoSides;  // of `adf-mode`
  bool toggle = false;                  // the switch `duplex`

  // Whether a scan with duplex asked for gives both sides.
  bool both() const { return source || twoSides || toggle; }
};

Sides sidesOf(const SaneOptions& options, const std::optional<Sources>& sources) {
  Sides sides;
  if (sources && sources->duplex) {
    sides.source = sources->duplex;
    return sides;
  }
  if (auto modes = options.strings("adf-mode"); modes && options.settable("adf-mode")) {
    sides.oneSide = adfMode(*modes, false);
    sides.twoSides = adfMode(*modes, true);
  }
  const SANE_Option_Descriptor* d = options.settable("duplex");
  sides.toggle = d && d->type == SANE_TYPE_BOOL;
  return sides;
}

// The source, and without a duplex source the switch that chooses one side or both.
void setSource(Setter& setter, const std::optional<Sources>& sources, const wire::ScanJob& job) {
  SaneOptions& options = setter.options;
  const bool flatbed = job.unit == flatbedUnit;
  const bool duplex = !flatbed && job.duplex;
  if (sources && options.settable("source")) {
    auto wanted = flatbed ? sources->flatbed
                          : (duplex && sources->duplex ? sources->duplex : sources->feeder);
    if (wanted) setter.set("source", *wanted);
  }
  Sides sides = sidesOf(options, sources);
  if (sides.source) return;
  if (auto mode = duplex ? sides.twoSides : sides.oneSide) setter.set("adf-mode", *mode);
  if (sides.toggle) setter.set("duplex", duplex ? 1.0 : 0.0);
}

// A feeder's page size (active on feeders only) bounds its area; the backends' default is a
// Letter page, which cuts the foot of an A4 sheet.
void setPageSize(Setter& setter) {
  SaneOptions& options = setter.options;
  for (auto [name, wanted] : {std::pair{"page-width", pageWidth}, {"page-height", pageHeight}}) {
    auto range = options.range(name);
    if (!range || !options.settable(name)) continue;
    setter.set(name, atLeast(options.number(name).value_or(range->first), *range, wanted));
  }
}

// The mode, then the depth it may have reset.
void setMode(Setter& setter, const wire::ScanJob& job) {
  SaneOptions& options = setter.options;
  if (auto modes = options.strings("mode"); modes && options.settable("mode")) {
    if (auto mode = modeFor(*modes, job.pixelType)) setter.set("mode", *mode);
  }
  if (const SANE_Option_Descriptor* d = options.settable("depth")) {
    // Black and white is one bit a pixel, also where it is a depth of the gray mode.
    SANE_Word depth = job.pixelType == PixelType::blackAndWhite ? 1 : job.depth;
    if (d->type == SANE_TYPE_INT && allows(*d, depth)) {
      setter.set("depth", static_cast<double>(depth));
    }
  }
}

// The area: the job's for a flatbed, the whole range for a feeder.
void setArea(Setter& setter, const wire::ScanJob& job) {
  SaneOptions& options = setter.options;
  auto x = options.range("br-x"), y = options.range("br-y");
  auto left = options.range("tl-x"), top = options.range("tl-y");
  if (!(x && y && left && top)) return;
  double tlx = left->first, tly = top->first, brx = x->second, bry = y->second;
  // An empty area (a backend that reports no size) would scan nothing: the whole bed then.
  bool given = job.area && job.area->width > 0 && job.area->height > 0;
  if (job.unit == flatbedUnit && given) {
    tlx = std::clamp(job.area->x, left->first, left->second);
    tly = std::clamp(job.area->y, top->first, top->second);
    brx = std::clamp(job.area->x + job.area->width, x->first, x->second);
    bry = std::clamp(job.area->y + job.area->height, y->first, y->second);
  }
  std::pair<const char*, double> area[] = {
      {"tl-x", tlx}, {"tl-y", tly}, {"br-x", brx}, {"br-y", bry}};
  for (const auto& [name, value] : area) {
    if (options.settable(name)) setter.set(name, value);
  }
}

}  // namespace

DeviceCore::DeviceCore(wire::DeviceInfo info, Link& link, SaneWorker& worker)
    : info(std::move(info)), link(link), worker(worker) {}

DeviceCore::~DeviceCore() { shut(); }

void DeviceCore::cancelNow() {
  cancelling = true;
  link.endFileWaits();
  std::lock_guard lock(guard);
  if (handle != nullptr) sane_cancel(handle);
}

void DeviceCore::stopSilently() {
  closing = true;
  link.endFileWaits();
}

void DeviceCore::open() {
  // A session opened again starts afresh, whatever ended the one before.
  cancelling = false;
  cancelled = false;
  closing = false;
  link.resumeFileWaits();
  wire::Message answer{.kind = wire::Kind::opened, .device = info.name};
  if (handle == nullptr) {
    SANE_Handle h = nullptr;
    SANE_Status status = sane_open(info.name.c_str(), &h);
    if (status != SANE_STATUS_GOOD) {
      if (gone(status)) return link.send(wire::Kind::lost, info.name);
      answer.error = saneError(status);
      return link.send(answer);
    }
    {
      std::lock_guard lock(guard);
      handle = h;
    }
    ++worker.openSessions;
    options = std::make_unique<SaneOptions>(h);
    auto list = options->strings("source");
    sources.reset();
    if (list) sources = sortSources(*list);
  }
  answer.info.units = unitTypes(sources, info.type);
  link.send(answer);
}

// What the unit offers is read once it is selected, as a scan of it would find it: resolution
// lists and areas differ from one source to another, and a feeder's area is bounded by the
// page size a scan sets (fujitsu, canon_dr), which is set here too.
void DeviceCore::select(UnitType type) {
  wire::Message answer{.kind = wire::Kind::selected, .device = info.name};
  wire::UnitInfo& unit = answer.unitInfo;
  unit.type = type;
  if (handle == nullptr) {
    answer.error = saneError(SANE_STATUS_INVAL);
  } else {
    Setter setter{*options};
    std::optional<std::string> spelling;
    if (sources) spelling = type == flatbedUnit ? sources->flatbed : sources->feeder;
    if (spelling && options->settable("source")) setter.set("source", *spelling);
    if (type == feederUnit) setPageSize(setter);
    if (gone(setter.status)) return link.send(wire::Kind::lost, info.name);
    if (setter.status != SANE_STATUS_GOOD) answer.error = saneError(setter.status);
  }
  if (!answer.error) {
    if (const SANE_Option_Descriptor* r = options->find("resolution")) {
      unit.supported = resolutionsOf(*r);
    }
    for (std::int64_t dpi : commonResolutions) {
      if (unit.supported.contains(dpi)) unit.preferred.add(dpi);
    }
    // Both sides only where a scan with duplex asked for sets something that gives them.
    unit.duplex = type == feederUnit && sidesOf(*options, sources).both();
    auto x = options->range("br-x"), y = options->range("br-y");
    if (x && y) unit.physical = {x->second, y->second};
  }
  link.send(answer);
}

void DeviceCore::complete(const std::optional<Error>& error) {
  link.send({.kind = wire::Kind::completed, .device = info.name, .error = error});
}

void DeviceCore::cancel() {
  if (cancelled) return;
  cancelled = true;
  // The scanner is left idle before the run is told.
  shut();
  complete(stopError());
}

void DeviceCore::outOfMemory() {
  shut();
  complete(saneError(SANE_STATUS_NO_MEM));
}

void DeviceCore::close() {
  shut();
  closing = false;
  link.send(wire::Kind::closed, info.name);
}

void DeviceCore::shut() {
  if (handle == nullptr) return;
  sane_cancel(handle);
  options.reset();
  {
    std::lock_guard lock(guard);
    sane_close(handle);
    handle = nullptr;
  }
  --worker.openSessions;
}

// Sets the options in an order that works with every backend: source (and the duplex
// switches), page size, mode, depth, resolution, area. A backend may reset later options when
// an earlier one changes (genesys resets depth with the mode and the resolution and area with
// the source; fujitsu bounds the area by the page size), so each is set after those it
// depends on. Descriptors are read again whenever a change asks for it (SaneOptions), and
// inactive options are left alone.
SANE_Status DeviceCore::apply(const wire::ScanJob& job, int& density) {
  Setter setter{*options};
  setSource(setter, sources, job);
  setPageSize(setter);
  setMode(setter, job);
  if (job.dpi && options->settable("resolution")) {
    setter.set("resolution", static_cast<double>(*job.dpi));
  }
  setArea(setter, job);
  auto dpi = options->number("resolution");
  density = dpi ? static_cast<int>(*dpi) : static_cast<int>(job.dpi.value_or(0));
  return setter.status;
}

SANE_Status DeviceCore::readPage(PageEncoder& encoder, std::size_t& bytes, bool& unknownHeight) {
  SANE_Handle h = handle;
  const auto limit = silenceLimit(backendOf(info.name));
  int empty = 0;  // reads in a row that gave nothing
  std::chrono::steady_clock::time_point silentSince;
  for (;;) {
    // Read after sane_start: the parameters before it are estimates.
    SANE_Parameters p{};
    SANE_Status status = sane_get_parameters(h, &p);
    if (status != SANE_STATUS_GOOD) return status;
    auto format = formatOf(p.format);
    if (!format) return SANE_STATUS_UNSUPPORTED;
    unknownHeight = unknownHeight || p.lines < 0;
    encoder.beginFrame({.format = *format,
                        .last = p.last_frame != SANE_FALSE,
                        .bytesPerLine = p.bytes_per_line,
                        .pixels = p.pixels_per_line,
                        .lines = p.lines,
                        .depth = p.depth});
    if (meter) {
      bool threePass = *format == FrameFormat::red || *format == FrameFormat::green ||
                       *format == FrameFormat::blue;
      meter->beginFrame(p.bytes_per_line, p.lines, threePass);
    }
    for (;;) {
      if (closing || cancelling || encoder.failure()) return SANE_STATUS_CANCELLED;
      auto data = encoder.buffer();
      std::size_t used = 0;
      while (used < data.size()) {
        SANE_Int n = 0;
        status = sane_read(h, data.data() + used, static_cast<SANE_Int>(data.size() - used), &n);
        if (status != SANE_STATUS_GOOD) break;
        if (n > 0) {
          used += static_cast<std::size_t>(n);
          empty = 0;
          // Counted from what the loop keeps anyway: the page's bytes so far.
          if (meter) meter->reached(bytes + used);
          reading(false);
          continue;
        }
        // A read may return nothing while the scanner warms up or works (fujitsu and
        // canon_dr do so in blocking mode); a long silence is a lost device (silenceLimit).
        auto now = std::chrono::steady_clock::now();
        if (empty++ == 0) silentSince = now;
        if (now - silentSince >= limit) {
          status = SANE_STATUS_IO_ERROR;
          break;
        }
        if (closing || cancelling) return SANE_STATUS_CANCELLED;
        std::this_thread::sleep_for(emptyReadPause(empty));
      }
      bytes += used;
      if (used > 0) encoder.push(std::move(data), used);
      if (status == SANE_STATUS_EOF) break;
      if (status != SANE_STATUS_GOOD) return status;
    }
    // After a stop nothing completes the page, whatever the backend answered: the test
    // backend and several real ones end the frame with EOF once cancelled, as if it were
    // whole.
    if (closing || cancelling) return SANE_STATUS_CANCELLED;
    encoder.endFrame();
    if (p.last_frame) return SANE_STATUS_GOOD;
    status = sane_start(h);
    if (status != SANE_STATUS_GOOD) return status;
    reading(true);
  }
}

void DeviceCore::reading(bool started) {
  auto now = std::chrono::steady_clock::now();
  if (!started && now - lastReading < readingInterval) return;
  lastReading = now;
  link.send(wire::Kind::reading, info.name);
}

bool DeviceCore::gone(SANE_Status status) {
  // An unplugged device answers I/O errors, and a name that is no more is invalid.
  return (status == SANE_STATUS_IO_ERROR || status == SANE_STATUS_INVAL) && lost();
}

// After an I/O error: whether the device has gone away. The handle is of no more use and is
// closed. For a network device SANE is started afresh when nothing else is open, since the
// net backend keeps the connection that its server dropped and fails (even crashes) when
// asked for devices over it.
bool DeviceCore::lost() {
  shut();
  if (backendOf(info.name) == "net" && worker.openSessions == 0) worker.restart();
  const SANE_Device** list = nullptr;
  if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || list == nullptr) return false;
  for (; *list != nullptr; ++list) {
    if ((*list)->name != nullptr && info.name == (*list)->name) return false;
  }
  return true;
}

void DeviceCore::scan(const wire::ScanJob& job) {
  if (handle == nullptr) return complete(saneError(SANE_STATUS_INVAL));
  int density = 0;
  if (SANE_Status status = apply(job, density); status != SANE_STATUS_GOOD) {
    if (gone(status)) return link.send(wire::Kind::lost, info.name);
    return complete(saneError(status));
  }
  // How far each page has come goes to qev as it is read, when qev asked for it.
  meter.reset();
  if (job.progress) {
    meter.emplace([this](const PageProgress& progress) {
      link.send({.kind = wire::Kind::progress, .device = info.name, .progress = progress});
    });
  }
  // A flatbed gives the same page at every start: it is scanned once, unless it turns out to
  // feed sheets (sheetsOnFlatbed).
  Batch batch{.backend = backendOf(info.name), .feeds = job.unit != flatbedUnit};
  // Each page file is reported once it is whole; one that is not is never reported, and qev
  // removes it.
  PageEncoder encoder([this] { link.send(wire::Kind::scanned, info.name); });
  feed(batch, encoder, density);
  // The last page is written out and reported before the scanner is touched again.
  batch.unwritten = encoder.finish();
  sane_cancel(handle);
  batch.closing = closing;
  batch.cancelling = cancelling;
  answer(batchEnd(batch));
}

void DeviceCore::feed(Batch& batch, PageEncoder& encoder, int density) {
  while (!closing && !cancelling) {
    // The file comes first: a scanner is not started for a page that has nowhere to go (and
    // some backends do not take a cancel right after a start well). It is asked for while
    // the last bands of the page before are still written, so that qev's answer does not
    // keep the processors waiting.
    Link::File file = link.needFile(info.name);
    // The page before is written out and reported before the scanner is touched again: its
    // sheet is fed, and a backend that crashes (or a scanner lost) on the next sheet must not
    // take it with the host. So at most two page files are incomplete at any moment: the page
    // being written, and the next page's file, which nothing is written into yet.
    if (batch.pages > 0 && encoder.finish()) return;
    if (file.error) {
      batch.noFile = file.error;
      return;
    }
    // A refused start leaves the file unwritten and unreported.
    batch.status = sane_start(handle);
    if (batch.status != SANE_STATUS_GOOD) {
      batch.halt = Halt::start;
      return;
    }
    reading(true);
    encoder.beginPage(std::move(file.fd), density);
    if (meter) meter->beginPage(batch.pages + 1);
    std::size_t bytes = 0;
    bool unknownHeight = false;
    batch.status = readPage(encoder, bytes, unknownHeight);
    if (batch.status != SANE_STATUS_GOOD) {
      encoder.abortPage();
      batch.halt = Halt::read;
      batch.bytes = bytes;
      return;
    }
    encoder.endPage();
    ++batch.pages;
    batch.feeds = batch.feeds || (unknownHeight && sheetsOnFlatbed(batch.backend));
    if (!batch.feeds) return;
    // The next sheet starts without a cancel in between: a cancel can drop a duplex back side.
  }
}

void DeviceCore::answer(const BatchEnd& end) {
  switch (end.answer) {
    case BatchEnd::Answer::none:
      return;
    case BatchEnd::Answer::cancelled:
      return cancel();
    case BatchEnd::Answer::completedIfListed:
      if (lost()) return link.send(wire::Kind::lost, info.name);
      break;
    case BatchEnd::Answer::failed:
      if (gone(end.status)) return link.send(wire::Kind::lost, info.name);
      break;
    case BatchEnd::Answer::completed:
      break;
  }
  complete(end.error);
}

}  // namespace qev
