#pragma once

// What backends do that the SANE standard leaves open, by backend: which of them may be opened
// to learn a device's units, how a feeder says that it has no more sheets, how long a scanner
// may deliver nothing before it counts as gone, and which flatbed sources really feed sheets.
// The backend is the part of a device name before its first ':' ("genesys" in
// "genesys:libusb:001:004"), as libsane's dll layer writes it.

#include <sane/sane.h>

#include <chrono>
#include <string_view>

namespace qev {

std::string_view backendOf(std::string_view device);

// Whether `list` may open the device named `name` (a SANE name, "<backend>:…") to learn its
// units: only for backends whose open is quick and leaves the scanner as it was.
bool probeSafe(std::string_view name);

// Where a status came from while sheets were fed: `sane_start`, or the first `sane_read` of
// a sheet, before any byte of it.
enum class Stage { start, firstRead };

// What a status means after at least one page of a batch: a failure; the end of the batch;
// the end of the batch while the device is still listed (else it is gone).
enum class Ending { fails, ends, endsIfListed };

// After a page at least. Before any page every status other than GOOD is a failure.
Ending feederEnding(std::string_view backend, Stage stage, SANE_Status status);

// How long reads in a row may return nothing (GOOD, 0 bytes) before the device counts as
// lost, and how long to wait before the next read after `empty` such reads.
std::chrono::milliseconds silenceLimit(std::string_view backend);
std::chrono::milliseconds emptyReadPause(int empty);

// Whether a page of unknown height (`lines == -1` once started) from the backend's flatbed
// source means a sheet-fed model, whose source is spelled as a flatbed: the scan then goes
// on sheet by sheet until the feeder is empty.
bool sheetsOnFlatbed(std::string_view backend);

}  // namespace qev
