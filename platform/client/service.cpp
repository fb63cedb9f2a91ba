// The scanner service on the driver host: the browser and the devices as qev's process sees
// them. Every SANE call happens in the host; here are only messages, the page files the
// host writes into, and what becomes of a session when the host dies.

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <string_view>

#include "common/utf8.h"
#include "platform/client/page_check.h"
#include "platform/client/process.h"
#include "platform/files.h"
#include "platform/run_loop.h"
#include "platform/scanner.h"

namespace qev {

namespace {

constexpr unsigned scannerType = 0x2;
// How long a session's close may take before qev ends without waiting for it.
constexpr auto closeLimit = std::chrono::seconds(5);
// How long a cancelled session may take to stop before its host is killed; also how long a
// stop waits for the host's first message, should it come before it.
constexpr auto cancelGrace = std::chrono::milliseconds(1500);
// The page files a host may hold at once: the page it writes, and the file for the next page,
// asked for while that page's last bands are written.
constexpr std::size_t maxIncomplete = 2;

// The error of a device whose host is not there to answer, or never said a word.
Error notRunning() { return Error{"The scanner's driver is not running.", Code::driverStopped}; }
// How long qev's end waits for its host to end by itself. A host ends as soon as it reads the
// end of its socket; only one that checks itself at its end (under valgrind) takes a while.
constexpr auto endLimit = std::chrono::seconds(5);
// How long the host may take over each request of a session before the scanner counts as no
// longer answering: generous, from what real backends take. An open may wait for the scanner
// to wake up (hp5590: up to 90 s; avision: 10 s; airscan: 20 s); setting options is quick,
// also over a network. A page's start may warm the lamp up and calibrate (epson2: up to 70 s;
// genesys: 65 s and more; avision: 90 s) or fetch the whole page (escl), and a sheet-fed
// scanner may wait a minute for a sheet (genesys); a read may wait for a whole page (epsonds)
// or a slow network. Reads that keep returning nothing are the host's to judge (habits.h:
// two minutes), so the wait for data is longer than that.
struct Limits {
  std::chrono::milliseconds open{std::chrono::seconds(120)};
  std::chrono::milliseconds settings{std::chrono::seconds(60)};  // selecting, setting options
  std::chrono::milliseconds start{std::chrono::seconds(180)};    // a page, up to its first data
  std::chrono::milliseconds data{std::chrono::seconds(180)};     // between data and the next
};

// The limits, which qev's own tests shorten (all to one number of milliseconds) through
// QEV_TEST_LIMITS_MS, so that a backend that hangs ends a test quickly. For the tests only:
// it is no option of qev's, and no one else sets it.
const Limits& limits() {
  static const Limits chosen = [] {
    Limits all;
    const char* test = std::getenv("QEV_TEST_LIMITS_MS");
    std::string_view text = test != nullptr ? test : "";
    int ms = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (error == std::errc() && end == text.data() + text.size() && ms > 0) {
      all.open = all.settings = all.start = all.data = std::chrono::milliseconds(ms);
    }
    return all;
  }();
  return chosen;
}

class Service;

class HostUnit final : public Unit {
 public:
  wire::UnitInfo info;
  wire::ScanJob wanted;

  UnitType type() const override { return info.type; }
  Resolutions supportedResolutions() const override { return info.supported; }
  Resolutions preferredResolutions() const override { return info.preferred; }
  void setResolution(std::int64_t dpi) override { wanted.dpi = dpi; }
  void setPixelDataType(PixelType type) override { wanted.pixelType = type; }
  void setBitDepth(int depth) override { wanted.depth = depth; }
  bool supportsDuplexScanning() const override { return info.duplex; }
  void setDuplexScanningEnabled(bool enabled) override { wanted.duplex = enabled; }
  Size physicalSize() const override { return info.physical; }
  void setScanArea(const Area& area) override { wanted.area = area; }
};

// Where a device's session stands, as far as the host's answers go. Each answer of the host
// fits one stage; an answer that fits none makes the host a broken one.
enum class Stage {
  idle,       // no session
  opening,    // `open` sent
  open,       // the session is open
  selecting,  // `select` sent
  scanning,   // `scan` sent: pages, then `completed`
};

class HostDevice final : public Device, public std::enable_shared_from_this<HostDevice> {
 public:
  HostDevice(wire::DeviceInfo info, RunLoop& loop, std::weak_ptr<Service> service)
      : info(std::move(info)), loop(loop), service(std::move(service)) {}

