#include "cli/dispatch.h"

#include <cmath>

#include "cli/args.h"
#include "cli/event.h"

namespace qev {

double waitSeconds() {
  auto wait = parseFloat(arg("--wait").value_or("4"));
  if (!wait || !std::isfinite(*wait)) return 4.0;
  return *wait;
}

void dispatch(const Commands& commands) {
  const std::string command = args().size() >= 2 ? args()[1] : std::string();
  if (command == "simulate") {
    auto out = arg("--out");
    if (!out) fail(Code::usage, "Name a folder with --out.");
    commands.simulate(*out, parseInt(arg("--pages").value_or("4")).value_or(4));
  } else if (command == "list") {
    commands.list(waitSeconds());
  } else if (command == "scan") {
    auto device = arg("--device");
    auto out = arg("--out");
    if (!device || !out) fail(Code::usage, "Name a scanner and a folder.");
    commands.scan({.device = *device,
                   .out = *out,
                   .source = arg("--source").value_or("feeder"),
                   .duplex = has("--duplex"),
                   .dpi = parseInt(arg("--dpi").value_or("300")).value_or(300),
                   .progress = has("--progress")});
  } else if (command == "show") {
    auto device = arg("--device");
    if (!device) fail(Code::usage, "Name a scanner with --device.");
    commands.show(*device);
  } else {
    fail(Code::usage, "Use list, scan or simulate.");
  }
}

}  // namespace qev
