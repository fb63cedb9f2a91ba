#pragma once

// Real SANE for tests: configuration folders holding only the backends a test names (for qev
// runs through options(), for the driver host of a unit test through env()), and `saned`
// serving the test backend on loopback inside a private network.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/run.h"
#include "testing/spawn.h"
#include "testing/temp_dir.h"

namespace qevtest {

// A copy of the repository's test backend configuration (tests/sane/test) in a fresh folder,
// with lines of test.conf changed and dll.conf naming `backends`.
class SaneConfig {
 public:
  explicit SaneConfig(const std::map<std::string, std::string>& changes = {},
                      const std::vector<std::string>& backends = {"test"});
  void write(const std::string& name, const std::string& text) const;
  const std::string& path() const { return dir.path(); }
  // The environment that points SANE at this folder alone (no trailing ':').
  std::map<std::string, std::string> env() const { return {{"SANE_CONFIG_DIR", dir.path()}}; }
  // Options for running qev with this configuration.
  Options options(std::chrono::seconds timeout = std::chrono::seconds(120)) const {
    return {.env = env(), .timeout = timeout};
  }

 private:
  TempDir dir;
};

// A configuration folder that loads our fault backend alone, with the devices of `conf`
// (tests/fault_backend/README.md).
class FaultConfig {
 public:
  explicit FaultConfig(const std::string& conf);
  const std::string& path() const { return dir.path(); }
  // The environment that points SANE at this folder and the fault backend's library.
  std::map<std::string, std::string> env() const;
  Options options(std::chrono::seconds timeout = std::chrono::seconds(30)) const {
    return {.env = env(), .timeout = timeout};
  }

 private:
  TempDir dir;
};

// Moves this test process, and so everything it starts, into a network of its own with only
// loopback up. False when that is not allowed (not root).
bool privateNetwork();

// Waits up to `seconds` until something accepts connections on 127.0.0.1:`port`.
bool listening(int port, double seconds);

// saned on 127.0.0.1 serving the backends of `config`, in a process group of its own that is
// ended with it; `env` is added to its environment (LD_LIBRARY_PATH for the fault backend).
class Saned {
 public:
  explicit Saned(const SaneConfig& config, const std::map<std::string, std::string>& env = {});
  bool running() { return server.running(); }
  void stop() { server.stop(); }

 private:
  Spawned server;
};

// The page files of a scan: their paths in the order of the `page` events.
std::vector<std::string> pageFiles(const Run& run);

}  // namespace qevtest
