#include "platform/sane/status.h"

namespace qev {

Error saneError(SANE_Status status) {
  Error error{sane_strstatus(status)};
  switch (status) {
    case SANE_STATUS_DEVICE_BUSY:
      error.code = Code::busy;
      break;
    case SANE_STATUS_ACCESS_DENIED:
      error.code = Code::accessDenied;
      break;
    case SANE_STATUS_NO_DOCS:
      error.code = Code::feederEmpty;
      break;
    case SANE_STATUS_JAMMED:
      error.code = Code::jammed;
      break;
    case SANE_STATUS_COVER_OPEN:
      error.code = Code::coverOpen;
      break;
    default:
      break;
  }
  return error;
}

Error stopError() {
  Error error{sane_strstatus(SANE_STATUS_CANCELLED)};
  error.code = Code::cancelled;
  return error;
}

}  // namespace qev
