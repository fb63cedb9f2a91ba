#include "config.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fault {
namespace {

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// Strips one pair of surrounding double quotes, then turns \xHH, \n, \t, \r, \", \\ into bytes.
std::string unescape(std::string s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'x' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
  }
  return out;
}

std::vector<std::string> split(const std::string& s, char by) {
  std::vector<std::string> parts;
  std::stringstream in(s);
  for (std::string part; std::getline(in, part, by);)
    if (!trim(part).empty()) parts.push_back(unescape(trim(part)));
  return parts;
}

const struct {
  const char* name;
  SANE_Status status;
} statuses[] = {{"GOOD", SANE_STATUS_GOOD},
                {"UNSUPPORTED", SANE_STATUS_UNSUPPORTED},
                {"CANCELLED", SANE_STATUS_CANCELLED},
                {"DEVICE_BUSY", SANE_STATUS_DEVICE_BUSY},
                {"INVAL", SANE_STATUS_INVAL},
                {"EOF", SANE_STATUS_EOF},
                {"JAMMED", SANE_STATUS_JAMMED},
                {"NO_DOCS", SANE_STATUS_NO_DOCS},
                {"COVER_OPEN", SANE_STATUS_COVER_OPEN},
                {"IO_ERROR", SANE_STATUS_IO_ERROR},
                {"NO_MEM", SANE_STATUS_NO_MEM},
                {"ACCESS_DENIED", SANE_STATUS_ACCESS_DENIED}};

// GOOD for a name that is no failure.
SANE_Status statusNamed(const std::string& name) {
  for (const auto& n : statuses)
    if (name == n.name) return n.status;
  return SANE_STATUS_GOOD;
}

// Whether nothing but blanks is left in `in` after a successful read.
bool done(std::istream& in) { return !in.fail() && (in >> std::ws).eof(); }

// `int|fixed list V…` or `int|fixed range MIN MAX QUANT`, the rest of `in`.
bool numbers(std::istream& in, Shape& shape) {
  std::string type, form;
  in >> type >> form;
  shape.type = type == "fixed" ? SANE_TYPE_FIXED : SANE_TYPE_INT;
  shape.range = form == "range";
  shape.values.clear();
  for (double v; in >> v;) shape.values.push_back(v);
  return (type == "int" || type == "fixed") && (form == "list" || form == "range") &&
         !shape.values.empty() && (form == "list" || shape.values.size() == 3);
}

bool validName(const std::string& name) {
  if (name.empty() || !std::islower(static_cast<unsigned char>(name[0]))) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::islower(static_cast<unsigned char>(c)) ||
           std::isdigit(static_cast<unsigned char>(c)) || c == '-';
  });
}

bool has(const Device& d, const std::string& name) {
  auto names = optionNames(d);
  return std::find(names.begin(), names.end(), name) != names.end();
}

// `NAME string A, B…`, `NAME bool yes|no`, `NAME int|fixed list|range …`.
bool option(Device& d, const std::string& value) {
  static const char* const reserved[] = {"source",     "duplex",     "mode",        "depth",
                                         "resolution", "page-width", "page-height", "tl-x",
                                         "tl-y",       "br-x",       "br-y"};
  std::istringstream in(value);
  Shape shape;
  std::string type;
  in >> shape.name >> type;
  if (!validName(shape.name) || has(d, shape.name) ||
      std::find(std::begin(reserved), std::end(reserved), shape.name) != std::end(reserved))
    return false;
  std::string rest;
  std::getline(in, rest);
  rest = trim(rest);
  if (type == "string") {
    shape.strings = split(rest, ',');
    if (shape.strings.empty()) return false;
  } else if (type == "bool") {
    shape.type = SANE_TYPE_BOOL;
    shape.on = rest == "yes";
    if (rest != "yes" && rest != "no") return false;
  } else {
    std::istringstream numberIn(type + " " + rest);
    if (!numbers(numberIn, shape) || !numberIn.eof()) return false;
  }
  d.extras.push_back(std::move(shape));
  return true;
}

