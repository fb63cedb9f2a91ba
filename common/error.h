#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace qev {

// The kinds of failure a program that runs qev tells apart, to decide what to do next (ask
// for paper, for the jam to be cleared, for disk space, or try again): the `code` of the
// `error` event, written by `codeName`. The list is fixed and documented to callers (README,
// manual page, event schema); a new kind is a new entry at the end, never a changed name.
enum class Code : std::uint8_t {
  usage,            // the command line is wrong
  notConnected,     // no scanner of that identifier appeared
  busy,             // another program holds the scanner
  accessDenied,     // the scanner refused the user access
  openFailed,       // the scanner did not open, for another reason
  noFlatbed,        // the scanner has no flatbed
  noFeeder,         // the scanner has no document feeder
  settingsRefused,  // the scanner refused the source or a setting
  feederEmpty,      // no sheet in the feeder
  jammed,           // a sheet stuck in the feeder
  coverOpen,        // the scanner's cover or feeder door is open
  disconnected,     // the scanner went away during the run
  cancelled,        // a stop the user asked for (SIGINT, SIGTERM)
  driverStopped,    // the driver host crashed, exited or broke its rules
  folderUnusable,   // the output folder cannot take pages
  diskFull,         // no space (or quota) left for a page
  ioError,          // the scan stopped on any other failure of the scanner or the disk
  drawFailed,       // simulate could not draw a test page
  writeFailed,      // simulate could not write a test page
  notAnswering,     // a scanner's call did not return within its limit
  driverMissing,    // the driver host is missing, cannot run, or ends as it starts
};
inline constexpr Code lastCode = Code::driverMissing;

// The code as the event writes it: a short lowercase token, such as "feeder_empty".
std::string_view codeName(Code code);

// A platform failure, carried as the description that follows "…: " in a message, and the
// kind of failure where its cause alone tells it (a jam, a full disk, a busy scanner). Where
// it does not, the code is left out and whoever reports the failure names it after what
// failed (opening, the settings, the scan).
struct Error {
  std::string description;
  std::optional<Code> code;
};

// The operating system's description of `errno` value `code`, with the kind of failure of the
// values that tell one: ENOSPC and EDQUOT are a full disk.
[[nodiscard]] Error systemError(int code);

// What an operation that may fail came to: success, or the Error that stopped it. It has no
// truth value of its own, so a test reads as what it asks: `if (!made.ok())`.
class [[nodiscard]] Outcome {
 public:
  // Success.
  Outcome() = default;
  // Failure, with the error that caused it (implicit: `return systemError(errno);` makes one).
  Outcome(Error error) : failure(std::move(error)) {}

  bool ok() const { return !failure; }
  // The failure; only when not `ok()`.
  const Error& error() const { return *failure; }

 private:
  std::optional<Error> failure;
};

}  // namespace qev
