#include "host/router.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/link.h"
#include "host/worker.h"
#include "testing/ends.h"
#include "testing/sane_setup.h"

namespace qev {
namespace {

// What a fake core's scan does.
enum class Scan {
  records,      // only notes the scan
  writesPages,  // asks for a page file and writes "page" into it
  runsOutOfMemory,
};

// A core that records what it is asked: `now` on the thread that reads qev's messages,
// `queued` on the worker.
class FakeCore : public Core {
 public:
  FakeCore(wire::DeviceInfo info, Link& link, Scan scanning)
      : info(std::move(info)), link(link), scanning(scanning) {}

  void cancelNow() override { now.push_back("cancelNow"); }
  void stopSilently() override { now.push_back("stopSilently"); }
  void open() override { queued.push_back("open"); }
  void select(UnitType type) override {
    queued.push_back(type == feederUnit ? "select feeder" : "select flatbed");
  }
  void scan(const wire::ScanJob& job) override {
    queued.push_back("scan " + std::to_string(job.dpi.value_or(0)));
    if (scanning == Scan::runsOutOfMemory) throw std::bad_alloc();
    if (scanning != Scan::writesPages) return;
    Link::File file = link.needFile(info.name);
    if (file.error) return queued.push_back("no file: " + file.error->description);
    queued.push_back(::write(file.fd.get(), "page", 4) == 4 ? "wrote" : "write failed");
  }
  void close() override { queued.push_back("close"); }
  void cancel() override { queued.push_back("cancel"); }
  void outOfMemory() override { queued.push_back("outOfMemory"); }

  const wire::DeviceInfo info;
  std::vector<std::string> now;
  std::vector<std::string> queued;

 private:
  Link& link;
  Scan scanning;
};

// A browsing that records when it is held back.
class FakeBrowsing : public Browsing {
 public:
  explicit FakeBrowsing(std::vector<std::string>& held) : held(held) {}
  void pause() override { held.push_back("pause"); }
  void resume() override { held.push_back("resume"); }

 private:
  std::vector<std::string>& held;
};

// SANE with no backend, for the worker to start and end.
class NoBackends {
 public:
  NoBackends() {
    if (const char* before = ::getenv("SANE_CONFIG_DIR")) saved = before;
    ::setenv("SANE_CONFIG_DIR", config.path().c_str(), 1);
  }
  ~NoBackends() {
    if (saved) {
      ::setenv("SANE_CONFIG_DIR", saved->c_str(), 1);
    } else {
      ::unsetenv("SANE_CONFIG_DIR");
    }
  }

 private:
  qevtest::SaneConfig config{{}, {}};
  std::optional<std::string> saved;
};

using qevtest::drain;
using qevtest::Ends;
using qevtest::makeEnds;
using qevtest::makePipe;
using qevtest::Pipe;

// The router on the host's end of a real socket pair, with a real link and worker and fake
// cores; the test plays qev on the other end.
class RouterTest : public ::testing::Test {
 protected:
  ~RouterTest() override {
    if (routing.joinable()) finish();
  }

  void send(const wire::Message& message, int fd = -1) {
    ASSERT_TRUE(wire::send(ends.qev.get(), message, fd));
  }

  wire::Message fromHost() {
    auto received = wire::receive(ends.qev.get());
    EXPECT_TRUE(received);
    if (!received) return {};
    received->fd.reset();
    return received->message;
  }

  // qev goes away, which ends the routing; then everything it queued runs.
  void finish() {
    ends.qev.reset();
    routing.join();
    std::promise<void> done;
    worker.post([&] { done.set_value(); });
    done.get_future().wait();
  }

  FakeCore& core(const std::string& name) {
    EXPECT_TRUE(cores.contains(name)) << name;
    return *cores[name];
  }

