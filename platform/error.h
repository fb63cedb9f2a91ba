#pragma once

#include <string>

namespace qev {

// A platform failure, carried as the description that follows "…: " in a message.
struct Error {
  std::string description;
};

// The operating system's description of `errno` value `code`.
Error systemError(int code);

}  // namespace qev
