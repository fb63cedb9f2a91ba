#include "host/identity.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "common/utf8.h"
#include "host/text.h"

namespace qev {

namespace {

namespace fs = std::filesystem;

// A whole text of decimal digits (leading zeros allowed), as a number.
std::optional<unsigned> decimal(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  unsigned value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool hexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A sysfs attribute, without the newline the kernel ends it with; none when it cannot be
// read.
std::optional<std::string> attribute(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text{std::istreambuf_iterator<char>(in), {}};
  if (in.bad()) return std::nullopt;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// A USB vendor or product number: four hexadecimal digits, in lowercase.
std::optional<std::string> usbNumber(const fs::path& path) {
  auto text = attribute(path);
  if (!text || text->size() != 4) return std::nullopt;
  for (char& c : *text) {
    if (!hexDigit(c)) return std::nullopt;
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The serial number as it can stand in an identifier: bytes outside printable ASCII and
// the separators of identifiers are written as %XX.
std::string escape(std::string_view serial) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out;
  for (char c : serial) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7e || c == ':' || c == '@' || c == '/' || c == '%') {
      out += '%';
      out += digits[byte >> 4];
      out += digits[byte & 0xf];
    } else {
      out += c;
    }
  }
  return out;
}

// The bus and device numbers of a `<backend>:libusb:BBB:DDD` name, and its backend.
struct UsbName {
  std::string_view backend;
  unsigned bus = 0;
  unsigned device = 0;
};

std::optional<UsbName> usbName(std::string_view name) {
  constexpr std::string_view marker = ":libusb:";
  auto at = name.find(marker);
  if (at == std::string_view::npos || at == 0) return std::nullopt;
  UsbName usb;
  usb.backend = name.substr(0, at);
  // libsane's dll layer adds one backend name; more (`net:host:genesys`) mean a device on
  // another machine, whose numbers say nothing about this one's USB devices.
  if (usb.backend.find(':') != std::string_view::npos) return std::nullopt;
  auto numbers = name.substr(at + marker.size());
  auto colon = numbers.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  auto bus = decimal(numbers.substr(0, colon));
  auto device = decimal(numbers.substr(colon + 1));
  if (!bus || !device) return std::nullopt;
  usb.bus = *bus;
  usb.device = *device;
  return usb;
}

// `<controller>/<ports>` for the device at `entry` on bus `bus`: the ports come from its
// name (`1-1.4` gives `1.4`), the controller is the folder that holds `usb<bus>` in its
// real path. None when either cannot be told.
std::optional<std::string> socket(const fs::path& entry, unsigned bus) {
  const std::string name = entry.filename().string();
  const std::string busText = std::to_string(bus);
  if (name.size() <= busText.size() + 1 || name.compare(0, busText.size(), busText) != 0 ||
      name[busText.size()] != '-') {
    return std::nullopt;
  }
  std::string ports = name.substr(busText.size() + 1);
  if (ports.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;

  std::error_code error;
  const fs::path real = fs::canonical(entry, error);
  if (error) return std::nullopt;
  const std::string root = "usb" + busText;
  std::optional<std::string> controller;
  std::string previous;
  for (const auto& part : real) {
    if (part.string() == root && !previous.empty() && previous != "/") controller = previous;
    previous = part.string();
  }
  if (!controller) return std::nullopt;
  return *controller + "/" + ports;
}

// The identity of the USB device with the numbers of `usb`, from the sysfs tree at `sysfs`.
std::optional<std::string> usbIdentity(const std::string& sysfs, const UsbName& usb) {
  std::error_code error;
  fs::directory_iterator entries(fs::path(sysfs) / "bus/usb/devices", error);
  if (error) return std::nullopt;
  std::optional<fs::path> found;
  for (const auto& entry : entries) {
    // `1-1.4:1.0` and the like are the interfaces of a device, not devices.
    if (entry.path().filename().string().find(':') != std::string::npos) continue;
    auto bus = attribute(entry.path() / "busnum");
    auto device = attribute(entry.path() / "devnum");
    if (!bus || !device || decimal(*bus) != usb.bus || decimal(*device) != usb.device) {
      continue;
    }
    // Two devices with the same numbers: the tree is not one to trust.
    if (found) return std::nullopt;
    found = entry.path();
  }
  if (!found) return std::nullopt;

  auto vendor = usbNumber(*found / "idVendor");
  auto product = usbNumber(*found / "idProduct");
  if (!vendor || !product) return std::nullopt;
  std::string identity = std::string(usb.backend) + ":usb:" + *vendor + ":" + *product;
  if (auto serial = attribute(*found / "serial"); serial && !serial->empty()) {
    return identity + ":" + escape(*serial);
  }
  auto where = socket(*found, usb.bus);
  if (!where) return std::nullopt;
  return identity + "@" + *where;
}

// `airscan:<e|w>:<instance>` for `airscan:<e|w><hex>:<instance>`.
std::optional<std::string> airscanIdentity(std::string_view name) {
  constexpr std::string_view prefix = "airscan:";
  if (name.substr(0, prefix.size()) != prefix) return std::nullopt;
  auto rest = name.substr(prefix.size());
  if (rest.empty() || (rest[0] != 'e' && rest[0] != 'w')) return std::nullopt;
  std::size_t end = 1;
  while (end < rest.size() && hexDigit(rest[end])) ++end;
  if (end == 1 || end + 1 >= rest.size() || rest[end] != ':') return std::nullopt;
  return std::string(prefix) + rest[0] + std::string(rest.substr(end));
}

std::string trim(std::string_view text) {
  auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return "";
  auto last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::string transportOf(const wire::DeviceInfo& info) {
  std::string_view name = info.name;
  // Network backends first: a network device proxies one whose own type may say otherwise.
  for (std::string_view backend : {"net:", "airscan:", "escl:", "bjnp:"}) {
    if (name.starts_with(backend)) return "network";
  }
  if (contains(name, ":net:") || contains(name, "/net/") || contains(name, "bjnp://") ||
      contains(name, "tcp ") || contains(name, "http://") || contains(name, "https://")) {
    return "network";
  }
  if (contains(name, "libusb:") || contains(name, "usb:") || contains(name, "/usb/") ||
      contains(name, "/dev/usb")) {
    return "usb";
  }
  if (contains(name, "/dev/sg") || contains(name, "/dev/sd") || contains(name, "scsi")) {
    return "scsi";
  }
  if (info.type == "virtual device") return "virtual";
  return "";
}

std::optional<std::string> nameOf(const wire::DeviceInfo& info) {
  std::string joined = trim(trim(info.vendor) + " " + trim(info.model));
  if (joined.empty()) return std::nullopt;
  return validUtf8(joined);
}

Identities::Identities(std::string sysfs) : sysfs(std::move(sysfs)) {}

std::optional<std::string> Identities::uuid(std::string_view name) const {
  if (auto usb = usbName(name)) return usbIdentity(sysfs, *usb);
  return airscanIdentity(name);
}

Choice choose(std::span<const Listed> listed, std::string_view id) {
  Choice choice;
  for (const auto& device : listed) {
    const std::string& identifier = device.uuid ? *device.uuid : device.name;
    if (identifier != id) continue;
    if (choice.match == Match::one) return {Match::several, {}};
    choice = {Match::one, device.name};
  }
  return choice;
}

}  // namespace qev
