// qev without a driver host it can run: copied alone into a folder (or installed without
// libexec/qev/qev-host), or with a host that ends as it starts. `list` said `done` with no
// scanner and status 0, and `scan` waited 10 seconds for "The scanner is not connected.";
// both now end at once with one error that names qev-host and where qev looked for it.

#include <gtest/gtest.h>

#include <filesystem>

#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(MissingHost, ListAndScanSayAtOnceThatTheDriverDidNotStart) {
  struct Case {
    const char* name;
    bool host;            // a stand-in host lies beside the copy of qev
    const char* standin;  // what it does
    std::string cause;    // after "The scanner's driver did not start: ", {bin} and {up}
                          // standing for qev's folder and the one above it
  } cases[] = {
      {"no host beside qev", false, "",
       "there is no executable qev-host at {bin}/qev-host or {up}/libexec/qev/qev-host."},
      {"a host that ends at once", true, "exit-at-once",
       "{bin}/qev-host ended at once (exit status 3)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::TempDir dir;
    fs::path bin = fs::canonical(dir.path()) / "bin";
    fs::create_directory(bin);
    fs::copy_file(QEV_BINARY, bin / "qev");
    if (c.host) fs::create_symlink(QEV_STANDIN_HOST, bin / "qev-host");
    std::string cause = c.cause;
    for (auto [mark, path] : {std::pair{std::string("{bin}"), bin}, {"{up}", bin.parent_path()}}) {
      for (auto at = cause.find(mark); at != std::string::npos; at = cause.find(mark)) {
        cause.replace(at, mark.size(), path.string());
      }
    }
    const nlohmann::json error = {{"event", "error"},
                                  {"code", "driver_missing"},
                                  {"message", "The scanner's driver did not start: " + cause}};

    qevtest::SaneConfig config;
    // A run that waited for its wait or its lookup would be killed first.
    auto options = config.options(8s);
    options.binary = bin / "qev";
    options.env["QEV_STANDIN"] = c.standin;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"list", "--wait", "30"}, {"scan", "--device", "test:0", "--out", dir / "out"}}) {
      SCOPED_TRACE(args[0]);
      auto run = qevtest::qev(args, options);
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, "");
      ASSERT_EQ(run.events.size(), 1u) << run.out;
      EXPECT_EQ(run.events[0], error);
    }
  }
}

}  // namespace
