#pragma once

// Runs the real qev binary as a caller would and reads its event lines with a JSON parser.

#include <chrono>
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
};

struct Options {
  std::map<std::string, std::string> env;  // added to (or replacing) the test's environment
  std::string cwd;                         // working directory; empty: the test's
  std::chrono::seconds timeout{120};       // killed after this
};

// Runs `qev` with `args` (argument 0 is added) and waits for its end. A line that does not
// parse as JSON fails the current test.
Run qev(const std::vector<std::string>& args, const Options& options = {});

// A fresh, empty folder under the build folder, removed when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return dir; }
  std::string operator/(const std::string& name) const { return dir + "/" + name; }

 private:
  std::string dir;
};

}  // namespace qevtest
