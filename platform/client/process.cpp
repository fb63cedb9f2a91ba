#include "platform/client/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "common/spawn.h"
#include "platform/run_loop.h"

extern char** environ;

namespace qev {

namespace {

// The descriptor number under which the host finds its socket.
constexpr int hostSocket = 3;
// The most messages that may wait for the loop. A host that keeps sending without being
// asked (a flood) would otherwise fill qev's memory.
constexpr int maxBacklog = 1024;

// The hosts of this process that have started, for `endHosts`.
std::mutex hostsMutex;
std::set<HostProcess*> hosts;

std::string stopped(const std::string& how) {
  return "The scanner's driver stopped unexpectedly (" + how + ").";
}

bool wantsDiagnostics() {
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "SANE_DEBUG_", 11) == 0) return true;
  }
  return false;
}

bool executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

}  // namespace

std::vector<std::string> hostPlaces() {
  std::vector<char> buffer(PATH_MAX + 1);
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  // The link is the executable's real path: its folder's parent is the one ".." names.
  std::filesystem::path self(std::string(buffer.data(), static_cast<std::size_t>(n)));
  std::filesystem::path dir = self.parent_path();
  return {dir / "qev-host", dir.parent_path() / "libexec" / "qev" / "qev-host"};
}

std::string endHow(int status) {
  if (WIFSIGNALED(status)) {
    const char* name = ::strsignal(WTERMSIG(status));
    return name != nullptr ? name : "signal " + std::to_string(WTERMSIG(status));
  }
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  return "status " + std::to_string(status);
}

std::string endDescription(int status) { return stopped(endHow(status)); }

std::string brokenDescription(const std::string& reason) { return stopped(reason); }

void HostProcess::failed(const std::string& description) {
  ended = true;
  Error why{description, Code::driverMissing};
  loop.post([gone = handlers.gone, why] { gone(why); });
}

HostProcess::HostProcess(RunLoop& loop, Handlers handlers)
    : loop(loop), handlers(std::move(handlers)) {
  auto places = hostPlaces();
  for (const auto& place : places) {
    if (executable(place)) {
      path = place;
      break;
    }
  }
  if (path.empty()) {
    std::string where = places.empty() ? "beside qev" : places.front();
    for (std::size_t i = 1; i < places.size(); ++i) where += " or " + places[i];
    failed("there is no executable qev-host at " + where + ".");
    return;
  }
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    failed(path + ": " + systemError(errno).description);
    return;
  }
  Descriptor ours(pair[0]), theirs(pair[1]);
  std::string parent = std::to_string(::getpid());
  std::string fd = std::to_string(hostSocket);
  std::vector<char*> argv = {path.data(), fd.data(), parent.data(), nullptr};

  // Only its own descriptors: none that qev's caller left open reaches the backends. A group
  // of its own: a Ctrl-C at the terminal is qev's to handle, not the backends'.
  int spawned = spawnChild(pid, path, argv.data(),
                           {.socket = theirs.get(),
                            .at = hostSocket,
                            .silent = true,
                            .keepErrors = wantsDiagnostics(),
                            .ownGroup = true});
  theirs.reset();  // the host's now
  int wake[2];
  if (spawned != 0 || ::pipe2(wake, O_CLOEXEC) != 0) {
    std::string why = systemError(spawned != 0 ? spawned : errno).description;
    if (spawned == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    pid = -1;
    failed(path + ": " + why);
    return;
  }
  wakeReader = Descriptor(wake[0]);
  wakeWriter = Descriptor(wake[1]);
  socket = std::move(ours);
  reader = std::thread([this] { read(); });
  std::lock_guard lock(hostsMutex);
  hosts.insert(this);
}

HostProcess::~HostProcess() {
  if (!reader.joinable()) return;
  {
    std::lock_guard lock(hostsMutex);
    hosts.erase(this);
  }
  kill();
  ::shutdown(socket.get(), SHUT_RDWR);
  reader.join();
}

bool HostProcess::send(const wire::Message& message, int fd) {
  if (!socket.valid()) return false;
  if (message.kind == wire::Kind::close) ++closesAsked;
  return wire::send(socket.get(), message, fd);
}

void HostProcess::kill() {
  // Once the host is reaped its pid may be another process's.
  std::lock_guard lock(mutex);
  if (!ended && pid > 0) {
    ::kill(pid, SIGKILL);
    killed = true;
  }
}

