#include "testing/spawn.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace qevtest {

namespace {

// `texts` as the null-terminated array that posix_spawn takes, pointing into `texts`.
std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (auto& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

void route(posix_spawn_file_actions_t& actions, int target, const Stream& stream) {
  if (stream.fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stream.fd, target);
  } else if (!stream.path.empty()) {
    int flags = target == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(&actions, target, stream.path.c_str(), flags, 0644);
  }
}

}  // namespace

std::vector<std::string> environment(const std::map<std::string, std::string>& changes) {
  std::map<std::string, std::string> all;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    auto eq = entry.find('=');
    if (eq != std::string::npos) all[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [key, value] : changes) all[key] = value;
  std::vector<std::string> out;
  for (const auto& [key, value] : all) out.push_back(key + "=" + value);
  return out;
}

std::ostream& operator<<(std::ostream& out, const Exit& e) {
  return e.signal ? out << "signal " << e.signal : out << "exit " << e.code;
}

bool Spawned::start(const Launch& launch) {
  stop();
  std::vector<std::string> args = launch.args;
  std::vector<std::string> env = environment(launch.env);
  auto argv = pointers(args);
  auto envp = pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!launch.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, launch.cwd.c_str());
  route(actions, 0, launch.in);
  route(actions, 1, launch.out);
  route(actions, 2, launch.err);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (launch.group) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  pid_t started = -1;
  if (posix_spawnp(&started, argv[0], &actions, &attributes, argv.data(), envp.data()) == 0) {
    pid = started;
    group = launch.group;
    ended = false;
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid > 0;
}

bool Spawned::reap(int flags) {
  int status = 0;
  pid_t got;
  while ((got = waitpid(pid, &status, flags)) < 0 && errno == EINTR) {
  }
  if (got != pid) return false;
  ended = true;
  how = WIFSIGNALED(status) ? killedBy(WTERMSIG(status)) : exited(WEXITSTATUS(status));
  return true;
}

bool Spawned::running() { return pid > 0 && !ended && !reap(WNOHANG); }

void Spawned::signal(int number) {
  if (pid > 0 && !ended) kill(group ? -pid : pid, number);
}

Exit Spawned::wait(std::chrono::milliseconds limit) {
  if (pid <= 0) return {};
  if (!ended) {
    // The process's descriptor becomes readable when it ends.
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    pollfd p{fd, POLLIN, 0};
    if (fd >= 0 && poll(&p, 1, static_cast<int>(limit.count())) == 0) {
      ADD_FAILURE() << "process " << pid << " still runs after " << limit.count() << " ms";
      signal(SIGKILL);
    }
    if (fd >= 0) close(fd);
    reap(0);
  }
  return how;
}

void Spawned::stop() {
  if (pid <= 0) return;
  // The program and all it started in its group; one that has ended is reaped too.
  if (group) {
    kill(-pid, SIGKILL);
  } else if (!ended) {
    kill(pid, SIGKILL);
  }
  if (!ended) reap(0);
  pid = -1;
}

}  // namespace qevtest
