#pragma once

// Starting programs from a test, in one place: qev itself (testing/run.h), servers beside it
// (saned, the eSCL server) and the SANE frontend that drives the fault backend. Each is a
// child of the test that is killed and reaped when its owner goes away.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace qevtest {

// This process's environment with `changes` added or replacing, as "NAME=value" texts.
std::vector<std::string> environment(const std::map<std::string, std::string>& changes);

// Where one standard stream of a program goes: inherited (neither given), a descriptor of
// this process, or the file at `path` (relative to the program's folder), opened for reading
// as standard input, else created or emptied for writing.
struct Stream {
  int fd = -1;
  std::string path;
};

// How a program is started.
struct Launch {
  std::vector<std::string> args;           // the first is looked up on PATH
  std::map<std::string, std::string> env;  // added to (or replacing) this process's environment
  std::string cwd;                         // empty: the test's
  Stream in, out, err;
  // In a process group of its own, which is killed as a whole (a server and the children it
  // forks); otherwise the program alone is.
  bool group = false;
};

// How a program ended: its exit status, or the signal that ended it.
struct Exit {
  int code = -1, signal = 0;
  bool operator==(const Exit&) const = default;
};
inline Exit exited(int code) { return {code, 0}; }
inline Exit killedBy(int signal) { return {-1, signal}; }
std::ostream& operator<<(std::ostream& out, const Exit& e);

// A program started by the test, killed (with its group, when it has one) and reaped by
// `stop` or when the object goes away.
class Spawned {
 public:
  Spawned() = default;
  explicit Spawned(const Launch& launch) { start(launch); }
  ~Spawned() { stop(); }
  Spawned(const Spawned&) = delete;
  Spawned& operator=(const Spawned&) = delete;

  // Starts `launch`, after stopping whatever ran before. False when it could not be started.
  bool start(const Launch& launch);
  // Started and not ended yet.
  bool running();
  pid_t id() const { return pid; }
  // Sends `number` to the program (to its group, when it has one).
  void signal(int number);
  // Waits for the end. A program still running after `limit` is killed, which fails the
  // current test.
  Exit wait(std::chrono::milliseconds limit = std::chrono::seconds(30));
  void stop();

 private:
  bool reap(int flags);

  pid_t pid = -1;
  bool group = false;
  bool ended = false;
  Exit how;
};

}  // namespace qevtest