  // The stable identity where the host derived one, else the SANE device name.
  std::optional<std::string> uuid() const override {
    return validUtf8(info.uuid.value_or(info.name));
  }
  // As the host tells them, made valid for the events.
  std::optional<std::string> name() const override {
    if (!info.displayName) return std::nullopt;
    return validUtf8(*info.displayName);
  }
  std::optional<std::string> transport() const override { return validUtf8(info.transport); }
  std::vector<UnitType> availableUnitTypes() const override { return info.units; }

  void setDelegate(DeviceDelegate* d) override { delegate = d; }
  void requestOpenSession() override;
  void requestSelectUnit(UnitType type) override;
  // Pages always come as files.
  void setTransferMode(int) override {}
  void setDownloadsFolder(const Folder& downloads) override { folder = &downloads; }
  void setDocumentName(const std::string& name) override { document = name; }
  // Pages are always JPEG files.
  void setDocumentType(const std::string&) override {}
  void setReportsProgress(bool enabled) override { reportsProgress = enabled; }
  void requestScan() override;
  void requestCloseSession() override;
  void requestCancel() override;

  // On the loop's thread. False when the message does not fit the session's stage.
  [[nodiscard]] bool handle(const wire::Message& message);
  void hostGone(const Error& why);

  wire::DeviceInfo info;
  bool present = true;  // listed, not reported gone

 private:
  std::shared_ptr<Service> live() const;
  // A stop, and a request out of turn, in SANE's words as the host sent them.
  Error cancelledError() const;
  Error invalidError() const;
  void send(wire::Message message, int fd = -1);
  // The host owes an answer within `limit` / none.
  void expect(std::chrono::milliseconds limit);
  void answered();
  void later(std::optional<Error> error);
  void complete(const std::optional<Error>& error);
  void giveFile();
  bool takePage();
  bool fitsProgress(const PageProgress& progress) const;

  RunLoop& loop;
  std::weak_ptr<Service> service;
  DeviceDelegate* delegate = nullptr;
  std::map<UnitType, std::unique_ptr<HostUnit>> units;
  HostUnit* current = nullptr;
  const Folder* folder = nullptr;  // the session's, open until the scan completes
  std::string document = "scan";
  int nextFile = 1;
  std::int64_t filesGiven = 0;  // page files of the scan handed to the host
  std::int64_t pagesTaken = 0;  // pages of the scan reported whole
  bool reportsProgress = false;
  bool progressAsked = false;  // by the scan under way
  Stage stage = Stage::idle;
  bool cancelled = false;  // the user stopped the session: only its completion is awaited
  // The page files the host holds, oldest first, not yet reported complete: the page it
  // writes, and the file for the next page while that page's last bands are written.
  // Whatever ends a page without a report removes its file.
  std::deque<PageFile> pending;
};

// What the browser and its devices share: the host, the browser's delegate and the devices
// by SANE name. The browser owns it; devices only point back to it, so that the end of the
// browser ends the host, its process and its thread, while devices held elsewhere live on
// (and find the host gone).
class Service : public std::enable_shared_from_this<Service> {
 public:
  // More scanners than this from one host are a flood, not a listing.
  static constexpr std::size_t maxDevices = 512;

  Service(RunLoop& loop, bool probe, std::string wanted)
      : loop(loop), probe(probe), wanted(std::move(wanted)) {}