bool HostProcess::finish(Clock::duration limit) {
  std::unique_lock lock(mutex);
  if (ended || killed) return true;
  ::shutdown(socket.get(), SHUT_WR);
  if (!changed.wait_for(lock, limit, [&] { return ended; })) return true;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool endHosts(HostProcess::Clock::duration limit) {
  std::lock_guard lock(hostsMutex);
  bool clean = true;
  for (HostProcess* host : hosts) clean = host->finish(limit) && clean;
  return clean;
}

void HostProcess::broke(const std::string& reason) {
  {
    std::lock_guard lock(mutex);
    if (brokenReason.empty()) brokenReason = reason;
  }
  kill();
}

bool HostProcess::believable(const wire::Received& received) {
  if (received.fd.valid()) {
    // qev hands descriptors to the host, never the other way (the Received closes it).
    broke("a descriptor it was not asked for");
    return false;
  }
  switch (received.message.kind) {
    case wire::Kind::ready: {
      std::lock_guard lock(mutex);
      if (saneTexts) break;
      saneTexts = received.message.texts;
      changed.notify_all();
      return true;
    }
    case wire::Kind::closed: {
      std::lock_guard lock(mutex);
      if (closedCount >= closesAsked) break;
      ++closedCount;
      changed.notify_all();
      return true;
    }
    case wire::Kind::added:
    case wire::Kind::removed:
    case wire::Kind::units:
    case wire::Kind::opened:
    case wire::Kind::selected:
    case wire::Kind::needFile:
    case wire::Kind::progress:
    case wire::Kind::scanned:
    case wire::Kind::completed:
    case wire::Kind::lost:
    case wire::Kind::reading:
      return true;
    default:  // what qev sends
      break;
  }
  broke("a message out of turn");
  return false;
}

void HostProcess::wake() {
  char b = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeWriter.get(), &b, 1);
}

void HostProcess::killAfter(Clock::duration grace) {
  {
    std::lock_guard lock(mutex);
    auto at = Clock::now() + grace;
    if (at >= killAt) return;
    killAt = at;
  }
  wake();
}

void HostProcess::spare() {
  {
    std::lock_guard lock(mutex);
    killAt = Clock::time_point::max();
  }
  wake();
}

void HostProcess::expect(Clock::duration limit) {
  {
    std::lock_guard lock(mutex);
    answerBy = Clock::now() + limit;
  }
  wake();
}

void HostProcess::answered() {
  {
    std::lock_guard lock(mutex);
    answerBy = Clock::time_point::max();
  }
  wake();
}

int HostProcess::closedSoFar() {
  std::lock_guard lock(mutex);
  return closedCount;
}

bool HostProcess::waitClosed(int before, Clock::duration limit) {
  std::unique_lock lock(mutex);
  return changed.wait_for(lock, limit, [&] { return closedCount != before || ended; });
}

std::optional<wire::Texts> HostProcess::texts(Clock::duration limit) {
  std::unique_lock lock(mutex);
  changed.wait_for(lock, limit, [&] { return saneTexts.has_value() || ended; });
  return saneTexts;
}

void HostProcess::read() {
  for (;;) {
    int timeout = -1;
    {
      std::lock_guard lock(mutex);
      auto due = std::min(killAt, answerBy);
      if (due != Clock::time_point::max()) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
        timeout = static_cast<int>(std::max<long long>(0, std::min<long long>(left, INT_MAX)));
      }
    }
    pollfd p[2] = {{socket.get(), POLLIN, 0}, {wakeReader.get(), POLLIN, 0}};
    int ready = ::poll(p, 2, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      {
        // A grace or a limit has run out (a limit may have moved meanwhile); the end of the
        // stream follows the kill.
        std::lock_guard lock(mutex);
        auto now = Clock::now();
        if (killAt > now && answerBy > now) continue;
        overdue = overdue || (answerBy <= now && killAt > now);
        killAt = answerBy = Clock::time_point::max();
      }
      kill();
      continue;
    }
    if (p[1].revents != 0) {
      char b[16];
      [[maybe_unused]] ssize_t n = ::read(wakeReader.get(), b, sizeof b);
    }
    if (p[0].revents == 0) continue;
    wire::Silence silence{};
    auto received = wire::receive(socket.get(), &silence);
    if (!received) {
      if (silence == wire::Silence::malformed) broke("a malformed message");
      break;
    }
    if (!believable(*received)) break;
    if (received->message.kind == wire::Kind::ready) continue;  // kept for `texts`
    if (backlog->fetch_add(1) >= maxBacklog) {
      broke("too many messages");
      break;
    }
    auto shared = std::make_shared<wire::Received>(std::move(*received));
    loop.post([handle = handlers.message, shared, backlog = backlog] {
      --*backlog;
      handle(*shared);
    });
  }
  // The stream ended or broke: the host is dead or of no more use. It is waited for without
  // being reaped, so that its pid stays its own until `ended` is set.
  kill();
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
  Error why;
  {
    std::lock_guard lock(mutex);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ended = true;
    if (!saneTexts) {
      // It never said that it runs: a broken installation, not a backend.
      why = {
          path + " ended at once (" + (brokenReason.empty() ? endHow(status) : brokenReason) + ").",
          Code::driverMissing};
    } else if (!brokenReason.empty()) {
      why = {brokenDescription(brokenReason), Code::driverStopped};
    } else if (overdue) {
      why = {notAnsweringText, Code::notAnswering};
    } else {
      why = {endDescription(status), Code::driverStopped};
    }
    changed.notify_all();
  }
  loop.post([gone = handlers.gone, why] { gone(why); });
}

}  // namespace qev
