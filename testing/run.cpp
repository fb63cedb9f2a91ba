#include "testing/run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "testing/spawn.h"

namespace qevtest {

namespace {

// How often `Options::signalWhen` is asked while nothing arrives.
constexpr auto signalPoll = std::chrono::milliseconds(5);

// Appends the lines of one run to events/<test>-<pid>.jsonl under the build folder, where
// the events.schema test checks every line that the end-to-end tests saw.
void record(const std::vector<std::string>& lines) {
  std::string name = "run";
  if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info()) {
    name = (std::string(test->test_suite_name()) + "." + test->name()).substr(0, 160);
  }
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  std::string folder = std::string(QEV_BUILD_DIR) + "/events";
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  std::ofstream log(folder + "/" + name + "-" + std::to_string(getpid()) + ".jsonl",
                    std::ios::app | std::ios::binary);
  for (const auto& line : lines) log << line << '\n';
  if (!log) ADD_FAILURE() << "could not record the event lines in " << folder;
}

}  // namespace

Run qev(const std::vector<std::string>& args, const Options& options) {
  std::vector<std::string> argv = options.through;
  argv.push_back(options.binary.empty() ? QEV_BINARY : options.binary);
  argv.insert(argv.end(), args.begin(), args.end());
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe";
    return {};
  }
  auto start = std::chrono::steady_clock::now();
  Spawned child({.args = argv,
                 .env = options.env,
                 .cwd = options.cwd,
                 .out = {.fd = out[1]},
                 .err = {.fd = err[1]}});
  close(out[1]);
  close(err[1]);
  Run run;
  if (child.id() <= 0) {
    ADD_FAILURE() << "could not start " << argv[0];
    close(out[0]);
    close(err[0]);
    return run;
  }
  const pid_t pid = child.id();

  std::string pending;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  auto deadline = start + options.timeout;
  bool killed = options.killAfter.count() == 0;
  bool signalled = options.signalAfter.count() == 0 && !options.signalWhen;
  while (open > 0) {
    auto now = std::chrono::steady_clock::now();
    if (!killed && now >= start + options.killAfter) {
      kill(pid, SIGKILL);
      killed = true;
    }
    if (!signalled &&
        (options.signalWhen ? options.signalWhen(run) : now >= start + options.signalAfter)) {
      if (options.signalWhen && options.instead) {
        options.instead();
      } else {
        kill(pid, options.signal);
      }
      run.signalled = std::chrono::steady_clock::now() - start;
      signalled = true;
    }
    auto until = killed ? deadline : std::min(deadline, start + options.killAfter);
    if (!signalled) {
      until = std::min(until, options.signalWhen ? now + signalPoll : start + options.signalAfter);
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
    if (now >= deadline) {
      ADD_FAILURE() << "qev ran past its timeout; killed";
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0) continue;
    for (auto& p : fds) {
      if (p.fd < 0 || (p.revents & (POLLIN | POLLHUP)) == 0) continue;
      char buffer[65536];
      ssize_t n = read(p.fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(p.fd);
        p.fd = -1;
        --open;
        continue;
      }
      if (p.fd == out[0]) {
        run.out.append(buffer, static_cast<std::size_t>(n));
        pending.append(buffer, static_cast<std::size_t>(n));
        for (auto nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
          run.lines.push_back(pending.substr(0, nl));
          run.times.push_back(std::chrono::steady_clock::now() - start);
          pending.erase(0, nl + 1);
          if (options.onLine) options.onLine(pid, run);
        }
        if (options.readLines > 0 && run.lines.size() >= options.readLines) {
          close(p.fd);
          p.fd = -1;
          --open;
          pending.clear();
        }
      } else {
        run.err.append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  run.ended = std::chrono::steady_clock::now() - start;
  for (auto& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  // Standard output ends with the process, but for a reader that left early; either way the
  // end is near (one killed at the timeout is still being reaped).
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  Exit exit = child.wait(std::max(left, std::chrono::milliseconds(10000)));
  run.status = exit.signal != 0 ? -1 : exit.code;
  EXPECT_EQ(pending, "") << "output does not end in a line feed";
  record(run.lines);
  for (const auto& line : run.lines) {
    try {
      run.events.push_back(nlohmann::json::parse(line));
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not a JSON line: " << line << " (" << e.what() << ")";
    }
  }
  return run;
}

}  // namespace qevtest
