// Fuzzes the command line: the input, split at NUL bytes, is the argument list (argument 0
// first). It runs through the same dispatch as the real entry function, with commands that
// only record what reached them and a process end that returns control here. Whatever the
// arguments, a run writes nothing but whole lines of valid JSON, ends in exactly one of the
// five ways, and hands the commands exactly what the option lookup says.

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/args.h"
#include "cli/dispatch.h"
#include "cli/text.h"
#include "testing/capture.h"
#include "testing/fuzz.h"

namespace {

using qevtest::require;

// What the inputs write and how they end, from the first input to the end of the fuzzing.
qevtest::Capture& capture() {
  static qevtest::Capture c;
  return c;
}

// One captured line: one line feed, at its end, and a JSON object before it.
void requireLine(const std::string& text) {
  require(!text.empty() && text.back() == '\n');
  require(text.find('\n') == text.size() - 1);
  auto parsed = nlohmann::json::parse(text.begin(), text.end() - 1, nullptr, false);
  require(!parsed.is_discarded() && parsed.is_object());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> given = qevtest::pieces(data, size);
  qev::setArgs(given);
  auto& lines = capture().lines;
  lines.clear();
  capture().events.clear();

  // Every argument reaches the commands as valid UTF-8.
  require(qev::args().size() == given.size());
  for (std::size_t i = 0; i < given.size(); ++i) {
    require(qev::args()[i] == qev::validUtf8(given[i]));
  }

  enum class Reached { none, simulate, list, scan, show };
  Reached reached = Reached::none;
  qev::Commands commands{
      .simulate =
          [&](const std::string& out, std::int64_t pages) {
            reached = Reached::simulate;
            require(qev::arg("--out") == out);
            auto text = qev::arg("--pages");
            auto parsed = qev::parseInt(text.value_or("4"));
            require(pages == parsed.value_or(4));
          },
      .list =
          [&](double wait) {
            reached = Reached::list;
            require(wait == qev::waitSeconds());
          },
      .scan =
          [&](const qev::ScanRequest& request) {
            reached = Reached::scan;
            require(qev::arg("--device") == request.device);
            require(qev::arg("--out") == request.out);
            require(qev::arg("--source").value_or("feeder") == request.source);
            require(qev::has("--duplex") == request.duplex);
            require(qev::parseInt(qev::arg("--dpi").value_or("300")).value_or(300) == request.dpi);
            require(qev::has("--progress") == request.progress);
          },
      .show =
          [&](const std::string& device) {
            reached = Reached::show;
            require(qev::arg("--device") == device);
          },
  };
  const auto status = qevtest::Capture::endOf([&] { qev::dispatch(commands); });

  for (const auto& l : lines) requireLine(l);

  const std::string command = given.size() >= 2 ? qev::args()[1] : std::string();
  if (reached != Reached::none) {
    // A command that starts has written nothing yet and the process has not ended.
    require(lines.empty() && !status);
    require((reached == Reached::simulate && command == "simulate") ||
            (reached == Reached::list && command == "list") ||
            (reached == Reached::scan && command == "scan") ||
            (reached == Reached::show && command == "show"));
  } else {
    // Otherwise exactly one usage error, status 1.
    require(status == 1 && lines.size() == 1);
    auto event = nlohmann::json::parse(lines[0]);
    require(event.size() == 3 && event["event"] == "error" && event["code"] == "usage");
    std::string message = event["message"];
    if (command == "simulate") {
      require(message == "Name a folder with --out.");
    } else if (command == "scan") {
      require(message == "Name a scanner and a folder.");
    } else if (command == "show") {
      require(message == "Name a scanner with --device.");
    } else {
      require(command != "list" && message == "Use list, scan or simulate.");
    }
  }
  return 0;
}
