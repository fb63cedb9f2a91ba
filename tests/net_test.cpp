// Network scanners: saned serves SANE's test backend on 127.0.0.1 inside a network of the
// test's own, and qev reaches it through SANE's net backend, as it would a scanner shared by
// another machine.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "testing/jpeg.h"
#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"
#include "tests/faults.h"

namespace {

using namespace std::chrono_literals;
using qevtest::SaneConfig;

// The client side: only the net backend, pointed at loopback.
class Client : public SaneConfig {
 public:
  Client() : SaneConfig({}, {"net"}) { write("net.conf", "connect_timeout = 3\n127.0.0.1\n"); }
};

class Net : public testing::Test {
 protected:
  void SetUp() override {
    if (!qevtest::privateNetwork()) GTEST_SKIP() << "needs root for a network of its own";
  }
};

TEST_F(Net, ScannersSharedBySanedAreListedAndScanned) {
  SaneConfig served;
  qevtest::Saned saned(served);
  ASSERT_TRUE(saned.running());
  Client config;

  auto list = qevtest::qev({"list", "--wait", "2"}, config.options());
  EXPECT_EQ(list.status, 0);
  ASSERT_EQ(list.events.size(), 3u) << list.out;
  // A shared scanner is not opened for a listing (that would open it on the remote machine):
  // its units are guessed from the type the remote reports.
  EXPECT_EQ(list.events[0], (nlohmann::json{{"event", "device"},
                                            {"id", "net:127.0.0.1:test:0"},
                                            {"name", "Noname frontend-tester"},
                                            {"transport", "network"},
                                            {"feeder", false},
                                            {"flatbed", true}}));
  EXPECT_EQ(list.events[1]["id"], "net:127.0.0.1:test:1");

  qevtest::TempDir out;
  auto scan =
      qevtest::qev({"scan", "--device", "net:127.0.0.1:test:0", "--out", out.path(), "--dpi", "75"},
                   config.options());
  EXPECT_EQ(scan.status, 0);
  EXPECT_EQ(scan.err, "");
  auto files = qevtest::pageFiles(scan);
  ASSERT_EQ(files.size(), 10u) << scan.out;
  for (const auto& f : files) EXPECT_EQ(qevtest::jpegInfo(f)->width, 590);  // 200 mm, 75 dpi
  EXPECT_EQ(scan.events.back(), (nlohmann::json{{"event", "done"}, {"pages", 10}}));
}

TEST_F(Net, AScannerThatGoesAwayMidScanIsReportedDisconnected) {
  // saned serves the fault backend's slow feeder: a read gives 10 lines after 10 ms, so that
  // the first band of a page (1312 lines) is in its file after a second or so, and the rest
  // of the page takes twenty more. saned goes away once that band is written: in the middle
  // of the page.
  SaneConfig served({}, {"fault"});
  served.write("fault.conf",
               "[device]\nname = d\ntype = sheetfed scanner\nframe = gray\nsize = 100 20000\n"
               "chunk = 1000\ndelay = 10\n");
  qevtest::Saned saned(served, {{"LD_LIBRARY_PATH", QEV_FAULT_BACKEND_DIR}});
  ASSERT_TRUE(saned.running());
  Client config;
  qevtest::TempDir out;
  auto options = config.options(30s);
  bool inFlight = false;
  options.signalWhen = [&](const qevtest::Run&) {
    return inFlight = qevtest::pageInFlight(out.path());
  };
  options.instead = [&] { saned.stop(); };
  auto scan =
      qevtest::qev({"scan", "--device", "net:127.0.0.1:fault:d", "--out", out.path()}, options);
  EXPECT_TRUE(inFlight) << "no page was seen in flight";
  EXPECT_EQ(scan.status, 1) << scan.err;
  ASSERT_EQ(scan.events.size(), 2u) << scan.out;
  EXPECT_EQ(scan.events[0]["event"], "opened");
  EXPECT_EQ(scan.events[1], (nlohmann::json{{"event", "error"},
                                            {"code", "disconnected"},
                                            {"message", "The scanner was disconnected."}}));
  EXPECT_TRUE(qevtest::names(out / ".qev-incoming").empty());
}

// A server that accepts connections and never answers holds SANE inside discovery; the wait
// of `list` is kept all the same.
TEST_F(Net, ListEndsOnTimeWhileDiscoveryHangs) {
  int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(6566);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(server, 8), 0);
  Client config;
  auto run = qevtest::qev({"list", "--wait", "0.5"}, config.options(20s));
  close(server);
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.events.size(), 1u) << run.out;
  EXPECT_EQ(run.events[0], (nlohmann::json{{"event", "done"}}));
  EXPECT_GE(run.times[0], 500ms);
  EXPECT_LT(run.times[0], 3s);  // not held until SANE gives up
}

}  // namespace
