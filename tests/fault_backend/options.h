#pragma once

// An open device: its option descriptors and values, what setting one does to the others, and
// the frame its settings give.

#include <sane/sane.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"

namespace fault {

struct Option {
  SANE_Option_Descriptor d{};
  std::vector<SANE_String_Const> strings;
  std::vector<SANE_Word> words;
  SANE_Range range{};
  SANE_Word word = 0, initialWord = 0;  // the value, and the value at sane_open
  std::string text, initialText;        // the same for strings
};

// `empty`: sane_start found no sheet but answered GOOD; the first sane_read answers NO_DOCS.
enum class State { idle, reading, done, cancelled, empty };

// What happens at the read that reaches line lines / 2 of the current page.
enum class Midway { none, fail, remove, crash, hang };

struct Handle {
  Device* device = nullptr;
  std::deque<Option> options;  // a deque keeps descriptor addresses stable
  bool stale = false;          // RELOAD_OPTIONS answered, descriptors not fetched since
  // Atomic: sane_cancel may come from another thread while a sane_read waits (`delay`).
  std::atomic<State> state{State::idle};
  long long page = 0, fed = 0;  // pages started, sheets taken, since sane_open
  bool backPending = false;     // the back of the last sheet comes at the next sane_start
  SANE_Parameters params{};
  long long sent = 0, total = 0, faultAt = -1, emptyLeft = 0;
  std::chrono::steady_clock::time_point emptyUntil;
  Midway midway = Midway::none;
  SANE_Status faultStatus = SANE_STATUS_GOOD;
};

// Builds the options of `h.device` with their defaults.
void build(Handle& h);

// The option named `name`, or null.
Option* find(Handle& h, std::string_view name);
const Option* find(const Handle& h, std::string_view name);

// Whether the current source feeds sheets, and whether it scans both sides of each.
bool feeding(const Handle& h);
bool duplexing(const Handle& h);

// Sets option `o` to `value` (which receives the value stored, for numbers), with every effect
// on the other options, and fills `info`.
SANE_Status set(Handle& h, Option& o, void* value, SANE_Int* info);

// A value as the record shows it: strings as they are, FIXED with up to 4 decimals, BOOL 0/1.
std::string shown(const Option& o, const void* value);
// The option's own value, as the record shows it.
std::string shown(const Option& o);

// The frame the current settings give; once sane_start has run, `params-after-start` applies.
SANE_Parameters parameters(const Handle& h, bool started);

}  // namespace fault
