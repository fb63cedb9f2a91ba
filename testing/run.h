#pragma once

// Runs the real qev binary as a caller would and reads its event lines with a JSON parser.

#include <signal.h>

#include <chrono>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace qevtest {

struct Run {
  std::vector<nlohmann::json> events;  // every line of standard output, parsed
  std::vector<std::string> lines;      // the same lines as written, without the line feed
  std::string out;                     // all of standard output
  std::string err;                     // all of standard error (qev never writes there)
  int status = -1;                     // exit status, or -1 when killed by a signal
  // When each line arrived, counted from the start of the run.
  std::vector<std::chrono::steady_clock::duration> times;
  // When `Options::signalAfter` or `Options::signalWhen` sent its signal (zero: never), and
  // when standard output ended, counted the same way.
  std::chrono::steady_clock::duration signalled{}, ended{};
};

struct Options {
  std::string binary;                      // the qev to run; empty: the one built
  std::map<std::string, std::string> env;  // added to (or replacing) the test's environment
  std::string cwd;                         // working directory; empty: the test's
  std::chrono::seconds timeout{120};       // killed after this
  // A program and its arguments that start qev, which follows them with its own
  // arguments (for instance unshare, to run it in a namespace of its own). Empty: none.
  std::vector<std::string> through;
  // Called with qev's process id after each line has arrived (for instance to signal it).
  std::function<void(int pid, const Run& sofar)> onLine;
  // After this many lines the reader closes its end of standard output and reads no more,
  // like a caller that goes away. 0: reads to the end.
  std::size_t readLines = 0;
  // Sends SIGKILL this long after the start. Zero: never.
  std::chrono::milliseconds killAfter{0};
  // Sends `signal` this long after the start. Zero: never.
  std::chrono::milliseconds signalAfter{0};
  // Sends `signal` once this returns true: it is asked after each line and every few
  // milliseconds in between, until then, with the lines so far (`events` are parsed only at
  // the end). For a test that acts on what qev or a backend did (a line, a file in the
  // output folder, a line of the fault backend's record), not on time. Empty: never.
  std::function<bool(const Run& sofar)> signalWhen;
  int signal = SIGTERM;
  // Done instead of sending `signal` when `signalWhen` holds (for instance, stopping a server
  // beside qev). Empty: the signal.
  std::function<void()> instead;
};

// Runs `qev` with `args` (argument 0 is added) and waits for its end. A line that does not
// parse as JSON fails the current test.
Run qev(const std::vector<std::string>& args, const Options& options = {});

}  // namespace qevtest
