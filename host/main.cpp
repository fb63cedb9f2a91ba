// qev-host: the driver host. qev starts it with the number of its end of a socket pair and
// qev's process id, and talks to it in the messages of common/wire.h. SANE and
// every backend run here, so that a backend that crashes, hangs, prints or plays with signals
// harms only this process, which qev watches and kills when it must.
//
// Threads: this one reads qev's messages and routes them (host/router.h) to the worker, which
// makes every SANE call in order; a cancel also reaches into a scan that is blocked inside the
// backend. The page encoder writes page files on threads of its own.

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <charconv>
#include <string_view>

#include "common/descriptor.h"
#include "host/link.h"
#include "host/lister.h"
#include "host/router.h"
#include "host/status.h"
#include "host/worker.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>

// In the sanitizer build, a backend's crash must still end the host by its signal, which is
// what qev reports: the sanitizer would turn it into a report and an exit status.
extern "C" const char* __asan_default_options() { return "handle_segv=0:handle_sigbus=0"; }

// SANE unloads its backends when it is restarted (a listing restarts it to find the net
// backend's devices anew), and the leaks of an unloaded backend could neither be told apart
// nor suppressed. The sanitizer build keeps every library loaded until the host ends, so
// that its leak check names the library that leaked.
extern "C" int dlclose(void*) { return 0; }
#endif

namespace {

// Ends the host once qev has gone: at once, without waiting for a worker that may be inside
// a backend. `_exit` skips the leak check of a normal exit, so a sanitizer build makes it
// here, and a leak ends the host with LeakSanitizer's status, which qev reports.
[[noreturn]] void quit() {
#if defined(__SANITIZE_ADDRESS__)
  __lsan_do_leak_check();
#endif
  ::_exit(0);
}

int number(std::string_view text) {
  int value = -1;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  // The host also runs as its own lister (host/lister.h).
  if (argc > 1 && argv[1] == qev::listerMode) return qev::listerMain(argc, argv);
  if (argc != 3) return 2;
  const qev::Descriptor socket(number(argv[1]));
  const int parent = number(argv[2]);
  // The host never outlives qev, however qev ends.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (!socket.valid() || ::getppid() != parent) return 2;
  ::signal(SIGPIPE, SIG_IGN);

  qev::Link link(socket.get());
  // First of all, what qev must be able to say should this host not answer.
  link.send({.kind = qev::wire::Kind::ready, .texts = qev::saneTexts()});
  qev::SaneWorker worker;
  qev::Router(link, worker).run();
  // qev has gone, or sent what no qev sends: either way nobody is listening any more.
  quit();
}
