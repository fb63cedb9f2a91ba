#include "common/wire.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace qev::wire {

namespace {

// The largest packet either end sends or takes; messages are a few hundred bytes.
constexpr std::size_t maxPacket = 64 * 1024;
// Lists longer than this are not a message.
constexpr std::uint64_t maxItems = 4096;
// Nor are texts longer than this: device names, vendors, models and error texts are short,
// and a host must not be able to make qev hold much for each device it reports.
constexpr std::uint64_t maxText = 4096;
// An error's code when its cause tells none.
constexpr std::int64_t noCode = -1;

class Writer {
 public:
  void raw(const void* data, std::size_t size) {
    auto* p = static_cast<const unsigned char*>(data);
    bytes.insert(bytes.end(), p, p + size);
  }
  void number(std::int64_t v) { raw(&v, sizeof v); }
  void real(double v) { raw(&v, sizeof v); }
  void flag(bool v) { number(v ? 1 : 0); }
  void text(std::string_view v) {
    number(static_cast<std::int64_t>(v.size()));
    raw(v.data(), v.size());
  }
  void error(const std::optional<Error>& e) {
    flag(e.has_value());
    if (!e) return;
    text(e->description);
    number(e->code ? static_cast<std::int64_t>(*e->code) : noCode);
  }
  void units(const std::vector<UnitType>& list) {
    number(static_cast<std::int64_t>(list.size()));
    for (UnitType u : list) number(static_cast<std::int64_t>(u));
  }
  void resolutions(const Resolutions& set) {
    number(static_cast<std::int64_t>(set.parts().size()));
    for (const auto& r : set.parts()) {
      number(r.min);
      number(r.max);
      number(r.step);
    }
  }

  std::vector<unsigned char> bytes;
};

class Reader {
 public:
  explicit Reader(std::span<const unsigned char> bytes) : bytes(bytes) {}

  bool raw(void* out, std::size_t size) {
    if (!ok || bytes.size() - at < size) return ok = false;
    std::memcpy(out, bytes.data() + at, size);
    at += size;
    return true;
  }
  std::int64_t number() {
    std::int64_t v = 0;
    raw(&v, sizeof v);
    return v;
  }
  double real() {
    double v = 0;
    raw(&v, sizeof v);
    return v;
  }
  bool flag() { return number() != 0; }
  std::string text() {
    auto size = static_cast<std::uint64_t>(number());
    if (!ok || size > maxText || size > bytes.size() - at) {
      ok = false;
      return {};
    }
    std::string v(reinterpret_cast<const char*>(bytes.data() + at), size);
    at += size;
    return v;
  }
  std::optional<Error> error() {
    if (!flag()) return std::nullopt;
    Error e{text()};
    auto code = number();
    if (code != noCode) {
      if (code < 0 || code > static_cast<std::int64_t>(lastCode)) ok = false;
      e.code = static_cast<Code>(code);
    }
    return e;
  }
  // A unit type, of which there are two.
  UnitType unit() {
    auto v = number();
    if (v != static_cast<std::int64_t>(flatbedUnit) && v != static_cast<std::int64_t>(feederUnit))
      ok = false;
    return static_cast<UnitType>(v);
  }
  PixelType pixels() {
    auto v = number();
    if (v < static_cast<std::int64_t>(PixelType::blackAndWhite) ||
        v > static_cast<std::int64_t>(PixelType::rgb))
      ok = false;
    return static_cast<PixelType>(v);
  }
  std::vector<UnitType> units() {
    auto n = static_cast<std::uint64_t>(number());
    std::vector<UnitType> list;
    if (n > maxItems) ok = false;
    for (std::uint64_t i = 0; ok && i < n; ++i) list.push_back(unit());
    return list;
  }
  Resolutions resolutions() {
    auto n = static_cast<std::uint64_t>(number());
    Resolutions set;
    if (n > maxItems) ok = false;
    for (std::uint64_t i = 0; ok && i < n; ++i) {
      std::int64_t min = number(), max = number(), step = number();
      set.add(min, max, step);
    }
    return set;
  }
  bool complete() const { return ok && at == bytes.size(); }

 private:
  std::span<const unsigned char> bytes;
  std::size_t at = 0;
  bool ok = true;
};

}  // namespace

