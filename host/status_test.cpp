#include "host/status.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(SaneError, GivesSanesTextAndTheCodeOfTheFailuresACallerActsOn) {
  struct {
    SANE_Status status;
    const char* description;
    std::optional<Code> code;
  } cases[] = {
      {SANE_STATUS_DEVICE_BUSY, "Device busy", Code::busy},
      {SANE_STATUS_ACCESS_DENIED, "Access to resource has been denied", Code::accessDenied},
      {SANE_STATUS_NO_DOCS, "Document feeder out of documents", Code::feederEmpty},
      {SANE_STATUS_JAMMED, "Document feeder jammed", Code::jammed},
      {SANE_STATUS_COVER_OPEN, "Scanner cover is open", Code::coverOpen},
      // Named by the step that failed.
      {SANE_STATUS_IO_ERROR, "Error during device I/O", std::nullopt},
      {SANE_STATUS_INVAL, "Invalid argument", std::nullopt},
      {SANE_STATUS_UNSUPPORTED, "Operation not supported", std::nullopt},
      {SANE_STATUS_NO_MEM, "Out of memory", std::nullopt},
      // A backend's own cancel is no stop of the user's.
      {SANE_STATUS_CANCELLED, "Operation was canceled", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.description);
    Error error = saneError(c.status);
    EXPECT_EQ(error.description, c.description);
    EXPECT_EQ(error.code, c.code);
  }
  Error stop = stopError();
  EXPECT_EQ(stop.description, "Operation was canceled");
  EXPECT_EQ(stop.code, Code::cancelled);
}

}  // namespace
}  // namespace qev
