#include "common/error.h"

#include <cerrno>
#include <cstring>

namespace qev {

std::string_view codeName(Code code) {
  switch (code) {
    case Code::usage:
      return "usage";
    case Code::notConnected:
      return "not_connected";
    case Code::busy:
      return "busy";
    case Code::accessDenied:
      return "access_denied";
    case Code::openFailed:
      return "open_failed";
    case Code::noFlatbed:
      return "no_flatbed";
    case Code::noFeeder:
      return "no_feeder";
    case Code::settingsRefused:
      return "settings_refused";
    case Code::feederEmpty:
      return "feeder_empty";
    case Code::jammed:
      return "jammed";
    case Code::coverOpen:
      return "cover_open";
    case Code::disconnected:
      return "disconnected";
    case Code::cancelled:
      return "cancelled";
    case Code::driverStopped:
      return "driver_stopped";
    case Code::folderUnusable:
      return "folder_unusable";
    case Code::diskFull:
      return "disk_full";
    case Code::ioError:
      return "io_error";
    case Code::drawFailed:
      return "draw_failed";
    case Code::writeFailed:
      return "write_failed";
    case Code::notAnswering:
      return "not_answering";
    case Code::driverMissing:
      return "driver_missing";
  }
  return "io_error";  // not reached: every code has its case
}

Error systemError(int code) {
  char buffer[256];
  Error error;
  // The GNU strerror_r returns the text, which may or may not live in the buffer.
  error.description = strerror_r(code, buffer, sizeof buffer);
  // The one kind of failure the system's error tells whatever failed. Every other value is
  // named by what failed: a folder that cannot be used, a page that could not be written.
  if (code == ENOSPC || code == EDQUOT) error.code = Code::diskFull;
  return error;
}

}  // namespace qev