  NoBackends noBackends;
  Ends ends = makeEnds();
  Link link{ends.host.get()};
  SaneWorker worker;
  // How the core of each device scans, by name; what was made, as the router made it.
  std::map<std::string, Scan> scans;
  std::map<std::string, std::shared_ptr<FakeCore>> cores;
  int made = 0;
  // The probe and the scanner wanted of each browsing made, and the pauses and resumes of
  // the browsing (on the thread that reads qev's messages).
  std::vector<std::string> listings;
  std::vector<std::string> held;
  Router router{
      link, worker,
      Router::Makers{
          .core = [this](wire::DeviceInfo info) -> std::shared_ptr<Core> {
            ++made;
            auto scanning = scans.contains(info.name) ? scans[info.name] : Scan::records;
            auto core = std::make_shared<FakeCore>(info, link, scanning);
            cores[info.name] = core;
            return core;
          },
          .listing = [this](bool probe, const std::string& wanted) -> std::unique_ptr<Browsing> {
            listings.push_back((probe ? "probe " : "") + wanted);
            return std::make_unique<FakeBrowsing>(held);
          }}};
  std::thread routing{[this] { router.run(); }};
};

TEST_F(RouterTest, HandsEachMessageToTheCoreOfItsDevice) {
  send({.kind = wire::Kind::open, .device = "a"});
  send({.kind = wire::Kind::open, .device = "b"});
  send({.kind = wire::Kind::select, .device = "a", .unit = feederUnit});
  send({.kind = wire::Kind::scan, .device = "b", .job = {.dpi = 300}});
  send({.kind = wire::Kind::cancel, .device = "a"});
  send({.kind = wire::Kind::close, .device = "b"});
  send({.kind = wire::Kind::open, .device = "a"});
  finish();
  EXPECT_EQ(made, 2);
  EXPECT_EQ(core("a").info.name, "a");
  EXPECT_EQ(core("a").queued,
            (std::vector<std::string>{"open", "select feeder", "cancel", "open"}));
  EXPECT_EQ(core("a").now, (std::vector<std::string>{"cancelNow"}));
  EXPECT_EQ(core("b").queued, (std::vector<std::string>{"open", "scan 300", "close"}));
  EXPECT_EQ(core("b").now, (std::vector<std::string>{"stopSilently"}));
}

TEST_F(RouterTest, AnswersTheCloseOfADeviceNeverOpenedAndMakesNoCoreForIt) {
  send({.kind = wire::Kind::select, .device = "x"});
  send({.kind = wire::Kind::scan, .device = "x"});
  send({.kind = wire::Kind::cancel, .device = "x"});
  send({.kind = wire::Kind::close, .device = "x"});
  wire::Message answer = fromHost();
  EXPECT_EQ(answer.kind, wire::Kind::closed);
  EXPECT_EQ(answer.device, "x");
  finish();
  EXPECT_EQ(made, 0);
}

TEST_F(RouterTest, ClosesADescriptorThatComesWithAnythingButAFile) {
  wire::Message messages[] = {
      {.kind = wire::Kind::open, .device = "a"},
      {.kind = wire::Kind::scan, .device = "a"},
      {.kind = wire::Kind::close, .device = "never opened"},
      {.kind = wire::Kind::browse},
  };
  for (const auto& message : messages) {
    SCOPED_TRACE(static_cast<int>(message.kind));
    Pipe pipe = makePipe();
    send(message, pipe.write.get());
    pipe.write.reset();
    // The pipe ends once the router has closed the copy it got.
    EXPECT_EQ(drain(pipe.read), "");
  }
}

TEST_F(RouterTest, HandsAPageFileOrItsAbsenceToTheScanThatAsked) {
  scans["a"] = Scan::writesPages;
  send({.kind = wire::Kind::open, .device = "a"});
  send({.kind = wire::Kind::scan, .device = "a"});
  EXPECT_EQ(fromHost().kind, wire::Kind::needFile);
  Pipe pipe = makePipe();
  send({.kind = wire::Kind::file, .device = "a"}, pipe.write.get());
  pipe.write.reset();
  EXPECT_EQ(drain(pipe.read), "page");

  send({.kind = wire::Kind::scan, .device = "a"});
  EXPECT_EQ(fromHost().kind, wire::Kind::needFile);
  send({.kind = wire::Kind::noFile, .device = "a", .error = Error{"Disk full"}});
  finish();
  EXPECT_EQ(core("a").queued,
            (std::vector<std::string>{"open", "scan 0", "wrote", "scan 0", "no file: Disk full"}));
}

TEST_F(RouterTest, AScanThatRunsOutOfMemoryEndsAsSuch) {
  scans["a"] = Scan::runsOutOfMemory;
  send({.kind = wire::Kind::open, .device = "a"});
  send({.kind = wire::Kind::scan, .device = "a"});
  finish();
  EXPECT_EQ(core("a").queued, (std::vector<std::string>{"open", "scan 0", "outOfMemory"}));
}

TEST_F(RouterTest, BrowseStartsTheBrowsingOnce) {
  send({.kind = wire::Kind::browse, .device = "test:0", .probe = true});
  send({.kind = wire::Kind::browse, .probe = false});
  finish();
  EXPECT_EQ(listings, (std::vector<std::string>{"probe test:0"}));
}

TEST_F(RouterTest, TheBrowsingIsHeldBackWhileASessionIsOpen) {
  send({.kind = wire::Kind::open, .device = "a"});  // before any browsing: nothing to hold
  send({.kind = wire::Kind::close, .device = "a"});
  send({.kind = wire::Kind::browse});
  send({.kind = wire::Kind::open, .device = "a"});
  send({.kind = wire::Kind::select, .device = "a"});
  send({.kind = wire::Kind::close, .device = "a"});
  send({.kind = wire::Kind::close, .device = "never opened"});
  finish();
  EXPECT_EQ(held, (std::vector<std::string>{"pause", "resume"}));
}

}  // namespace
}  // namespace qev
