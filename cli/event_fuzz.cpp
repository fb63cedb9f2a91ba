// Fuzzes the event writer with arbitrary texts in every member. The input, split at NUL
// bytes, is the "event" text followed by key and value pairs. A value that begins with byte
// 1 is an integer (the next eight bytes, little-endian), one that begins with byte 2 a
// Boolean; any other value is a text. Every line must be one compact JSON object that a
// parser accepts, with every '/' escaped, and must give back each key and value: exactly
// for valid UTF-8, with U+FFFD for each invalid byte otherwise.

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/event.h"
#include "cli/text.h"
#include "testing/fuzz.h"

namespace {

using qevtest::require;

qev::Value valueOf(std::string_view piece) {
  if (!piece.empty() && piece[0] == '\x01') {
    std::uint64_t bits = 0;
    for (std::size_t i = 1; i < piece.size() && i <= 8; ++i) {
      bits |= std::uint64_t{static_cast<unsigned char>(piece[i])} << (8 * (i - 1));
    }
    return static_cast<std::int64_t>(bits);
  }
  if (!piece.empty() && piece[0] == '\x02') {
    return piece.size() > 1 && (piece[1] & 1) != 0;
  }
  return std::string(piece);
}

// Outside its strings the line holds no white space; inside them no raw control character
// and no unescaped '/'.
void requireCompact(std::string_view json) {
  bool inString = false;
  for (std::size_t i = 0; i < json.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(json[i]);
    require(c >= 0x20);
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      } else {
        require(c != '/');
      }
    } else {
      require(c != ' ');
      if (c == '"') inString = true;
    }
  }
  require(!inString);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> pieces = qevtest::pieces(data, size);

  qev::Event event{{"event", std::string(pieces[0])}};
  std::set<std::string> keys{"event"};
  for (std::size_t i = 1; i + 1 < pieces.size(); i += 2) {
    // Keys of one event are distinct texts; two keys that become one text once made valid
    // are the same key.
    if (!keys.insert(qev::validUtf8(pieces[i])).second) continue;
    event.emplace_back(std::string(pieces[i]), valueOf(pieces[i + 1]));
  }

  std::string text = qev::line(event);
  require(!text.empty() && text.back() == '\n');
  require(text.find('\n') == text.size() - 1);
  std::string_view json(text.data(), text.size() - 1);
  requireCompact(json);

  auto parsed = nlohmann::json::parse(json.begin(), json.end(), nullptr, false);
  require(!parsed.is_discarded() && parsed.is_object());
  require(parsed.size() == event.size());
  for (const auto& [key, value] : event) {
    std::string validKey = qev::validUtf8(key);
    require(parsed.contains(validKey));
    const auto& member = parsed[validKey];
    if (const auto* t = std::get_if<std::string>(&value)) {
      require(member.is_string());
      std::string valid = qev::validUtf8(*t);
      require(member.get<std::string>() == valid);
    } else if (const auto* n = std::get_if<std::int64_t>(&value)) {
      require(member.is_number_integer() && member.get<std::int64_t>() == *n);
    } else {
      require(member.is_boolean() && member.get<bool>() == std::get<bool>(value));
    }
  }
  return 0;
}
