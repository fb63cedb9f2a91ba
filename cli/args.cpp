#include "cli/args.h"

#include <clocale>
#include <cstdlib>

#include "cli/text.h"

namespace qev {

namespace {
std::vector<std::string> all;
}

void setArgs(std::span<const std::string_view> given) {
  all.clear();
  for (std::string_view a : given) all.push_back(validUtf8(a));
}

const std::vector<std::string>& args() { return all; }

std::optional<std::string> arg(std::string_view name) {
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i] == name) {
      if (i + 1 == all.size()) return std::nullopt;
      return all[i + 1];
    }
  }
  return std::nullopt;
}

bool has(std::string_view name) {
  for (const auto& a : all) {
    if (a == name) return true;
  }
  return false;
}

std::optional<std::int64_t> parseInt(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    int digit = c - '0';
    // Accumulating towards the sign reaches both ends of the range exactly.
    if (__builtin_mul_overflow(value, 10, &value)) return std::nullopt;
    if (negative ? __builtin_sub_overflow(value, digit, &value)
                 : __builtin_add_overflow(value, digit, &value)) {
      return std::nullopt;
    }
  }
  return value;
}

std::optional<double> parseFloat(std::string_view text) {
  if (text.empty()) return std::nullopt;
  switch (text[0]) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
      return std::nullopt;
  }
  // The C locale, whatever the user's: the decimal separator is always '.'.
  static locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
  std::string copy(text);  // strtod_l wants a NUL-terminated text
  if (copy.size() != std::char_traits<char>::length(copy.c_str())) return std::nullopt;
  char* rest = nullptr;
  double value = strtod_l(copy.c_str(), &rest, c);
  if (rest != copy.c_str() + copy.size()) return std::nullopt;
  return value;
}

}  // namespace qev