  void start() {
    std::weak_ptr<Service> self = weak_from_this();
    auto message = [self](wire::Received& r) {
      if (auto s = self.lock()) s->handle(r);
    };
    auto gone = [self](const Error& why) {
      if (auto s = self.lock()) s->gone(why);
    };
    host = std::make_unique<HostProcess>(loop,
                                         HostProcess::Handlers{.message = message, .gone = gone});
    host->send({.kind = wire::Kind::browse, .device = wanted, .probe = probe});
  }

  void handle(wire::Received& r) {
    if (dead) return;  // what a broken host sent before it was stopped
    if (!fits(r.message)) broke("a message out of turn");
  }

  // Whether the message fits what qev knows and asked; the device's own answers go to it.
  bool fits(const wire::Message& m) {
    auto it = devices.find(m.device);
    const bool known = it != devices.end();
    switch (m.kind) {
      case wire::Kind::added: {
        if (m.info.name != m.device) return false;
        if (known) {
          // Back after it went away (a network scanner that came back): the same device.
          if (it->second->present) return false;
          it->second->present = true;
          it->second->info = m.info;
          if (delegate) delegate->didAdd(it->second);
          return true;
        }
        if (devices.size() >= maxDevices) {
          broke("too many messages");
          return true;
        }
        auto device = std::make_shared<HostDevice>(m.info, loop, weak_from_this());
        devices[m.device] = device;
        if (delegate) delegate->didAdd(device);
        return true;
      }
      case wire::Kind::removed:
        if (!known || !it->second->present) return false;
        it->second->present = false;
        if (delegate) delegate->didRemove(it->second);
        return true;
      case wire::Kind::units:
        if (!known) return false;
        it->second->info.units = m.info.units;
        return true;
      case wire::Kind::closed:
        return known;  // counted by the HostProcess, which checked it was asked for
      default:
        return known && it->second->handle(m);
    }
  }

  // SANE's texts as the host sent them. A stop may come before the host's first message has
  // been read: it is given as long as a cancel is.
  std::optional<wire::Texts> texts() { return host ? host->texts(cancelGrace) : std::nullopt; }
  // The errors qev reports without the host's answer, in SANE's words as the host sent them
  // as soon as it ran; without them, the host is not running.
  Error cancelledError() {
    auto said = texts();
    return said ? Error{said->cancelled, Code::cancelled} : notRunning();
  }
  Error invalidError() {
    auto said = texts();
    return said ? Error{said->invalid} : notRunning();
  }

  // Stops a host that sent what it must not. Nothing it sent is looked at any more; its
  // sessions end when its end is reported.
  void broke(const std::string& reason) {
    dead = true;
    if (host) host->broke(reason);
  }

  void gone(const Error& why) {
    dead = true;
    // A host that never ran finds no scanner: the browser fails.
    if (why.code == Code::driverMissing && delegate) delegate->didFail(why);
    // Copied: a device's delegate may end the run, or add to the map.
    auto all = devices;
    for (auto& [name, device] : all) device->hostGone(why);
  }

