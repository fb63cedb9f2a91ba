#pragma once

#include <optional>
#include <string>
#include <utility>

namespace qev {

// A platform failure, carried as the description that follows "…: " in a message.
struct Error {
  std::string description;
};

// The operating system's description of `errno` value `code`.
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
