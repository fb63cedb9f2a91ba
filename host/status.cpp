#include "host/status.h"

#include <utility>

namespace qev {

namespace {

// The statuses whose cause alone tells the kind of failure; any other takes the code of the
// step that failed, where it is reported.
constexpr std::pair<SANE_Status, Code> kinds[] = {
    {SANE_STATUS_DEVICE_BUSY, Code::busy},     {SANE_STATUS_ACCESS_DENIED, Code::accessDenied},
    {SANE_STATUS_NO_DOCS, Code::feederEmpty},  {SANE_STATUS_JAMMED, Code::jammed},
    {SANE_STATUS_COVER_OPEN, Code::coverOpen},
};

}  // namespace

Error saneError(SANE_Status status) {
  Error error{sane_strstatus(status)};
  for (const auto& [known, code] : kinds) {
    if (known == status) error.code = code;
  }
  return error;
}

Error stopError() {
  Error error{sane_strstatus(SANE_STATUS_CANCELLED)};
  error.code = Code::cancelled;
  return error;
}

wire::Texts saneTexts() {
  return {.cancelled = stopError().description,
          .invalid = saneError(SANE_STATUS_INVAL).description};
}

}  // namespace qev