std::vector<unsigned char> encode(const Message& m) {
  Writer w;
  w.number(static_cast<std::int64_t>(m.kind));
  w.text(m.device);
  w.flag(m.probe);
  w.number(static_cast<std::int64_t>(m.unit));

  w.number(static_cast<std::int64_t>(m.job.unit));
  w.flag(m.job.dpi.has_value());
  w.number(m.job.dpi.value_or(0));
  w.number(static_cast<std::int64_t>(m.job.pixelType));
  w.number(m.job.depth);
  w.flag(m.job.duplex);
  w.flag(m.job.area.has_value());
  Area area = m.job.area.value_or(Area{});
  for (double v : {area.x, area.y, area.width, area.height}) w.real(v);
  w.flag(m.job.progress);

  w.text(m.info.name);
  w.text(m.info.vendor);
  w.text(m.info.model);
  w.text(m.info.type);
  w.flag(m.info.uuid.has_value());
  w.text(m.info.uuid.value_or(""));
  w.text(m.info.transport);
  w.flag(m.info.displayName.has_value());
  w.text(m.info.displayName.value_or(""));
  w.units(m.info.units);

  w.number(static_cast<std::int64_t>(m.unitInfo.type));
  w.resolutions(m.unitInfo.supported);
  w.resolutions(m.unitInfo.preferred);
  w.flag(m.unitInfo.duplex);
  w.real(m.unitInfo.physical.width);
  w.real(m.unitInfo.physical.height);

  w.number(m.progress.page);
  w.number(m.progress.lines);
  w.number(m.progress.total);
  w.text(m.texts.cancelled);
  w.text(m.texts.invalid);

  w.error(m.error);
  return std::move(w.bytes);
}

std::optional<Message> decode(std::span<const unsigned char> bytes) {
  Reader r(bytes);
  Message m;
  auto kind = r.number();
  if (kind < 0 || kind > static_cast<std::int64_t>(lastKind)) return std::nullopt;
  m.kind = static_cast<Kind>(kind);
  m.device = r.text();
  m.probe = r.flag();
  m.unit = r.unit();

  m.job.unit = r.unit();
  bool hasDpi = r.flag();
  std::int64_t dpi = r.number();
  if (hasDpi) m.job.dpi = dpi;
  m.job.pixelType = r.pixels();
  m.job.depth = static_cast<int>(r.number());
  m.job.duplex = r.flag();
  bool hasArea = r.flag();
  Area area;
  area.x = r.real();
  area.y = r.real();
  area.width = r.real();
  area.height = r.real();
  if (hasArea) m.job.area = area;
  m.job.progress = r.flag();

  m.info.name = r.text();
  m.info.vendor = r.text();
  m.info.model = r.text();
  m.info.type = r.text();
  bool hasUuid = r.flag();
  std::string uuid = r.text();
  if (hasUuid) m.info.uuid = std::move(uuid);
  m.info.transport = r.text();
  bool hasDisplayName = r.flag();
  std::string displayName = r.text();
  if (hasDisplayName) m.info.displayName = std::move(displayName);
  m.info.units = r.units();

  m.unitInfo.type = r.unit();
  m.unitInfo.supported = r.resolutions();
  m.unitInfo.preferred = r.resolutions();
  m.unitInfo.duplex = r.flag();
  m.unitInfo.physical.width = r.real();
  m.unitInfo.physical.height = r.real();

  m.progress.page = r.number();
  m.progress.lines = r.number();
  m.progress.total = r.number();
  m.texts.cancelled = r.text();
  m.texts.invalid = r.text();

  m.error = r.error();
  if (!r.complete()) return std::nullopt;
  return m;
}

bool sendBytes(int socket, std::span<const unsigned char> bytes, int fd) {
  iovec part{const_cast<unsigned char*>(bytes.data()), bytes.size()};
  msghdr header{};
  header.msg_iov = &part;
  header.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (fd >= 0) {
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&header);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
  }
  for (;;) {
    ssize_t n = ::sendmsg(socket, &header, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<std::size_t>(n) == bytes.size();
    if (errno != EINTR) return false;
  }
}

bool send(int socket, const Message& message, int fd) {
  std::vector<unsigned char> bytes = encode(message);
  if (bytes.size() > maxPacket) return false;
  return sendBytes(socket, bytes, fd);
}

Incoming receiveBytes(int socket, std::span<unsigned char> into) {
  iovec part{into.data(), into.size()};
  msghdr header{};
  header.msg_iov = &part;
  header.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  header.msg_control = control;
  header.msg_controllen = sizeof control;
  Incoming packet;
  do {
    packet.size = ::recvmsg(socket, &header, MSG_CMSG_CLOEXEC);
  } while (packet.size < 0 && errno == EINTR);
  if (packet.size < 0) return packet;
  // Every descriptor that came is owned from here on, so that none is left open, whatever
  // the packet turns out to be.
  for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int fd = -1;
      std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
      packet.fds.emplace_back(fd);
    }
  }
  packet.truncated = (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0;
  return packet;
}

std::optional<Received> receive(int socket, Silence* why) {
  if (why != nullptr) *why = Silence::ended;
  std::vector<unsigned char> bytes(maxPacket);
  Incoming packet = receiveBytes(socket, bytes);
  if (packet.size <= 0) return std::nullopt;  // a failure, or the end of the stream
  auto message = decode({bytes.data(), static_cast<std::size_t>(packet.size)});
  if (!message || packet.fds.size() > 1 || packet.truncated) {
    if (why != nullptr) *why = Silence::malformed;
    return std::nullopt;
  }
  Received received;
  if (!packet.fds.empty()) received.fd = std::move(packet.fds.front());
  received.message = std::move(*message);
  return received;
}

}  // namespace qev::wire
