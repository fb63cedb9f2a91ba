#pragma once

#include <utility>

#include "platform/error.h"

namespace qev {

// An open file descriptor with one owner: closed when it goes away, handed on by moving.
class Descriptor {
 public:
  Descriptor() = default;
  // Takes over `fd`; a negative one is none.
  explicit Descriptor(int fd) : number(fd) {}
  Descriptor(Descriptor&& other) noexcept : number(std::exchange(other.number, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      reset();
      number = std::exchange(other.number, -1);
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { reset(); }

  int get() const { return number; }
  bool valid() const { return number >= 0; }
  // Closes it now, reporting what close says (a delayed write error shows up here).
  Outcome close();
  // Closes it now, whatever close says.
  void reset();

 private:
  int number = -1;
};

}  // namespace qev
