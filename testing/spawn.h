#pragma once

// Starting programs from a test: the environment they get, and servers that run beside qev
// (saned, the eSCL server) in a process group of their own.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace qevtest {

// This process's environment with `changes` added or replacing, as "NAME=value" texts.
std::vector<std::string> environment(const std::map<std::string, std::string>& changes);

// `texts` as the null-terminated array that posix_spawn takes, pointing into `texts`.
std::vector<char*> pointers(std::vector<std::string>& texts);

// A program in a process group of its own: the group is killed, and the program reaped, by
// `stop` or when the object goes away.
class Spawned {
 public:
  Spawned() = default;
  ~Spawned() { stop(); }
  Spawned(const Spawned&) = delete;
  Spawned& operator=(const Spawned&) = delete;

  // Starts `args`, the first looked up on PATH, with `env` added to this process's
  // environment; its standard error goes to /dev/null when `quiet`. False when it could not
  // be started.
  bool start(std::vector<std::string> args, const std::map<std::string, std::string>& env = {},
             bool quiet = false);
  bool running() const { return group > 0; }
  void stop();

 private:
  pid_t group = -1;
};

}  // namespace qevtest
