#pragma once

// One SANE device in the driver host: its handle, its options and its scans. The requests
// come from qev as messages and run on the worker thread, in order; the answers go back as
// messages through the link. Only `cancelNow` and `stopSilently` are called from another
// thread (the one that reads the socket), to stop a scan that is blocked inside the backend.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/wire.h"
#include "host/options.h"
#include "host/progress.h"

namespace qev {

struct Batch;
struct BatchEnd;
class Link;
class PageEncoder;
class SaneWorker;

// What qev can ask of one device, as the host's router (host/router.h) hands it on. Abstract
// so that the routing can be tested without SANE; the real one is DeviceCore.
class Core {
 public:
  virtual ~Core() = default;

  // Any thread.
  // Asks a running scan to stop and the session to end with SANE's cancellation status.
  virtual void cancelNow() = 0;
  // Asks a running scan to stop without a word: the session is closing.
  virtual void stopSilently() = 0;

  // Worker thread only.
  virtual void open() = 0;
  virtual void select(UnitType type) = 0;
  virtual void scan(const wire::ScanJob& job) = 0;
  // Ends the session, leaving the scanner idle, and answers `closed`.
  virtual void close() = 0;
  // Closes the session and completes with the cancellation status, unless a scan already
  // did so.
  virtual void cancel() = 0;
  // A request ran out of memory: the session is closed and the scan completes with SANE's
  // text for it, so that the run ends with its error rather than with a dead host.
  virtual void outOfMemory() = 0;
};

class DeviceCore final : public Core {
 public:
  DeviceCore(wire::DeviceInfo info, Link& link, SaneWorker& worker);
  ~DeviceCore() override;
  DeviceCore(const DeviceCore&) = delete;
  DeviceCore& operator=(const DeviceCore&) = delete;

  // A scan blocked in the backend is cancelled at once (SANE allows sane_cancel from another
  // thread).
  void cancelNow() override;
  void stopSilently() override;

  void open() override;
  void select(UnitType type) override;
  void scan(const wire::ScanJob& job) override;
  void close() override;
  void cancel() override;
  void outOfMemory() override;

 private:
  void shut();
  SANE_Status apply(const wire::ScanJob& job, int& density);
  // Scans pages into `encoder` until the source has no more, a call fails or a stop is
  // asked; `batch` records what stopped it.
  void feed(Batch& batch, PageEncoder& encoder, int density);
  // Tells qev how the scan ended.
  void answer(const BatchEnd& end);
  // Reads one page; `bytes` counts what arrived, `unknownHeight` whether the backend did not
  // know the page's height once started.
  SANE_Status readPage(PageEncoder& encoder, std::size_t& bytes, bool& unknownHeight);
  // Whether `status` comes from a device that went away: asked only for statuses that an
  // unplugged device answers, and then the handle is closed (see `lost`).
  bool gone(SANE_Status status);
  // Tells qev that a page has started (`started`) or that its data comes, at most every
  // quarter of a second: qev's limits on the calls of a scan are measured from these.
  void reading(bool started);
  bool lost();
  void complete(const std::optional<Error>& error);

  wire::DeviceInfo info;
  Link& link;
  SaneWorker& worker;
  std::atomic<bool> closing{false};
  std::atomic<bool> cancelling{false};
  // The open handle; guarded, since `cancelNow` cancels it from another thread.
  std::mutex guard;
  SANE_Handle handle = nullptr;
  std::unique_ptr<SaneOptions> options;
  std::optional<Sources> sources;
  // The scan's, when qev asked how far its pages have come. Worker thread only.
  std::optional<ProgressMeter> meter;
  bool cancelled = false;                             // the cancellation has been answered
  std::chrono::steady_clock::time_point lastReading;  // when qev was last told of data
};

}  // namespace qev
