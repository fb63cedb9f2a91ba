// A stand-in for qev's driver host, for tests only: it speaks the host's messages but
// misbehaves as a broken host would, in the way the environment variable QEV_STANDIN names.
// It offers one scanner, "stand:in", with a flatbed; without a fault it scans one small page.
// Tests copy qev into a folder of their own and put this program beside it as `qev-host`.

#include <fcntl.h>
#include <sane/sane.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/descriptor.h"
#include "common/wire.h"
#include "jpeg/jpeg.h"

namespace {

using namespace qev;
using wire::Kind;

int sock = -1;
std::string fault;
// SANE's words for what qev says without an answer, as the real host sends them.
const wire::Texts texts = {.cancelled = sane_strstatus(SANE_STATUS_CANCELLED),
                           .invalid = sane_strstatus(SANE_STATUS_INVAL)};

bool is(std::string_view name) { return fault == name; }

void send(wire::Message m, int fd = -1) {
  m.device = "stand:in";
  wire::send(sock, m, fd);
}

void sendBytes(const std::vector<unsigned char>& bytes) {
  ::send(sock, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

// A page of 8 by 8 gray pixels.
void writePage(int fd) {
  auto writer = JpegWriter::toFile(fd);
  std::vector<unsigned char> rows(64, 128);
  (void)writer->begin({.width = 8, .height = 8, .layout = PixelLayout::gray});
  (void)writer->rows(rows.data(), 8, 8);
  (void)writer->finish();
}

// Asks for a page file and waits for it; none when none came.
Descriptor needFile() {
  send({.kind = Kind::needFile});
  for (;;) {
    auto r = wire::receive(sock);
    if (!r) std::_Exit(0);
    if (r->message.kind == Kind::file) return std::move(r->fd);
    if (r->message.kind == Kind::noFile) return {};
  }
}

// Reports how far page `page` has come.
void progress(std::int64_t page, std::int64_t lines) {
  send({.kind = Kind::progress, .progress = {.page = page, .lines = lines, .total = 8}});
}

void scan(const wire::ScanJob& job) {
  if (is("progress-before-file")) progress(1, 0);
  if (is("completed-while-pending")) {
    needFile();
    return send({.kind = Kind::completed});
  }
  if (is("lost-while-pending")) {
    needFile();
    return send({.kind = Kind::lost});
  }
  if (is("needfile-twice") || is("needfile-thrice")) needFile();  // never written
  if (is("needfile-thrice")) needFile();
  Descriptor fd = needFile();
  if (!fd.valid()) return send({.kind = Kind::completed});
  // As a host does when asked, and where it is broken, also when not.
  if ((is("progress") && job.progress) || is("progress-unasked") || is("progress-ahead") ||
      is("progress-after-page")) {
    progress(1, 0);
    progress(1, 4);
    progress(1, 4);  // no growth: not shown again
    progress(1, 8);
  }
  if (is("progress-ahead")) progress(2, 0);  // a page whose file it was not given
  if (is("garbage-page")) {
    const char garbage[] = "not a picture at all";
    [[maybe_unused]] ssize_t n = ::write(fd.get(), garbage, sizeof garbage);
  } else if (!is("empty-page")) {
    writePage(fd.get());
  }
  fd.reset();
  send({.kind = Kind::scanned});
  if (is("scanned-twice")) send({.kind = Kind::scanned});
  if (is("progress-after-page")) progress(1, 8);
  send({.kind = Kind::completed});
}

// The descriptors open here beyond the standard streams and the socket: none should be.
std::string inherited() {
  std::string list;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    int fd = std::stoi(entry.path().filename());
    if (fd > 3 && ::fcntl(fd, F_GETFD) >= 0) {
      std::error_code ignored;
      auto target = std::filesystem::read_symlink(entry.path(), ignored);
      if (target.string().rfind("/proc/", 0) == 0) continue;  // the listing's own
      list += " " + std::to_string(fd);
    }
  }
  return list;
}

void opened() {
  wire::Message m{.kind = Kind::opened};
  m.info.units = {flatbedUnit};
  if (is("descriptors")) {
    if (auto list = inherited(); !list.empty()) m.error = Error{"inherited descriptors:" + list};
  }
  send(m);
  if (is("opened-twice")) send(m);
  if (is("completed-unasked")) send({.kind = Kind::completed});
  if (is("ready-twice")) send({.kind = Kind::ready, .texts = texts});
  if (is("descriptor")) send({.kind = Kind::lost}, 0);
  if (is("truncated")) {
    auto bytes = wire::encode({.kind = Kind::lost, .device = "stand:in"});
    bytes.resize(bytes.size() / 2);
    sendBytes(bytes);
  }
  if (is("foreign-path")) {
    // A page the host was never handed, named by a path of its choosing: the text rides at
    // the end of a page report.
    auto bytes = wire::encode({.kind = Kind::scanned, .device = "stand:in"});
    std::string path = std::getenv("QEV_STANDIN_PATH");
    auto size = static_cast<std::int64_t>(path.size());
    auto* p = reinterpret_cast<const unsigned char*>(&size);
    bytes.insert(bytes.end(), p, p + sizeof size);
    bytes.insert(bytes.end(), path.begin(), path.end());
    sendBytes(bytes);
    send({.kind = Kind::scanned});
  }
  if (is("flood")) {
    for (int i = 0; i < 5000; ++i) {
      wire::Message m{.kind = Kind::added};
      m.info.name = "flood:" + std::to_string(i) + std::string(3000, 'x');
      m.device = m.info.name;
      wire::send(sock, m);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string_view arg = argv[1];
  std::from_chars(arg.data(), arg.data() + arg.size(), sock);
  if (const char* f = std::getenv("QEV_STANDIN")) fault = f;
  // A host that cannot run (a broken installation) ends before it says that it runs.
  if (is("exit-at-once")) return 3;
  send({.kind = Kind::ready, .texts = texts});
  for (;;) {
    auto r = wire::receive(sock);
    if (!r) return 0;
    switch (r->message.kind) {
      case Kind::browse: {
        wire::Message m{.kind = Kind::added};
        m.info = {.name = "stand:in", .vendor = "Stand", .model = "In", .type = "flatbed scanner"};
        m.info.units = {flatbedUnit};
        send(m);
        break;
      }
      case Kind::open:
        if (is("dies-opening")) ::raise(SIGKILL);
        opened();
        break;
      case Kind::select: {
        if (is("dies-selecting")) std::abort();
        wire::Message m{.kind = Kind::selected};
        m.unitInfo.type = flatbedUnit;
        m.unitInfo.supported.add(100);
        m.unitInfo.physical = {10, 10};
        send(m);
        break;
      }
      case Kind::scan:
        scan(r->message.job);
        break;
      case Kind::cancel:
        send({.kind = Kind::completed, .error = Error{texts.cancelled, Code::cancelled}});
        break;
      case Kind::close:
        send({.kind = Kind::closed});
        break;
      default:
        break;
    }
  }
}
