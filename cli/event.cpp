#include "cli/event.h"

#include "cli/end.h"
#include "cli/text.h"
#include "platform/files.h"

namespace qev {

namespace {

Output output;

std::string tenths(Tenths value) {
  // The sign apart, so that -5 is -0.5 and the most negative count has no positive twin to
  // overflow into.
  std::uint64_t count = value.count < 0 ? 0 - static_cast<std::uint64_t>(value.count)
                                        : static_cast<std::uint64_t>(value.count);
  return (value.count < 0 ? "-" : "") + std::to_string(count / 10) + "." +
         std::to_string(count % 10);
}

}  // namespace

// No JSON library escapes '/' as this stream's readers expect, so the writer is our own.
std::string quote(std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string valid = validUtf8(text);
  std::string out;
  out.reserve(valid.size() + 2);
  out += '"';
  for (char c : valid) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += "\\/";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\\u00";
          out += hex[(c >> 4) & 0xf];
          out += hex[c & 0xf];
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::string line(const Event& event) {
  std::string out = "{";
  for (const auto& [key, value] : event) {
    if (out.size() > 1) out += ',';
    out += quote(key);
    out += ':';
    if (const auto* text = std::get_if<std::string>(&value)) {
      out += quote(*text);
    } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
      out += std::to_string(*number);
    } else if (const auto* decimal = std::get_if<Tenths>(&value)) {
      out += tenths(*decimal);
    } else if (const auto* list = std::get_if<std::vector<std::int64_t>>(&value)) {
      out += '[';
      for (std::size_t i = 0; i < list->size(); ++i) {
        if (i > 0) out += ',';
        out += std::to_string((*list)[i]);
      }
      out += ']';
    } else {
      out += std::get<bool>(value) ? "true" : "false";
    }
  }
  out += "}\n";
  return out;
}

void emit(const Event& event) {
  std::string text = line(event);
  if (output) {
    output(text);
  } else {
    // A write that fails is not reported: there is no other channel to report it on.
    (void)writeAll(1, {reinterpret_cast<const unsigned char*>(text.data()), text.size()});
  }
}

void fail(Code code, std::string_view message) {
  emit({{"event", "error"},
        {"code", std::string(codeName(code))},
        {"message", std::string(message)}});
  end(1);
}

void fail(Code code, std::string_view prefix, const Error& cause) {
  fail(cause.code.value_or(code), std::string(prefix) + cause.description);
}

void setOutput(Output o) { output = std::move(o); }

}  // namespace qev
