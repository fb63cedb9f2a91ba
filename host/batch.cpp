#include "host/batch.h"

#include "host/habits.h"
#include "host/status.h"

namespace qev {

namespace {

BatchEnd failed(SANE_Status status) {
  return {.answer = BatchEnd::Answer::failed, .error = saneError(status), .status = status};
}

// sane_start refused the next page. After a page, each backend's way of saying that the feeder
// is empty ends the batch; before any, it fails the scan as an empty feeder, also where the
// backend's status does not say so (kodakaio's CANCELLED).
BatchEnd startRefused(const Batch& batch) {
  Ending ending = feederEnding(batch.backend, Stage::start, batch.status);
  if (batch.pages == 0) {
    BatchEnd end = failed(batch.status);
    if (batch.feeds && ending == Ending::ends) end.error->code = Code::feederEmpty;
    return end;
  }
  switch (ending) {
    case Ending::ends:
      return {};
    case Ending::endsIfListed:
      return {.answer = BatchEnd::Answer::completedIfListed};
    case Ending::fails:
      break;
  }
  return failed(batch.status);
}

// A page could not be read. Some backends start the sheet after the last one and only then
// find the feeder empty: that, too, is the end of a batch, not a failure.
BatchEnd readFailed(const Batch& batch) {
  if (batch.pages > 0 && batch.bytes == 0 &&
      feederEnding(batch.backend, Stage::firstRead, batch.status) == Ending::ends) {
    return {};
  }
  return failed(batch.status);
}

}  // namespace

BatchEnd batchEnd(const Batch& batch) {
  if (batch.closing) return {.answer = BatchEnd::Answer::none};
  if (batch.cancelling) return {.answer = BatchEnd::Answer::cancelled};
  // A page file that could not be had or written stops the scan, whatever SANE said after.
  if (batch.noFile) return {.error = batch.noFile};
  if (batch.unwritten) return {.error = batch.unwritten};
  switch (batch.halt) {
    case Halt::none:
      return {};
    case Halt::start:
      return startRefused(batch);
    case Halt::read:
      return readFailed(batch);
  }
  return {};
}

}  // namespace qev
