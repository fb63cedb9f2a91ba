#pragma once

#include <string>
#include <string_view>

#include "common/utf8.h"

namespace qev {

// Texts are equal when their canonical (NFC) forms are equal; letter case counts.
bool sameText(std::string_view a, std::string_view b);

}  // namespace qev