// A page number: digits only, above 0.
bool page(const std::string& word, long long& out) {
  if (word.empty() || word.size() > 18 ||
      !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  out = std::atoll(word.c_str());
  return out > 0;
}

std::vector<std::string> words(std::istream& in) {
  std::vector<std::string> all;
  for (std::string word; in >> word;) all.push_back(word);
  return all;
}

// `PAGE segv|abort|exit`, `open segv|abort|exit` or `devices segv|abort|exit`.
bool crash(Device& d, std::istream& in) {
  static const std::pair<const char*, Crash> ways[] = {
      {"segv", Crash::segv}, {"abort", Crash::abort}, {"exit", Crash::exit}};
  auto w = words(in);
  Crash way = Crash::none;
  for (const auto& [name, value] : ways)
    if (w.size() == 2 && w[1] == name) way = value;
  if (way == Crash::none) return false;
  if (w[0] == "open") return (d.crashOpen = way), true;
  if (w[0] == "devices") return (d.crashDevices = way), true;
  long long at = 0;
  if (!page(w[0], at)) return false;
  d.crashPage = at;
  d.crashRead = way;
  return true;
}

// `read [PAGE]`, `start [PAGE]`, `open` or `devices`.
bool hang(Device& d, std::istream& in) {
  auto w = words(in);
  long long at = 1;
  if (w.empty() || w.size() > 2) return false;
  if (w[0] == "open" || w[0] == "devices") {
    if (w.size() != 1) return false;
    (w[0] == "open" ? d.hangOpen : d.hangDevices) = true;
    return true;
  }
  if (w.size() == 2 && !page(w[1], at)) return false;
  if (w[0] == "read") return (d.hangRead = at), true;
  if (w[0] == "start") return (d.hangStart = at), true;
  return false;
}

// `PAGE` (mid-read), `open`, `set NAME` or `start PAGE`.
bool remove(Device& d, std::istream& in) {
  auto w = words(in);
  long long at = 0;
  if (w.size() == 1 && w[0] == "open") return (d.removeOpen = true), true;
  if (w.size() == 1 && page(w[0], at)) return (d.removeAt = at), true;
  if (w.size() == 2 && w[0] == "set" && validName(w[1])) return (d.removeSet = w[1]), true;
  if (w.size() == 2 && w[0] == "start" && page(w[1], at)) return (d.removeStart = at), true;
  return false;
}

// `PAGE start|read STATUS`, `open STATUS` or `set NAME STATUS`.
bool fail(Device& d, std::istream& in) {
  auto w = words(in);
  SANE_Status status = w.empty() ? SANE_STATUS_GOOD : statusNamed(w.back());
  if (status == SANE_STATUS_GOOD) return false;
  if (w.size() == 2 && w[0] == "open") return (d.openFails = status), true;
  if (w.size() == 3 && w[0] == "set" && validName(w[1])) {
    d.setFails = w[1];
    d.setStatus = status;
    return true;
  }
  long long at = 0;
  if (w.size() != 3 || !page(w[0], at) || (w[1] != "start" && w[1] != "read")) return false;
  d.faults.push_back({.page = at, .atStart = w[1] == "start", .status = status});
  return true;
}

bool feederEnd(Device& d, std::istream& in) {
  static const std::pair<const char*, FeederEnd> ends[] = {
      {"start-nodocs", FeederEnd::startNoDocs},
      {"read-nodocs", FeederEnd::readNoDocs},
      {"start-cancelled", FeederEnd::startCancelled},
      {"io-error-after", FeederEnd::ioErrorAfter},
      {"nodocs-after", FeederEnd::noDocsAfter}};
  std::string how;
  in >> how;
  for (const auto& [name, value] : ends) {
    if (how != name) continue;
    d.feederEnd = value;
    d.feederEndMs = 0;
    if (value == FeederEnd::ioErrorAfter || value == FeederEnd::noDocsAfter) in >> d.feederEndMs;
    return done(in) && d.feederEndMs >= 0;
  }
  return false;
}

// `OPTION:OTHER, …`, both options offered by lines above.
bool resets(Device& d, const std::string& value) {
  auto pairs = split(value, ',');
  if (pairs.empty()) return false;
  for (const auto& pair : pairs) {
    auto colon = pair.find(':');
    if (colon == std::string::npos) return false;
    std::string first = trim(pair.substr(0, colon)), second = trim(pair.substr(colon + 1));
    if (first == second || !has(d, first) || !has(d, second)) return false;
    d.resets.emplace_back(first, second);
  }
  return true;
}

bool depthOption(Device& d, const std::string& value) {
  Shape shape;
  shape.name = "depth";
  shape.type = SANE_TYPE_INT;
  shape.unit = SANE_UNIT_BIT;
  for (const auto& item : split(value, ',')) {
    if (item != "1" && item != "8" && item != "16") return false;
    shape.values.push_back(std::atoi(item.c_str()));
  }
  if (shape.values.empty()) return false;
  d.depths = shape;
  return true;
}

// Applies one `key = value` line to a device; false when the line makes no sense.
bool apply(Device& d, const std::string& key, const std::string& value) {
  static const std::pair<const char*, std::string Device::*> texts[] = {
      {"backend", &Device::backend},
      {"name", &Device::name},
      {"vendor", &Device::vendor},
      {"model", &Device::model},
      {"type", &Device::type}};
  static const std::pair<const char*, std::vector<std::string> Device::*> lists[] = {
      {"source", &Device::sources}, {"mode", &Device::modes}, {"reload", &Device::reload}};
  static const std::pair<const char*, bool Device::*> flags[] = {
      {"duplex", &Device::duplex},
      {"busy", &Device::busy},
      {"unknown-lines", &Device::unknownLines},
      {"sheet-fed", &Device::sheetFed}};
  static const std::pair<const char*, long long Device::*> counts[] = {
      {"delay", &Device::delayMs},
      {"extra", &Device::extra},
      {"short", &Device::shortBy},
      {"padding", &Device::padding},
      {"chunk", &Device::chunk},
      {"pad-lines", &Device::padLines},
      {"empty-reads", &Device::emptyReads},
      {"empty-reads-ms", &Device::emptyMs},
      {"start-delay", &Device::startDelayMs}};
  for (const auto& [name, member] : texts)
    if (key == name) return (d.*member = unescape(value)), true;
  for (const auto& [name, member] : lists)
    if (key == name) return (d.*member = split(value, ',')), true;
  for (const auto& [name, member] : flags)
    if (key == name) return (d.*member = value == "yes"), value == "yes" || value == "no";
  std::istringstream in(value);
  for (const auto& [name, member] : counts)
    if (key == name) return (in >> d.*member), done(in) && d.*member >= 0;
  if (key == "pages" || key == "sheets") {
    d.sheets = key == "sheets";
    return (in >> d.pages), done(in) && d.pages >= 0;
  }
  if (key == "resolution") {
    Shape shape;
    shape.name = "resolution";
    shape.unit = SANE_UNIT_DPI;
    bool good = numbers(in, shape);
    d.resolution = shape;
    return good;
  }
  if (key == "area") return (in >> d.width >> d.height), d.hasArea = done(in);
  if (key == "default-area") return (in >> d.defaultWidth >> d.defaultHeight), done(in);
  if (key == "feeder-area") {
    in >> d.feederWidth >> d.feederHeight;
    d.hasArea = d.sourceDependent = true;
    return done(in) && d.feederWidth >= 0 && d.feederHeight >= 0;
  }
  if (key == "page-size") {
    d.pageSize = value == "yes";
    d.hasArea = d.hasArea || d.pageSize;
    d.sourceDependent = d.sourceDependent || d.pageSize;
    return value == "yes" || value == "no";
  }
  if (key == "source-change") {
    d.sourceChange = value == "reset"      ? SourceChange::reset
                     : value == "maximise" ? SourceChange::maximise
                                           : SourceChange::keep;
    d.sourceDependent = true;
    return value == "keep" || value == "reset" || value == "maximise";
  }
  if (key == "resets") return resets(d, value);
  if (key == "depth-option") return depthOption(d, value);
  if (key == "option") return option(d, value);
  if (key == "size") return (in >> d.sizeX >> d.sizeY), done(in);
  if (key == "params-after-start")
    return (in >> d.afterX >> d.afterY), done(in) && d.afterX >= 0 && d.afterY >= 0;
  if (key == "frame") return (d.frame = value), value == "rgb" || value == "gray";
  if (key == "depth")
    return (in >> d.depth), done(in) && (d.depth == 1 || d.depth == 8 || d.depth == 16);
  if (key == "fail") return fail(d, in);
  if (key == "feeder-end") return feederEnd(d, in);
  if (key == "remove") return remove(d, in);
  if (key == "crash") return crash(d, in);
  if (key == "hang") return hang(d, in);
  if (key == "print") return (d.print = unescape(value)), true;
  if (key == "signals")
    return (d.resetSignals = value == "reset"), value == "reset" || value == "keep";
  if (key == "record") return (d.record = unescape(value)), !d.record.empty();
  if (key == "after-cancel") {
    d.afterCancel = value == "eof" ? SANE_STATUS_EOF : SANE_STATUS_CANCELLED;
    return value == "eof" || value == "cancelled";
  }
  return false;
}

}  // namespace

