#include "testing/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace qevtest {

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

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (auto& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

bool Spawned::start(std::vector<std::string> args, const std::map<std::string, std::string>& env,
                    bool quiet) {
  stop();
  std::vector<std::string> envTexts = environment(env);
  auto argv = pointers(args);
  auto envp = pointers(envTexts);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data()) == 0) {
    group = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return running();
}

void Spawned::stop() {
  if (group <= 0) return;
  kill(-group, SIGKILL);  // the program and all it started; one that has ended is reaped too
  waitpid(group, nullptr, 0);
  group = -1;
}

}  // namespace qevtest
