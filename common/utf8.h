#pragma once

#include <string>
#include <string_view>

namespace qev {

// The text with every byte that is not part of a valid UTF-8 sequence replaced by U+FFFD.
// Arguments and scanner texts pass through here so that every event can be written.
std::string validUtf8(std::string_view text);

}  // namespace qev
