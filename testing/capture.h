#pragma once

// Captures what a run writes and how it ends, for unit tests: every event line parsed as
// JSON, and the status given to `end`, which throws `Ended` instead of ending the process.
//
// Only tests include this header; it is not part of qev.

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <vector>

#include "cli/end.h"
#include "cli/event.h"

namespace qev {

struct Ended {
  int status;
};

class Capture {
 public:
  Capture() {
    setOutput([this](std::string_view l) { events.push_back(nlohmann::json::parse(l)); });
    setEnd([](int status) { throw Ended{status}; });
  }
  ~Capture() {
    setEnd(nullptr);
    setOutput(nullptr);
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // Runs `body` and returns the status it ended the process with, or none when it returned.
  static std::optional<int> endOf(const std::function<void()>& body) {
    try {
      body();
    } catch (const Ended& e) {
      return e.status;
    }
    return std::nullopt;
  }

  std::vector<nlohmann::json> events;
};

}  // namespace qev
