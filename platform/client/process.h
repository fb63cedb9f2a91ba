#pragma once

// qev's end of the driver host: the child process `qev-host` in which SANE and every backend
// run, so that nothing a backend does (crash, hang, print, reset signals) reaches qev's own
// process. One host serves one run.
//
// The host is started from the thread that runs the loop; it dies with that thread (the
// kernel kills it when qev ends, whatever way). At qev's ordinary end it is let end by itself
// first (`endHosts`), so that its own end runs, a sanitizer build's leak check among it. Its
// standard output goes nowhere; its standard error too, unless the user asked SANE for diagnostics
// with a SANE_DEBUG_* variable. Its messages are read on a thread of the HostProcess and posted to
// the run loop.
//
// Nothing the host sends is believed blindly: a packet that is no message, a message that
// comes with a descriptor, a `closed` nobody asked for, a second `ready`, or more messages
// than the loop has taken in (a flood) make it a broken host, which is killed. So does
// whatever the receiver of the messages finds out of turn (`broke`). A broken host ends like
// one that died, with the reason in the error that `gone` receives.
//
// Nor is it waited for without end: while it owes an answer (`expect`) it is given a limit,
// and at the limit it is killed and its end reported as a scanner that stopped answering.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/descriptor.h"
#include "common/error.h"
#include "common/wire.h"

namespace qev {

class RunLoop;

class HostProcess {
 public:
  using Clock = std::chrono::steady_clock;

  // Called on the loop's thread: each message in order, then once the end of the host with
  // the error that says how it ended. A host that did not start (it is missing, cannot be
  // run, or ended before its `ready`) ends with the code `driverMissing`, one that was killed
  // at a limit with `notAnswering`, any other with `driverStopped`.
  struct Handlers {
    std::function<void(wire::Received&)> message;
    std::function<void(const Error& why)> gone;
  };

  // Starts the host. When it cannot be started, `gone` follows at once.
  HostProcess(RunLoop& loop, Handlers handlers);
  // Kills the host, if it still runs, and waits for its end: no message or `gone` is posted
  // after this.
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // False when the host is gone. `fd` is passed along and stays the caller's.
  bool send(const wire::Message& message, int fd = -1);

  // Kills the host when it has not ended `grace` from now.
  void killAfter(Clock::duration grace);
  // The host answered in time: no kill is due any more.
  void spare();

  // The host owes an answer within `limit` from now (replacing any limit before): if none
  // comes (`answered`, or another `expect`), it is killed as not answering. Any thread.
  void expect(Clock::duration limit);
  // It owes none any more.
  void answered();

  // The host sent what it must not: it is killed now, and its end is described with
  // `reason` (the first one given). Any thread.
  void broke(const std::string& reason);

  // How many `closed` answers have come so far: taken before a close is asked for, so that
  // an answer that comes at once is not missed.
  int closedSoFar();
  // Waits on the calling thread, without the loop, until more than `before` `closed`
  // answers have come (or the host has ended), for at most `limit`. True when they did.
  bool waitClosed(int before, Clock::duration limit);

  // SANE's texts, which the host sends as soon as it runs (`ready`; it is not posted). Waits
  // on the calling thread, without the loop, until they have come (or the host has ended), for
  // at most `limit`. None when they did not come.
  std::optional<wire::Texts> texts(Clock::duration limit);

  // Lets the host end as it ends by itself: shuts qev's side of the socket, which the host
  // takes for the end of qev, and waits for its end, for at most `limit`. False when it
  // ended in time with a status other than 0 (its own leak check failed); true also when it
  // had ended or been killed before, or still runs at `limit`.
  bool finish(Clock::duration limit);

 private:
  void read();
  // Checks a message the host sent before it is posted: whether it may come at all, now.
  bool believable(const wire::Received& received);
  void kill();
  void wake();
  // Ends a host that could not start: `gone` follows on the loop.
  void failed(const std::string& description);

  RunLoop& loop;
  Handlers handlers;
  std::string path;  // the host's program
  Descriptor socket;
  pid_t pid = -1;
  std::mutex mutex;
  std::condition_variable changed;
  Clock::time_point killAt = Clock::time_point::max();
  Clock::time_point answerBy = Clock::time_point::max();
  bool overdue = false;  // killed at a limit
  int closedCount = 0;
  std::optional<wire::Texts> saneTexts;
  std::atomic<int> closesAsked{0};
  // Messages posted to the loop and not yet handled there.
  std::shared_ptr<std::atomic<int>> backlog = std::make_shared<std::atomic<int>>(0);
  std::string brokenReason;  // why the host was killed as broken; empty while it is not
  bool ended = false;        // also when it never started
  bool killed = false;       // qev sent it SIGKILL
  int status = 0;            // as `waitpid` gave it, once `ended`
  // A pipe that wakes the reader when `killAt` or `answerBy` changes.
  Descriptor wakeReader, wakeWriter;
  std::thread reader;
};

// Lets every host of this process end by itself (`HostProcess::finish`), at the end of qev.
// False when one of them ended with a status other than 0.
bool endHosts(HostProcess::Clock::duration limit);

// Where qev looks for `qev-host`, in order: beside the running executable (a build folder),
// then in libexec/qev/ beside the folder it lies in (an installation). Empty when the running
// executable cannot be found.
std::vector<std::string> hostPlaces();

// How a child process ended ("Segmentation fault", "exit status 3").
std::string endHow(int status);
// The same for "The scan stopped: …".
std::string endDescription(int status);
// The same for a host that was killed because it broke the rules: `reason` says how.
std::string brokenDescription(const std::string& reason);
// The description of a scanner that stopped answering.
inline constexpr const char* notAnsweringText = "The scanner stopped answering.";

}  // namespace qev
