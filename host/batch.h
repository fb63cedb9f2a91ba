#pragma once

// How a scan's batch of pages ended, decided from what stopped it: the SANE call and what it
// answered, the pages read so far, a stop that was asked for, a page file that could not be
// had or written, and the habits of the backend (host/habits.h). Pure, so that every way a
// batch ends is a row of a table; DeviceCore::scan runs the batch and acts on the decision.

#include <sane/sane.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/error.h"

namespace qev {

// The SANE call that stopped the batch, if one did: `sane_start`, or a read of a page
// (sane_get_parameters, sane_read, or the sane_start of a page's next frame).
enum class Halt { none, start, read };

// What the batch came to, as the scan saw it when it stopped.
struct Batch {
  std::string_view backend;
  bool feeds = false;      // the source feeds sheets, as far as is known
  std::int64_t pages = 0;  // pages complete
  Halt halt = Halt::none;
  SANE_Status status = SANE_STATUS_GOOD;  // what the call that stopped it answered
  std::size_t bytes = 0;                  // of the page being read, when a read stopped it
  bool closing = false;                   // the session is closing
  bool cancelling = false;                // the user asked to stop
  std::optional<Error> noFile;            // why qev had no page file for the next page
  std::optional<Error> unwritten;         // why a page file could not be written
};

struct BatchEnd {
  enum class Answer {
    none,               // the session is closing and wants no more answers
    cancelled,          // the user's stop: the pages delivered stay
    completed,          // completed, with `error` if there is one
    completedIfListed,  // completed while the device is still listed; else it is lost
    failed,             // `status` failed it: lost if the device has gone, else `error`
  };
  Answer answer = Answer::completed;
  std::optional<Error> error;
  SANE_Status status = SANE_STATUS_GOOD;  // for `failed`
};

BatchEnd batchEnd(const Batch& batch);

}  // namespace qev
