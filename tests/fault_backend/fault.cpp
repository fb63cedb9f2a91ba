// A SANE backend for tests only: scanners described by fault.conf that misbehave on purpose
// (odd names, odd option shapes, jams, I/O errors, disconnects, wrong byte counts, the habits
// of real backends, and worse: crashes, calls that never return, text on the frontend's
// streams). libsane's dll loader finds it as libsane-fault.so.1 through LD_LIBRARY_PATH. Every
// keyword is documented in README.md beside this file.
//
// This file holds the SANE entry points and the pages; config.cpp reads fault.conf,
// options.cpp keeps the options of an open device, hostile.cpp does harm.

#include <sane/sane.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "hostile.h"
#include "options.h"

namespace fault {
namespace {

// The backend name this copy of the library was loaded as: `fault`, or another that a test
// gave a copy of it (see the entry points at the end).
std::string loadedAs = "fault";
std::vector<std::unique_ptr<Device>> devices;
std::vector<const SANE_Device*> list;
std::vector<std::unique_ptr<Handle>> handles;

Handle* handleOf(SANE_Handle handle) {
  for (const auto& h : handles)
    if (h.get() == handle) return h.get();
  return nullptr;
}

void sleepMs(long long ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// sane_start after the last sheet, as `feeder-end` says.
SANE_Status feederEnd(Handle& h) {
  const Device& d = *h.device;
  switch (d.feederEnd) {
    case FeederEnd::readNoDocs:
      h.params = parameters(h, true);
      h.state = State::empty;
      return SANE_STATUS_GOOD;
    case FeederEnd::startCancelled:
      return SANE_STATUS_CANCELLED;
    case FeederEnd::ioErrorAfter:
      sleepMs(d.feederEndMs);
      return SANE_STATUS_IO_ERROR;
    case FeederEnd::noDocsAfter:
      sleepMs(d.feederEndMs);
      return SANE_STATUS_NO_DOCS;
    case FeederEnd::startNoDocs:
      break;
  }
  return SANE_STATUS_NO_DOCS;
}

// The answer of the first sane_read after a sane_cancel, as `after-cancel` says: CANCELLED,
// or EOF (SANE's test backend, whose reader is gone, and several real backends), which tells
// nothing of the page being cut.
SANE_Status cancelled(Handle& h) {
  h.state = State::idle;
  return h.device->afterCancel;
}

// Decides what happens at the read that reaches line lines / 2 of the page just started.
void planMidway(Handle& h) {
  const Device& d = *h.device;
  h.midway = Midway::none;
  h.faultStatus = SANE_STATUS_GOOD;
  for (const Fault& f : d.faults)
    if (f.page == h.page && !f.atStart) {
      h.midway = Midway::fail;
      h.faultStatus = f.status;
    }
  if (d.removeAt == h.page) {
    h.midway = Midway::remove;
    h.faultStatus = SANE_STATUS_IO_ERROR;
  }
  if (d.hangRead == h.page) h.midway = Midway::hang;
  if (d.crashPage == h.page) h.midway = Midway::crash;
  h.faultAt = h.midway == Midway::none
                  ? -1
                  : h.params.lines / 2 * static_cast<long long>(h.params.bytes_per_line);
}

// Byte `at` of the page: (x + y) & 0xff, 0 in line padding, 0xff in the `pad-lines` at the end.
SANE_Byte pixel(const Handle& h, long long at) {
  long long line = std::max(1, h.params.bytes_per_line);
  long long x = at % line, y = at / line;
  if (h.device->padLines > 0 && y >= h.params.lines - h.device->padLines) return 0xff;
  if (x >= h.params.bytes_per_line - h.device->padding) return 0;
  return static_cast<SANE_Byte>((x + y) & 0xff);
}

}  // namespace
}  // namespace fault

using namespace fault;

// Only the entry points are visible; the library is built with hidden visibility.
#pragma GCC visibility push(default)
extern "C" {

SANE_Status sane_fault_init(SANE_Int* version, SANE_Auth_Callback) {
  if (version) *version = SANE_VERSION_CODE(1, 0, 0);
  devices = load();
  std::erase_if(devices, [](const auto& d) { return d->backend != loadedAs; });
  for (const auto& d : devices) say(*d);
  return SANE_STATUS_GOOD;
}

void sane_fault_exit() {
  handles.clear();
  devices.clear();
  list.clear();
  list.shrink_to_fit();
}

SANE_Status sane_fault_get_devices(const SANE_Device*** out, SANE_Bool) {
  list.clear();
  for (auto& d : devices) {
    if (d->removed) continue;
    note(*d, "devices\n");
    say(*d);
    if (d->crashDevices != Crash::none) crash(d->crashDevices);
    if (d->hangDevices) {
      note(*d, "hang\n");
      hang();
    }
    d->listing = {d->name.c_str(), d->vendor.c_str(), d->model.c_str(), d->type.c_str()};
    list.push_back(&d->listing);
  }
  list.push_back(nullptr);
  *out = list.data();
  return SANE_STATUS_GOOD;
}

SANE_Status sane_fault_open(SANE_String_Const name, SANE_Handle* out) {
  for (auto& d : devices) {
    if (d->removed || (name[0] && d->name != name)) continue;
    note(*d, "open\n");
    say(*d);
    if (d->resetSignals) resetSignals();
    if (d->crashOpen != Crash::none) crash(d->crashOpen);
    if (d->hangOpen) {
      note(*d, "hang\n");
      hang();
    }
    if (d->busy) return SANE_STATUS_DEVICE_BUSY;
    if (d->openFails != SANE_STATUS_GOOD) return d->openFails;
    if (d->removeOpen) {
      d->removed = true;
      return SANE_STATUS_IO_ERROR;
    }
    auto h = std::make_unique<Handle>();
    h->device = d.get();
    build(*h);
    *out = h.get();
    handles.push_back(std::move(h));
    return SANE_STATUS_GOOD;
  }
  return SANE_STATUS_INVAL;
}

void sane_fault_close(SANE_Handle handle) {
  if (Handle* h = handleOf(handle)) note(*h->device, "close\n");
  std::erase_if(handles, [&](const auto& h) { return h.get() == handle; });
}

const SANE_Option_Descriptor* sane_fault_get_option_descriptor(SANE_Handle handle, SANE_Int n) {
  Handle* h = handleOf(handle);
  if (!h || n < 0 || n >= static_cast<SANE_Int>(h->options.size())) return nullptr;
  h->stale = false;
  return &h->options[static_cast<size_t>(n)].d;
}

SANE_Status sane_fault_control_option(SANE_Handle handle, SANE_Int n, SANE_Action action,
                                      void* value, SANE_Int* info) {
  Handle* h = handleOf(handle);
  if (info) *info = 0;
  // SANE_ACTION_SET_AUTO may come without a value.
  if (!h || n < 0 || n >= static_cast<SANE_Int>(h->options.size()) ||
      (!value && action != SANE_ACTION_SET_AUTO))
    return SANE_STATUS_INVAL;
  Option& o = h->options[static_cast<size_t>(n)];
  if (action == SANE_ACTION_GET_VALUE && !h->stale) {
    if (o.d.type == SANE_TYPE_STRING)
      std::memcpy(value, o.text.c_str(), o.text.size() + 1);
    else
      *static_cast<SANE_Word*>(value) = o.word;
    return SANE_STATUS_GOOD;
  }
  if (n == 0 || (action != SANE_ACTION_SET_VALUE && action != SANE_ACTION_SET_AUTO))
    return SANE_STATUS_INVAL;
  // Sets are recorded as asked, with the value stored when it differs, or the refusal.
  std::string asked = action == SANE_ACTION_SET_AUTO ? "auto" : shown(o, value);
  SANE_Status status = SANE_STATUS_INVAL;
  Device& d = *h->device;
  if (o.d.name == d.removeSet) d.removed = true;
  if (d.removed)
    status = SANE_STATUS_IO_ERROR;
  else if (h->state == State::reading)
    status = SANE_STATUS_DEVICE_BUSY;
  else if (o.d.name == d.setFails)
    status = d.setStatus;
  else if (action == SANE_ACTION_SET_VALUE && !h->stale)
    status = set(*h, o, value, info);
  std::string line = std::string(o.d.name) + "=" + asked;
  if (status != SANE_STATUS_GOOD)
    line += std::string(" [") + statusName(status) + "]";
  else if (std::string stored = shown(o); stored != asked)
    line += " (" + stored + ")";
  note(*h->device, line + "\n");
  if (status != SANE_STATUS_GOOD) return status;
  const auto& reload = h->device->reload;
  if (std::find(reload.begin(), reload.end(), o.d.name) != reload.end()) {
    if (info) *info |= SANE_INFO_RELOAD_OPTIONS;
    h->stale = true;
  }
  return SANE_STATUS_GOOD;
}

SANE_Status sane_fault_get_parameters(SANE_Handle handle, SANE_Parameters* out) {
  Handle* h = handleOf(handle);
  if (!h || !out) return SANE_STATUS_INVAL;
  bool started = h->state == State::reading || h->state == State::done || h->state == State::empty;
  *out = started ? h->params : parameters(*h, false);
  if (h->device->unknownLines) out->lines = -1;
  return SANE_STATUS_GOOD;
}

SANE_Status sane_fault_start(SANE_Handle handle) {
  Handle* h = handleOf(handle);
  if (!h) return SANE_STATUS_INVAL;
  Device& d = *h->device;
  note(d, "start\n");
  say(d);
  if (d.resetSignals) resetSignals();
  if (h->stale) return SANE_STATUS_INVAL;
  if (d.removed) return SANE_STATUS_IO_ERROR;
  if (h->state == State::reading) return SANE_STATUS_DEVICE_BUSY;
  sleepMs(d.startDelayMs);
  h->state = State::idle;
  // The back of a duplex sheet needs no new sheet.
  bool back = h->backPending && duplexing(*h);
  h->backPending = false;
  if (!back && feeding(*h)) {
    if (h->fed >= d.pages) return feederEnd(*h);
    ++h->fed;
    h->backPending = d.sheets && duplexing(*h);
  }
  ++h->page;
  if (d.removeStart == h->page) {
    d.removed = true;
    return SANE_STATUS_IO_ERROR;
  }
  if (d.hangStart == h->page) {
    note(d, "hang\n");
    hang();
  }
  h->params = parameters(*h, true);
  long long announced = static_cast<long long>(h->params.bytes_per_line) * h->params.lines;
  h->total = std::max(0LL, announced + d.extra - d.shortBy);
  h->sent = 0;
  planMidway(*h);
  for (const Fault& f : d.faults) {
    if (f.page != h->page || !f.atStart) continue;
    h->backPending = false;  // the failed page used up its sheet, both sides
    return f.status;
  }
  h->emptyLeft = d.emptyReads;
  h->emptyUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(d.emptyMs);
  h->state = State::reading;
  return SANE_STATUS_GOOD;
}

SANE_Status sane_fault_read(SANE_Handle handle, SANE_Byte* data, SANE_Int max, SANE_Int* length) {
  Handle* h = handleOf(handle);
  if (length) *length = 0;
  if (!h || !data || !length || max < 0) return SANE_STATUS_INVAL;
  Device& d = *h->device;
  if (d.removed) return SANE_STATUS_IO_ERROR;
  if (h->state == State::cancelled) return cancelled(*h);
  if (h->state == State::done) return SANE_STATUS_EOF;
  if (h->state == State::empty) {
    h->state = State::idle;
    return SANE_STATUS_NO_DOCS;
  }
  if (h->state != State::reading) return SANE_STATUS_INVAL;
  sleepMs(d.delayMs);
  // A cancel while the read waited ends it, as it ends a real scanner's transfer.
  if (h->state == State::cancelled) return cancelled(*h);
  // A slow spell: reads that succeed with nothing at the start of the page.
  if (h->emptyLeft > 0) {
    --h->emptyLeft;
    return SANE_STATUS_GOOD;
  }
  if (std::chrono::steady_clock::now() < h->emptyUntil) return SANE_STATUS_GOOD;
  if (h->sent == h->faultAt) {
    if (h->midway == Midway::crash) crash(d.crashRead);
    if (h->midway == Midway::hang) {
      note(d, "hang\n");
      hang();
    }
    h->state = State::idle;
    h->faultAt = -1;
    d.removed = h->midway == Midway::remove;
    return h->faultStatus;
  }
  if (h->sent >= h->total) {
    h->state = State::done;
    return SANE_STATUS_EOF;
  }
  long long n = std::min<long long>(max, h->total - h->sent);
  if (d.chunk > 0) n = std::min(n, d.chunk);
  if (h->faultAt > h->sent) n = std::min(n, h->faultAt - h->sent);
  for (long long i = 0; i < n; ++i) data[i] = pixel(*h, h->sent + i);
  h->sent += n;
  *length = static_cast<SANE_Int>(n);
  return SANE_STATUS_GOOD;
}

void sane_fault_cancel(SANE_Handle handle) {
  Handle* h = handleOf(handle);
  if (!h) return;
  note(*h->device, "cancel\n");
  h->backPending = false;  // the sheet is ejected
  if (h->state != State::idle) h->state = State::cancelled;
}

SANE_Status sane_fault_set_io_mode(SANE_Handle, SANE_Bool nonBlocking) {
  return nonBlocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

SANE_Status sane_fault_get_select_fd(SANE_Handle, SANE_Int*) { return SANE_STATUS_UNSUPPORTED; }

// The same entry points under the names of real backends, so that a copy of this library
// named libsane-genesys.so.1 (the build makes them, see CMakeLists.txt) loads as `genesys`
// and serves the devices of fault.conf that say `backend = genesys`, named as that backend's
// devices are. Each copy is a library of its own, with its own devices.
#define FAULT_AS(b)                                                                           \
  SANE_Status sane_##b##_init(SANE_Int* version, SANE_Auth_Callback callback) {               \
    loadedAs = #b;                                                                            \
    return sane_fault_init(version, callback);                                                \
  }                                                                                           \
  void sane_##b##_exit() { sane_fault_exit(); }                                               \
  SANE_Status sane_##b##_get_devices(const SANE_Device*** out, SANE_Bool local) {             \
    return sane_fault_get_devices(out, local);                                                \
  }                                                                                           \
  SANE_Status sane_##b##_open(SANE_String_Const name, SANE_Handle* out) {                     \
    return sane_fault_open(name, out);                                                        \
  }                                                                                           \
  void sane_##b##_close(SANE_Handle h) { sane_fault_close(h); }                               \
  const SANE_Option_Descriptor* sane_##b##_get_option_descriptor(SANE_Handle h, SANE_Int n) { \
    return sane_fault_get_option_descriptor(h, n);                                            \
  }                                                                                           \
  SANE_Status sane_##b##_control_option(SANE_Handle h, SANE_Int n, SANE_Action a, void* v,    \
                                        SANE_Int* i) {                                        \
    return sane_fault_control_option(h, n, a, v, i);                                          \
  }                                                                                           \
  SANE_Status sane_##b##_get_parameters(SANE_Handle h, SANE_Parameters* p) {                  \
    return sane_fault_get_parameters(h, p);                                                   \
  }                                                                                           \
  SANE_Status sane_##b##_start(SANE_Handle h) { return sane_fault_start(h); }                 \
  SANE_Status sane_##b##_read(SANE_Handle h, SANE_Byte* d, SANE_Int m, SANE_Int* l) {         \
    return sane_fault_read(h, d, m, l);                                                       \
  }                                                                                           \
  void sane_##b##_cancel(SANE_Handle h) { sane_fault_cancel(h); }                             \
  SANE_Status sane_##b##_set_io_mode(SANE_Handle h, SANE_Bool m) {                            \
    return sane_fault_set_io_mode(h, m);                                                      \
  }                                                                                           \
  SANE_Status sane_##b##_get_select_fd(SANE_Handle h, SANE_Int* fd) {                         \
    return sane_fault_get_select_fd(h, fd);                                                   \
  }

// Keep in step with the list in CMakeLists.txt.
FAULT_AS(airscan)
FAULT_AS(avision)
FAULT_AS(brother3)
FAULT_AS(canon_dr)
FAULT_AS(epson2)
FAULT_AS(epsonds)
FAULT_AS(escl)
FAULT_AS(fujitsu)
FAULT_AS(genesys)
FAULT_AS(hp5590)
FAULT_AS(hpaio)
FAULT_AS(kodakaio)
FAULT_AS(pixma)
FAULT_AS(plustek)
FAULT_AS(test)
FAULT_AS(xerox_mfp)

}  // extern "C"
#pragma GCC visibility pop
