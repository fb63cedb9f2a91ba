#include "platform/client/naming.h"

#include "common/utf8.h"

namespace qev {

namespace {

bool startsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
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
    if (startsWith(name, backend)) return "network";
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

}  // namespace qev
