#pragma once

// What a hostile backend does to the process that loaded it: text on the frontend's standard
// output and error, signal dispositions reset, a crash, a call that never returns; and a record
// of what the frontend asked for, in a file a test reads afterwards.

#include <string_view>

#include "config.h"

namespace fault {

// Writes the device's `print` text and a line feed to file descriptors 1 and 2, if it has one.
void say(const Device& d);

// Appends `line` (which ends with a line feed) to the device's record file, if it has one.
// Uses only open, write and close, so a signal handler's sane_cancel may call it.
void note(const Device& d, std::string_view line);

// Sets SIGTERM, SIGINT and SIGPIPE back to their default actions.
void resetSignals();

// Ends the process as `how` says: SIGSEGV from a write through a null pointer, abort(), or
// exit(3).
[[noreturn]] void crash(Crash how);

// Never returns and ignores every call made meanwhile (a signal's default action still ends
// the process).
[[noreturn]] void hang();

}  // namespace fault
