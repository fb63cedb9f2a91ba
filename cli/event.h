#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/error.h"

namespace qev {

// A decimal number to a tenth, held as a count of tenths: 2159 is written 215.9, 2000 200.0.
struct Tenths {
  std::int64_t count = 0;
  bool operator==(const Tenths&) const = default;
};

// A member's value: a text, a signed 64-bit integer, a Boolean, a number to a tenth or a list
// of integers.
using Value = std::variant<std::string, std::int64_t, bool, Tenths, std::vector<std::int64_t>>;

// One event: its members in the order they are written; "event" names the kind.
using Event = std::vector<std::pair<std::string, Value>>;

// The JSON string for `text`, quotes included: '"', '\' and '/' are escaped with '\', control
// characters as \b \f \n \r \t or \u00XX; bytes that are not valid UTF-8 become U+FFFD.
std::string quote(std::string_view text);

// The event line: the compact JSON object followed by one line feed.
std::string line(const Event& event);

// Writes the event line to standard output in one write, before returning. A write that
// fails is not reported: there is no other channel to report it on.
void emit(const Event& event);

// Emits the `error` event with `code` and `message` and ends the process with status 1.
[[noreturn]] void fail(Code code, std::string_view message);
// The same for a failure with a cause: the message is `prefix` and the cause's description,
// the code the cause's own where it has one (a jam, a full disk), else `code`.
[[noreturn]] void fail(Code code, std::string_view prefix, const Error& cause);

// Where event lines go: file descriptor 1 unless a test captures them (nullptr restores).
using Output = std::function<void(std::string_view line)>;
void setOutput(Output output);

}  // namespace qev
