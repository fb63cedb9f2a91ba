#pragma once

// SANE's statuses as the errors the driver host reports to qev: SANE's own text, and the kind
// of failure where the status tells it, mapped here and nowhere else.

#include <sane/sane.h>

#include "common/error.h"
#include "common/wire.h"

namespace qev {

// The error of a failed SANE call: sane_strstatus's text ("Document feeder jammed"), with the
// code of a busy scanner, a refused access, an empty feeder, a jam or an open cover. Any other
// status has no code of its own, CANCELLED included: a backend may answer it unasked (kodakaio
// for an empty feeder), and only a stop the user asked for is a cancel (stopError).
Error saneError(SANE_Status status);

// The error of a scan or session that qev stopped at the user's request.
Error stopError();

// SANE's texts that qev reports without an answer of the host's, sent to qev as soon as the
// host runs: those of stopError and of an invalid request.
wire::Texts saneTexts();

}  // namespace qev
