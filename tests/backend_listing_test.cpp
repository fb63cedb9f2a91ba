// Each SANE backend lists its scanners on its own. SANE's dll asks its backends one after the
// other inside one call, so a backend that did not answer hid every other backend's scanners
// from `list`, and a scan of one of them ended with "The scanner is not connected." after 10
// seconds. Here SANE's test backend sits beside a backend that never answers: a saned host
// that accepts the connection and says nothing (in a network of the test's own), and fault
// backends that hang or crash in their listing.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iostream>
#include <map>
#include <optional>

#include "testing/files.h"
#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// A server on saned's port of 127.0.0.1 that takes connections (the kernel completes them)
// and never answers, as a saned that is stuck does.
class SilentSaned {
 public:
  SilentSaned() : server(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(6566);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    up = bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
         listen(server, 8) == 0;
  }
  ~SilentSaned() { close(server); }
  SilentSaned(const SilentSaned&) = delete;
  SilentSaned& operator=(const SilentSaned&) = delete;
  bool listening() const { return up; }

 private:
  int server;
  bool up = false;
};

TEST(BackendListing, ABackendThatNeverAnswersHidesNoOtherScanner) {
  const bool network = qevtest::privateNetwork();
  struct Case {
    const char* name;
    const char* backend;                       // listed before test in SANE's order
    std::map<std::string, std::string> files;  // in the configuration folder
    bool needsNetwork;
  } cases[] = {
      {"a saned host that never answers", "net", {{"net.conf", "127.0.0.1\n"}}, true},
      {"a backend that hangs while listing",
       "fault",
       {{"fault.conf", "[device]\nname = h\nhang = devices\n"}},
       false},
      {"a backend that crashes while listing",
       "fault",
       {{"fault.conf", "[device]\nname = c\ncrash = devices segv\n"}},
       false},
  };
  std::optional<SilentSaned> saned;
  if (network) saned.emplace();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsNetwork && !(saned && saned->listening())) {
      std::cout << "skipped (needs root for a network of its own): " << c.name << "\n";
      continue;
    }
    // SANE's dll asks the backends in the reverse order of dll.conf: this one first.
    qevtest::SaneConfig config({}, {"test", c.backend});
    for (const auto& [name, text] : c.files) config.write(name, text);
    auto options = config.options(60s);
    options.env["LD_LIBRARY_PATH"] = QEV_FAULT_BACKEND_DIR;

    auto list = qevtest::qev({"list", "--wait", "2"}, options);
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.err, "");
    std::vector<std::string> ids;
    for (const auto& e : list.events) {
      if (e["event"] == "device") ids.push_back(e["id"]);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"test:0", "test:1"})) << list.out;
    ASSERT_FALSE(list.events.empty());
    EXPECT_EQ(list.events.back(), (json{{"event", "done"}}));

    qevtest::TempDir out;
    auto scan = qevtest::qev(
        {"scan", "--device", "test:0", "--out", out.path(), "--source", "flatbed", "--dpi", "50"},
        options);
    EXPECT_EQ(scan.status, 0) << scan.out;
    EXPECT_EQ(scan.err, "");
    ASSERT_EQ(scan.events.size(), 3u) << scan.out;
    EXPECT_EQ(scan.events[0]["event"], "opened");
    EXPECT_EQ(scan.events[1]["event"], "page");
    EXPECT_EQ(scan.events[2], (json{{"event", "done"}, {"pages", 1}}));
  }
}

}  // namespace
