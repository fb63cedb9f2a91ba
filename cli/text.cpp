#include "cli/text.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace qev {

namespace {

std::string nfc(std::string_view text) {
  std::string valid = validUtf8(text);
  // With an explicit length, a NUL inside the text is an ordinary character.
  utf8proc_uint8_t* mapped = nullptr;
  utf8proc_ssize_t n =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(valid.data()),
                   static_cast<utf8proc_ssize_t>(valid.size()), &mapped,
                   static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (n < 0) return valid;
  std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(mapped, &std::free);
  return std::string(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(n));
}

}  // namespace

bool sameText(std::string_view a, std::string_view b) {
  if (a == b) return true;
  return nfc(a) == nfc(b);
}

}  // namespace qev
