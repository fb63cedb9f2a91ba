#pragma once

// One SANE device in the driver host: its handle, its options and its scans. The requests
// come from qev as messages and run on the worker thread, in order; the answers go back as
// messages through the link. Only `interrupt` is called from another thread (the one that
// reads the socket), to stop a scan that is blocked inside the backend.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/wire.h"
#include "host/options.h"

namespace qev {

class Link;
class PageEncoder;
class SaneWorker;

class DeviceCore {
 public:
  DeviceCore(wire::DeviceInfo info, Link& link, SaneWorker& worker);
  ~DeviceCore();
  DeviceCore(const DeviceCore&) = delete;
  DeviceCore& operator=(const DeviceCore&) = delete;

  // Asks a running scan to stop and the session to end with SANE's cancellation status. Any
  // thread: a scan blocked in the backend is cancelled at once (SANE allows sane_cancel from
  // another thread).
  void interrupt();
  // Asks a running scan to stop without a word: the session is closing.
  std::atomic<bool> closing{false};

  // Worker thread only.
  void open();
  void select(UnitType type);
  void scan(const wire::ScanJob& job);
  // Ends the session, leaving the scanner idle, and answers `closed`.
  void close();
  // Closes the session and completes with the cancellation status, unless a scan already
  // did so.
  void cancel();
  // A request ran out of memory: the session is closed and the scan completes with SANE's
  // text for it, so that the run ends with its error rather than with a dead host.
  void outOfMemory();

 private:
  void shut();
  SANE_Status apply(const wire::ScanJob& job, int& density);
  // Reads one page; `bytes` counts what arrived, `unknownHeight` whether the backend did not
  // know the page's height once started.
  SANE_Status readPage(PageEncoder& encoder, std::size_t& bytes, bool& unknownHeight);
  // Whether `status` comes from a device that went away: asked only for statuses that an
  // unplugged device answers, and then the handle is closed (see `lost`).
  bool gone(SANE_Status status);
  bool lost();
  void complete(const std::optional<Error>& error);

  wire::DeviceInfo info;
  Link& link;
  SaneWorker& worker;
  std::atomic<bool> cancelling{false};
  // The open handle; guarded, since `interrupt` cancels it from another thread.
  std::mutex guard;
  SANE_Handle handle = nullptr;
  std::unique_ptr<SaneOptions> options;
  std::optional<Sources> sources;
  bool cancelled = false;  // the cancellation has been answered
};

}  // namespace qev
