#include "common/utf8.h"

#include <utf8proc.h>

namespace qev {

std::string validUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  auto left = static_cast<utf8proc_ssize_t>(text.size());
  while (left > 0) {
    utf8proc_int32_t c;
    utf8proc_ssize_t n = utf8proc_iterate(p, left, &c);
    if (n > 0) {
      out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
    } else {
      out += "\xEF\xBF\xBD";
      n = 1;
    }
    p += n;
    left -= n;
  }
  return out;
}

}  // namespace qev