  RunLoop& loop;
  const bool probe;
  const std::string wanted;  // the identifier of the scanner a scan looks for, or empty
  std::unique_ptr<HostProcess> host;
  bool dead = false;
  BrowserDelegate* delegate = nullptr;
  // Every device the host reported, also after it went away: it may come back.
  std::map<std::string, std::shared_ptr<HostDevice>> devices;
};

Error HostDevice::cancelledError() const {
  auto s = service.lock();
  return s ? s->cancelledError() : notRunning();
}

Error HostDevice::invalidError() const {
  auto s = service.lock();
  return s ? s->invalidError() : notRunning();
}

std::shared_ptr<Service> HostDevice::live() const {
  auto s = service.lock();
  return s && !s->dead ? s : nullptr;
}

// A message that cannot be sent is not reported here: the host's end reaches `hostGone`.
void HostDevice::send(wire::Message message, int fd) {
  message.device = info.name;
  if (auto s = live()) s->host->send(message, fd);
}

void HostDevice::expect(std::chrono::milliseconds limit) {
  if (auto s = live()) s->host->expect(limit);
}

void HostDevice::answered() {
  if (auto s = live()) s->host->answered();
}

// Completes the session on the loop, as an answer would.
void HostDevice::later(std::optional<Error> error) {
  loop.post([self = shared_from_this(), error] { self->complete(error); });
}

void HostDevice::requestOpenSession() {
  cancelled = false;
  if (!live()) {
    stage = Stage::opening;
    return later(notRunning());
  }
  stage = Stage::opening;
  send({.kind = wire::Kind::open, .info = info});
  expect(limits().open);
}

void HostDevice::requestSelectUnit(UnitType type) {
  if (stage != Stage::open) return later(invalidError());
  stage = Stage::selecting;
  send({.kind = wire::Kind::select, .unit = type});
  expect(limits().settings);
}

void HostDevice::requestScan() {
  if (stage != Stage::open || current == nullptr) return later(invalidError());
  wire::ScanJob job = current->wanted;
  job.unit = current->info.type;
  job.progress = reportsProgress;
  progressAsked = reportsProgress;
  nextFile = 1;
  filesGiven = 0;
  pagesTaken = 0;
  stage = Stage::scanning;
  send({.kind = wire::Kind::scan, .job = job});
  // The options are set before the first page file is asked for.
  expect(limits().settings);
}

void HostDevice::requestCloseSession() {
  stage = Stage::idle;
  pending.clear();
  answered();
  auto s = live();
  if (!s) return;
  int before = s->host->closedSoFar();
  send({.kind = wire::Kind::close});
  // A backend that hangs (a network scanner that stopped answering) must not keep the
  // process from ending: the close is given a while, then left to the host.
  s->host->waitClosed(before, closeLimit);
}

void HostDevice::requestCancel() {
  if (stage == Stage::idle || cancelled) return;
  cancelled = true;
  send({.kind = wire::Kind::cancel});
  // A backend that does not return from its call is not waited for.
  if (auto s = live()) s->host->killAfter(cancelGrace);
}

void HostDevice::complete(const std::optional<Error>& error) {
  stage = Stage::idle;
  answered();
  if (auto s = live(); s && cancelled) s->host->spare();  // the cancel was answered
  cancelled = false;
  pending.clear();
  if (delegate) delegate->didComplete(*this, error);
}

// A new page file for the host to write: created here, so that qev always knows which file
// is incomplete, and removes it should the host die while writing it.
void HostDevice::giveFile() {
  if (folder == nullptr) {
    send({.kind = wire::Kind::noFile, .error = invalidError()});
    return;
  }
  Outcome outcome;
  auto file = PageFile::create(
      *folder,
      [&](int) {
        char number[32];
        std::snprintf(number, sizeof number, "-%04d.jpg", nextFile++);
        return document + number;
      },
      outcome);
  if (!file) {
    send({.kind = wire::Kind::noFile, .error = outcome.error()});
    return;
  }
  send({.kind = wire::Kind::file}, file->fd());
  ++filesGiven;
  pending.push_back(std::move(*file));
}

// The host says the oldest page file it was given and has not reported is complete. It is
// taken as a page only when it is one, read back through qev's own descriptor; the host
// cannot name any other file.
bool HostDevice::takePage() {
  if (pending.empty()) return false;
  std::string path;
  {
    PageFile page = std::move(pending.front());
    pending.pop_front();
    if (!completeJpeg(page.fd())) {
      pending.clear();
      if (auto s = service.lock()) s->broke("an incomplete page");
      return true;
    }
    path = page.path();
    page.keep();
  }  // closed before the page is handed on
  ++pagesTaken;
  if (delegate) delegate->didScan(*this, path);
  return true;
}

// A report of how far a page has come, asked for by the scan, about a page whose file the
// host holds and has not reported whole, with figures that can be.
bool HostDevice::fitsProgress(const PageProgress& p) const {
  return progressAsked && p.page > pagesTaken && p.page <= filesGiven && p.lines >= 0 &&
         p.total >= -1;
}

bool HostDevice::handle(const wire::Message& m) {
  switch (m.kind) {
    case wire::Kind::opened:
      if (stage != Stage::opening) return false;
      answered();
      stage = m.error ? Stage::idle : Stage::open;
      if (!m.error) info.units = m.info.units;
      // A session stopped while it opened only waits for its completion.
      if (!cancelled && delegate) delegate->didOpen(*this, m.error);
      return true;
    case wire::Kind::selected: {
      if (stage != Stage::selecting) return false;
      answered();
      stage = Stage::open;
      auto& slot = units[m.unitInfo.type];
      if (!slot) slot = std::make_unique<HostUnit>();
      slot->info = m.unitInfo;
      current = slot.get();
      if (!cancelled && delegate) delegate->didSelect(*this, *slot, m.error);
      return true;
    }
    case wire::Kind::needFile:
      // The file for the next page may be asked for while the page before is written, never
      // while two files are unreported. The next page starts once the host has its file.
      if (stage != Stage::scanning || pending.size() >= maxIncomplete) return false;
      expect(limits().start);
      if (cancelled) {
        send({.kind = wire::Kind::noFile, .error = cancelledError()});
      } else {
        giveFile();
      }
      return true;
    case wire::Kind::progress:
      if (stage != Stage::scanning || !fitsProgress(m.progress)) return false;
      expect(limits().data);  // a figure counts data read
      if (!cancelled && delegate) delegate->didProgress(*this, m.progress);
      return true;
    case wire::Kind::reading:
      // The page has started and its data comes.
      if (stage != Stage::scanning) return false;
      expect(limits().data);
      return true;
    case wire::Kind::scanned:
      if (stage != Stage::scanning) return false;
      // The next page starts, when its file was asked for while this one was written; else
      // it is asked for, or the scan completes.
      expect(pending.size() > 1 ? limits().start : limits().data);
      return takePage();
    case wire::Kind::completed:
      // A cancel is answered with a completion whatever the stage.
      if (stage != Stage::scanning && !cancelled) return false;
      complete(m.error);
      return true;
    case wire::Kind::lost:
      if (stage == Stage::idle) return false;
      answered();
      stage = Stage::idle;
      pending.clear();
      if (delegate) delegate->didRemove(*this);
      return true;
    default:
      return false;
  }
}

void HostDevice::hostGone(const Error& why) {
  pending.clear();  // nothing incomplete is left behind; the pages reported stay
  if (stage == Stage::idle && !cancelled) return;
  complete(cancelled ? cancelledError() : why);
}

class HostBrowser final : public DeviceBrowser {
 public:
  HostBrowser(RunLoop& loop, bool probe, const std::string& wanted)
      : service(std::make_shared<Service>(loop, probe, wanted)) {}

  void setDelegate(BrowserDelegate* delegate) override { service->delegate = delegate; }
  void setBrowsedDeviceTypes(unsigned mask) override { this->mask = mask; }

  void start() override {
    // Only scanners are ever found.
    if (started || (mask & scannerType) == 0) return;
    started = true;
    service->start();
  }

  Error cancelledError() override { return service->cancelledError(); }

 private:
  std::shared_ptr<Service> service;
  unsigned mask = browsedDeviceTypes;
  bool started = false;
};

}  // namespace

std::unique_ptr<DeviceBrowser> newDeviceBrowser(RunLoop& loop, bool probe,
                                                const std::string& wanted) {
  return std::make_unique<HostBrowser>(loop, probe, wanted);
}

bool endScannerService() { return endHosts(endLimit); }

}  // namespace qev
