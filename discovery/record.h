#pragma once

#include <string>

#include "cli/event.h"
#include "platform/scanner.h"

namespace qev {

// The scanner identifier: its UUID text if it reports one (even an empty one), else its
// name, else the empty text. A UUID hides the name.
std::string identifier(const Device& scanner);

// The device record: the `device` event that describes `scanner`, read afresh at each call.
Event describe(const Device& scanner);

}  // namespace qev
