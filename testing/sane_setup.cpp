#include "testing/sane_setup.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace qevtest {

namespace fs = std::filesystem;

SaneConfig::SaneConfig(const std::map<std::string, std::string>& changes,
                       const std::vector<std::string>& backends) {
  std::ifstream in(std::string(QEV_SOURCE_DIR) + "/tests/sane/test/test.conf");
  std::ostringstream conf;
  std::string line;
  while (std::getline(in, line)) {
    std::string key = line.substr(0, line.find(' '));
    auto change = changes.find(key);
    conf << (change == changes.end() ? line : key + " " + change->second) << "\n";
  }
  write("test.conf", conf.str());
  std::string dll;
  for (const auto& b : backends) dll += b + "\n";
  write("dll.conf", dll);
}

void SaneConfig::write(const std::string& name, const std::string& text) const {
  std::ofstream(dir / name) << text;
}

bool privateNetwork() {
  if (unshare(CLONE_NEWNET) != 0) return false;
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  ifreq request{};
  std::strcpy(request.ifr_name, "lo");
  bool up = ioctl(s, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ioctl(s, SIOCSIFFLAGS, &request) == 0;
  close(s);
  return up;
}

FaultConfig::FaultConfig(const std::string& conf) {
  std::ofstream(dir / "dll.conf") << "fault\n";
  std::ofstream(dir / "fault.conf") << conf;
}

std::map<std::string, std::string> FaultConfig::env() const {
  return {{"SANE_CONFIG_DIR", dir.path()}, {"LD_LIBRARY_PATH", QEV_FAULT_BACKEND_DIR}};
}

bool listening(int port, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

Saned::Saned(const SaneConfig& config, const std::map<std::string, std::string>& env) {
  config.write("saned.conf", "127.0.0.1\n");
  auto all = config.env();
  all.insert(env.begin(), env.end());
  // Killing the group ends saned and the children it forked for connections.
  server.start({.args = {"saned", "-l", "-e", "-d", "0", "-b", "127.0.0.1"},
                .env = all,
                .err = {.path = "/dev/null"},
                .group = true});
  if (running() && !listening(6566, 5)) stop();
}

std::vector<std::string> pageFiles(const Run& run) {
  std::vector<std::string> files;
  for (const auto& e : run.events) {
    if (e.value("event", "") == "page") files.push_back(e.value("file", ""));
  }
  return files;
}

}  // namespace qevtest
