#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qev {

// The process's arguments, argument 0 (the program path) first, each made valid UTF-8.
void setArgs(std::span<const std::string_view> given);
const std::vector<std::string>& args();

// The argument after the first one equal to `name`, looking from argument 0 on; nothing
// when no argument equals `name` or the first that does is the last argument.
std::optional<std::string> arg(std::string_view name);

// Whether any argument equals `name`.
bool has(std::string_view name);

// A decimal integer: an optional sign followed by ASCII digits only, within signed 64 bits.
[[nodiscard]] std::optional<std::int64_t> parseInt(std::string_view text);

// A floating-point number in the C locale's form, filling the whole text, with no leading
// white space.
[[nodiscard]] std::optional<double> parseFloat(std::string_view text);

}  // namespace qev
