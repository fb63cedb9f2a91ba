#pragma once

// Captures what the front end writes and how it ends, for tests and fuzz targets: every event
// line as written and parsed as JSON, and the status given to `end`, which throws `EndCalled`
// instead of ending the process. While a Capture lives, nothing reaches standard output and
// the process does not end; one Capture at a time.
//
// Only tests include this header; it is not part of qev.

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/end.h"
#include "cli/event.h"

namespace qevtest {

// Thrown in place of ending the process: `end` was called with `status`.
struct EndCalled {
  int status;
};

class Capture {
 public:
  Capture() {
    qev::setOutput([this](std::string_view line) {
      lines.emplace_back(line);
      events.push_back(nlohmann::json::parse(line));
    });
    qev::setEnd([](int status) { throw EndCalled{status}; });
  }
  ~Capture() {
    qev::setEnd(nullptr);
    qev::setOutput(nullptr);
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // Runs `body` and returns the status it ended the process with, or none when it returned.
  static std::optional<int> endOf(const std::function<void()>& body) {
    try {
      body();
    } catch (const EndCalled& e) {
      return e.status;
    }
    return std::nullopt;
  }

  std::vector<std::string> lines;      // each line as written, with its line feed
  std::vector<nlohmann::json> events;  // each line parsed; a line that does not parse throws
};

}  // namespace qevtest
