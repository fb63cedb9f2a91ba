#pragma once

// What qev is told of each SANE device beside its name: a stable identifier, how it is
// connected and what it is called, and the choice of the device a stored identifier names.
//
// SANE names many devices by where they are found at the moment: sanei_usb's
// `<backend>:libusb:BBB:DDD` carries the bus and device numbers, which are handed out anew
// each time the scanner is switched on or plugged in; sane-airscan's
// `airscan:<e|w><hex>:<instance>` carries a counter that follows discovery order in each
// process. `Identities` gives such devices a UUID text that survives those changes, read
// from the USB device tree in sysfs; a caller stores that text and later finds the device by
// it with `choose`. Every other name gets no UUID: it is as stable as its backend made it.
//
// Nothing here calls SANE; the functions are pure apart from reading the sysfs tree, keep
// no state and may run on any thread.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/wire.h"

namespace qev {

// How the device is connected, told from its SANE name and type: "usb", "network", "scsi",
// "virtual" or "" when it cannot be told.
std::string transportOf(const wire::DeviceInfo& info);
// Its vendor and model joined by one space, trimmed and in valid UTF-8; none when both are
// empty.
std::optional<std::string> nameOf(const wire::DeviceInfo& info);

class Identities {
 public:
  // `sysfs` is the root of the sysfs tree: "/sys", or a folder that mimics it.
  explicit Identities(std::string sysfs);

  // The stable UUID text for the SANE device `name`, or none when the name is stable as it
  // is or when nothing better can be found (the tree is missing or unreadable, or no USB
  // device has the name's bus and device numbers):
  // - `<backend>:libusb:BBB:DDD` (BBB, DDD decimal), a USB device of this machine:
  //   `<backend>:usb:<vid>:<pid>:<serial>` when it reports a serial number, else
  //   `<backend>:usb:<vid>:<pid>@<controller>/<ports>`, the socket it is plugged into (for
  //   example `genesys:usb:04a9:1909@0000:00:14.0/1.4`). `vid` and `pid` are four lowercase
  //   hexadecimal digits. In the serial every byte outside printable ASCII and every `:`,
  //   `@`, `/` and `%` is written as `%XX` (uppercase hexadecimal digits). A backend that
  //   holds `:` (a device proxied by `net:<host>:`) is on another machine: none.
  // - `airscan:<e|w><hex>:<instance>`: `airscan:<e|w>:<instance>`, the counter dropped.
  std::optional<std::string> uuid(std::string_view name) const;

 private:
  std::string sysfs;
};

// A device as SANE lists it now, with the UUID `Identities::uuid` gave it.
struct Listed {
  std::string name;
  std::optional<std::string> uuid;
};

// The outcome of looking for a device by its identifier.
enum class Match {
  one,      // `Choice::name` is the device to open
  none,     // no listed device has the identifier
  several,  // two or more listed devices have it: none of them is chosen
};

struct Choice {
  Match match = Match::none;
  std::string name;  // the SANE name to open, when `match` is `one`
};

// The listed device whose identifier (its UUID when it has one, else its SANE name) is `id`.
// A UUID hides the name: a stored `genesys:libusb:001:004` does not find the device that now
// lists with a UUID. When several devices have the identifier (units sold with one serial
// number; pixma twins without one, listed under one SANE name) any of them could be the wrong
// one, so none is chosen. Texts are compared byte for byte, not after Unicode normalisation as
// the command line compares them: identifiers are ASCII apart from network instance names,
// which arrive the same way each time.
Choice choose(std::span<const Listed> listed, std::string_view id);

}  // namespace qev