const char* statusName(SANE_Status status) {
  for (const auto& n : statuses)
    if (status == n.status) return n.name;
  return "UNKNOWN";
}

std::vector<std::string> optionNames(const Device& d) {
  std::vector<std::string> names;
  if (!d.sources.empty()) names.push_back("source");
  if (d.duplex) names.push_back("duplex");
  if (!d.modes.empty()) names.push_back("mode");
  if (d.depths) names.push_back("depth");
  if (d.resolution) names.push_back("resolution");
  if (d.pageSize) names.insert(names.end(), {"page-width", "page-height"});
  if (d.hasArea) names.insert(names.end(), {"tl-x", "tl-y", "br-x", "br-y"});
  for (const auto& shape : d.extras) names.push_back(shape.name);
  return names;
}

std::vector<std::unique_ptr<Device>> load() {
  std::vector<std::unique_ptr<Device>> devices;
  std::string dirs = getenv("SANE_CONFIG_DIR") ? getenv("SANE_CONFIG_DIR") : "";
  std::ifstream file;
  for (const auto& dir : split(dirs + ":/etc/sane.d", ':')) {
    file.open(dir + "/fault.conf");
    if (file) break;
    file.clear();
  }
  int number = 0;
  for (std::string line; std::getline(file, line);) {
    ++number;
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line == "[device]") {
      devices.push_back(std::make_unique<Device>());
      continue;
    }
    // A line is applied to a copy so that one the backend cannot use changes nothing.
    auto eq = line.find('=');
    Device changed = devices.empty() ? Device{} : *devices.back();
    if (devices.empty() || eq == std::string::npos ||
        !apply(changed, trim(line.substr(0, eq)), trim(line.substr(eq + 1))))
      std::fprintf(stderr, "fault.conf:%d: cannot use \"%s\"\n", number, line.c_str());
    else
      *devices.back() = std::move(changed);
  }
  return devices;
}

}  // namespace fault
