#include "common/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>

#include <initializer_list>

extern char** environ;

namespace qev {

int spawnChild(pid_t& pid, const std::string& program, char* const argv[],
               const ChildSetup& setup) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (setup.silent) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (!setup.keepErrors) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, setup.socket, setup.at);
  posix_spawn_file_actions_addclosefrom_np(&actions, setup.at + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGPIPE, SIGCHLD}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (setup.ownGroup) {
    posix_spawnattr_setpgroup(&attributes, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  posix_spawnattr_setflags(&attributes, flags);
  int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return spawned;
}

}  // namespace qev
