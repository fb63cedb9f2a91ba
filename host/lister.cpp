#include "host/lister.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <map>
#include <span>

#include "common/spawn.h"
#include "common/wire.h"
#include "host/dll_config.h"
#include "host/listing.h"

namespace qev {

namespace {

using Clock = std::chrono::steady_clock;

// The descriptor under which the lister finds its socket.
constexpr int listerSocket = 3;

// The host's request: start a listing (its socket rides along), or stop them all.
struct Request {
  enum Op : std::uint8_t { list, stopAll };
  Op op = list;
  bool probe = false;
  std::uint32_t id = 0;
  std::uint32_t limitMs = 0;
  char backend[256] = {};  // ends with a zero byte
};

// The lister's report: a listing has ended.
struct Report {
  std::uint32_t id = 0;
  int status = 0;
};

// Sends `packet` whole, with `fd` passed along when it is not -1.
template <typename Packet>
bool sendPacket(int socket, const Packet& packet, int fd = -1) {
  return wire::sendBytes(socket, {reinterpret_cast<const unsigned char*>(&packet), sizeof packet},
                         fd);
}

// Receives one packet of exactly the size of `packet`, with at most one descriptor (into
// `fd`, owned by the caller). False at the end of the stream, or on a packet of another size or
// with more descriptors.
template <typename Packet>
bool receivePacket(int socket, Packet& packet, Descriptor* fd = nullptr) {
  auto got = wire::receiveBytes(socket, {reinterpret_cast<unsigned char*>(&packet), sizeof packet});
  if (got.size != static_cast<ssize_t>(sizeof packet) || got.truncated || got.fds.size() > 1) {
    return false;
  }
  if (fd != nullptr && !got.fds.empty()) *fd = std::move(got.fds.front());
  return true;
}

// This program's own file, which runs again as the lister.
std::string self() {
  char buffer[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

int number(std::string_view text) {
  int value = -1;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// One listing, in the child the lister forked for it. Never returns.
[[noreturn]] void child(const Request& request, const OneBackend& config, Descriptor socket,
                        pid_t lister, const sigset_t& mask) {
  ::sigprocmask(SIG_SETMASK, &mask, nullptr);
  // The listing never outlives the lister.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != lister) ::_exit(2);
  int status = listBackend(socket.get(), config, request.probe);
  // Ended at once: neither SANE's exit nor any destructor may hold the end up (some backends
  // take long to close), and the lister reads the status.
  ::_exit(status);
}

struct Running {
  std::uint32_t id;
  Clock::time_point deadline;
  std::unique_ptr<OneBackend> config;  // removed, if the listing has not, once it has ended
  bool killed = false;
};

}  // namespace

std::unique_ptr<Lister> Lister::start() {
  static const std::string program = self();
  int pair[2];
  if (program.empty() || ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    return nullptr;
  }
  Descriptor mine(pair[0]), theirs(pair[1]);
  std::string fd = std::to_string(listerSocket);
  std::string parent = std::to_string(::getpid());
  std::string mode(listerMode), path = program;
  char* argv[] = {path.data(), mode.data(), fd.data(), parent.data(), nullptr};

  // The standard streams are the host's own: nowhere, unless SANE's diagnostics were asked
  // for. Nothing else of the host's reaches the backends.
  pid_t pid = -1;
  int spawned = spawnChild(pid, program, argv, {.socket = theirs.get(), .at = listerSocket});
  if (spawned != 0) return nullptr;
  return std::unique_ptr<Lister>(new Lister(pid, std::move(mine)));
}

Lister::~Lister() {
  // It stops its listings and removes their folders first.
  ::kill(pid, SIGTERM);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

Descriptor Lister::list(std::uint32_t id, const std::string& backend, bool probe,
                        std::chrono::milliseconds limit) {
  Request request{.op = Request::list,
                  .probe = probe,
                  .id = id,
                  .limitMs = static_cast<std::uint32_t>(limit.count())};
  if (backend.empty() || backend.size() >= sizeof request.backend) return {};
  std::memcpy(request.backend, backend.data(), backend.size());
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return {};
  Descriptor mine(pair[0]), theirs(pair[1]);
  if (!sendPacket(channel.get(), request, theirs.get())) return {};
  return mine;
}

void Lister::stopAll() { sendPacket(channel.get(), Request{.op = Request::stopAll}); }

std::optional<Lister::Ended> Lister::ended() {
  Report report;
  if (!receivePacket(channel.get(), report)) return std::nullopt;
  return Ended{.id = report.id, .status = report.status};
}

int listerMain(int argc, char** argv) {
  if (argc != 4) return 2;
  const int socket = number(argv[2]);
  const int parent = number(argv[3]);
  // Ends of listings, and the end of the host, come as readable data: the lister runs no
  // backend and stops only when it has stopped its listings and removed their folders.
  sigset_t signals, before;
  sigemptyset(&signals);
  sigaddset(&signals, SIGCHLD);
  sigaddset(&signals, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &signals, &before);
  Descriptor ends(::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
  // The lister never outlives the host that started it.
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (socket != listerSocket || ::getppid() != parent || !ends.valid()) return 2;
  ::signal(SIGPIPE, SIG_IGN);
  const pid_t lister = ::getpid();

  std::map<pid_t, Running> running;
  auto killAll = [&] {
    for (auto& [pid, r] : running) {
      ::kill(pid, SIGKILL);
      r.killed = true;
    }
  };
  for (;;) {
    auto now = Clock::now();
    auto next = Clock::time_point::max();
    for (auto& [pid, r] : running) {
      if (r.killed) continue;
      if (r.deadline <= now) {
        // It hangs: stopped, and reported as ended by a signal.
        ::kill(pid, SIGKILL);
        r.killed = true;
      } else {
        next = std::min(next, r.deadline);
      }
    }
    int timeout = -1;
    if (next != Clock::time_point::max()) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
      timeout = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
    }
    pollfd p[2] = {{socket, POLLIN, 0}, {ends.get(), POLLIN, 0}};
    if (::poll(p, 2, timeout) < 0 && errno != EINTR) break;
    bool ending = false;
    if (p[1].revents != 0) {
      signalfd_siginfo info;
      while (::read(ends.get(), &info, sizeof info) == sizeof info) {
        ending = ending || info.ssi_signo == SIGTERM;
      }
    }
    if (ending) break;
    // Every listing that ended is reaped and reported.
    int status = 0;
    for (pid_t pid; (pid = ::waitpid(-1, &status, WNOHANG)) > 0;) {
      auto it = running.find(pid);
      if (it == running.end()) continue;
      sendPacket(socket, Report{.id = it->second.id, .status = status});
      running.erase(it);
    }
    if (p[0].revents == 0) continue;
    Request request;
    Descriptor fd;
    // The host has gone (or sent what it never sends): so do the listings.
    if (!receivePacket(socket, request, &fd)) break;
    if (request.op == Request::stopAll) {
      killAll();
      continue;
    }
    request.backend[sizeof request.backend - 1] = '\0';
    if (!fd.valid()) continue;
    auto config = std::make_unique<OneBackend>(request.backend);
    // Without a folder of its own, the listing would ask every backend: it fails instead.
    pid_t pid = config->folder().empty() ? -1 : ::fork();
    if (pid == 0) {
      ends.reset();
      ::close(socket);
      child(request, *config, std::move(fd), lister, before);
    }
    if (pid < 0) {
      sendPacket(socket, Report{.id = request.id, .status = W_EXITCODE(1, 0)});
      continue;
    }
    running[pid] = {.id = request.id,
                    .deadline = Clock::now() + std::chrono::milliseconds(request.limitMs),
                    .config = std::move(config)};
  }
  killAll();
  for (const auto& [pid, r] : running) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  running.clear();  // and with them their folders
  ::_exit(0);
}

}  // namespace qev
