#pragma once

// The texts of a SANE device's record, from what SANE lists.

#include <optional>
#include <string>

#include "common/wire.h"

namespace qev {

// "usb", "network", "scsi", "virtual" or "" when it cannot be told.
std::string transportOf(const wire::DeviceInfo& info);
// Vendor and model joined by one space, trimmed; none when both are empty.
std::optional<std::string> nameOf(const wire::DeviceInfo& info);

}  // namespace qev
