// A SANE backend for tests only: scanners described by fault.conf that misbehave on purpose
// (odd names, odd option shapes, jams, I/O errors, disconnects, wrong byte counts). libsane's
// dll loader finds it as libsane-fault.so.1 through LD_LIBRARY_PATH. Every keyword is
// documented in README.md beside this file.

#include <sane/sane.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Fault {
  int page;      // 1-based, counted from sane_open
  bool atStart;  // from sane_start, else mid-read
  SANE_Status status;
};

struct Device {
  std::string name, vendor = "Fault", model = "Injector", type = "flatbed scanner";
  std::vector<std::string> sources, modes, reload;
  bool duplex = false, busy = false, unknownLines = false;
  bool hasResolution = false, resolutionFixed = false, resolutionRange = false;
  std::vector<double> resolutions;  // a list, or min, max, quant for a range
  bool hasArea = false;
  double width = 210, height = 297, defaultWidth = -1, defaultHeight = -1;  // mm
  long long sizeX = -1, sizeY = -1;                                         // pixels, lines
  std::string frame;                                                        // "rgb", "gray", ""
  int depth = 0;
  long long pages = 1, removeAt = 0, delayMs = 0, extra = 0, shortBy = 0, padding = 0, chunk = 0;
  std::vector<Fault> faults;
  bool removed = false;  // after a removal fault fired
  SANE_Device record{};
};

struct Option {
  SANE_Option_Descriptor d{};
  std::vector<SANE_String_Const> strings;
  std::vector<SANE_Word> words;
  SANE_Range range{};
  SANE_Word word = 0;
  std::string text;
};

enum class State { idle, reading, done, cancelled };

struct Handle {
  Device* device = nullptr;
  std::deque<Option> options;  // a deque keeps descriptor addresses stable
  bool stale = false;          // RELOAD_OPTIONS answered, descriptors not fetched since
  State state = State::idle;
  long long page = 0, fed = 0;
  SANE_Parameters params{};
  long long sent = 0, total = 0, faultAt = -1;
  SANE_Status faultStatus = SANE_STATUS_GOOD;
  bool faultRemoves = false;
};

std::vector<std::unique_ptr<Device>> devices;
std::vector<const SANE_Device*> list;
std::vector<std::unique_ptr<Handle>> handles;

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

SANE_Status statusNamed(const std::string& name) {
  static const struct {
    const char* name;
    SANE_Status status;
  } names[] = {{"UNSUPPORTED", SANE_STATUS_UNSUPPORTED},
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
  for (const auto& n : names)
    if (name == n.name) return n.status;
  return SANE_STATUS_GOOD;
}

// Applies one `key = value` line to a device; false when the line makes no sense.
bool apply(Device& d, const std::string& key, const std::string& value) {
  static const std::pair<const char*, std::string Device::*> texts[] = {{"name", &Device::name},
                                                                        {"vendor", &Device::vendor},
                                                                        {"model", &Device::model},
                                                                        {"type", &Device::type}};
  static const std::pair<const char*, std::vector<std::string> Device::*> lists[] = {
      {"source", &Device::sources}, {"mode", &Device::modes}, {"reload", &Device::reload}};
  static const std::pair<const char*, bool Device::*> flags[] = {
      {"duplex", &Device::duplex},
      {"busy", &Device::busy},
      {"unknown-lines", &Device::unknownLines}};
  static const std::pair<const char*, long long Device::*> numbers[] = {
      {"pages", &Device::pages}, {"remove", &Device::removeAt}, {"delay", &Device::delayMs},
      {"extra", &Device::extra}, {"short", &Device::shortBy},   {"padding", &Device::padding},
      {"chunk", &Device::chunk}};
  for (const auto& [name, member] : texts)
    if (key == name) return (d.*member = unescape(value)), true;
  for (const auto& [name, member] : lists)
    if (key == name) return (d.*member = split(value, ',')), true;
  for (const auto& [name, member] : flags)
    if (key == name) return (d.*member = value == "yes"), value == "yes" || value == "no";
  std::istringstream in(value);
  auto done = [&] { return !in.fail() && (in >> std::ws).eof(); };
  for (const auto& [name, member] : numbers)
    if (key == name) return (in >> d.*member), done() && d.*member >= 0;
  if (key == "resolution") {
    std::string type, shape;
    in >> type >> shape;
    d.hasResolution = true;
    d.resolutionFixed = type == "fixed";
    d.resolutionRange = shape == "range";
    d.resolutions.clear();
    for (double v; in >> v;) d.resolutions.push_back(v);
    return (type == "int" || type == "fixed") && (shape == "list" || shape == "range") &&
           !d.resolutions.empty() && (shape == "list" || d.resolutions.size() == 3);
  }
  if (key == "area") return (in >> d.width >> d.height), d.hasArea = done();
  if (key == "default-area") return (in >> d.defaultWidth >> d.defaultHeight), done();
  if (key == "size") return (in >> d.sizeX >> d.sizeY), done();
  if (key == "frame") return (d.frame = value), value == "rgb" || value == "gray";
  if (key == "depth")
    return (in >> d.depth), done() && (d.depth == 1 || d.depth == 8 || d.depth == 16);
  if (key == "fail") {
    Fault f{};
    std::string where, status;
    in >> f.page >> where >> status;
    f.atStart = where == "start";
    f.status = statusNamed(status);
    d.faults.push_back(f);
    return done() && f.page > 0 && (where == "start" || where == "read") &&
           f.status != SANE_STATUS_GOOD;
  }
  return false;
}

// Reads fault.conf from the first folder of SANE_CONFIG_DIR that has one.
void load() {
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
}

bool isFlatbed(const std::string& source) {
  for (const char* word : {"flat", "normal", "table"})
    if (strcasestr(source.c_str(), word)) return true;
  return false;
}

bool isColour(const std::string& mode) {
  return strcasestr(mode.c_str(), "color") || strcasestr(mode.c_str(), "colour");
}

bool isLineart(const std::string& mode) {
  return strcasestr(mode.c_str(), "lineart") || strcasestr(mode.c_str(), "binary") ||
         strcasestr(mode.c_str(), "halftone");
}

Option& add(Handle& h, const char* name, SANE_Value_Type type, SANE_Unit unit) {
  Option& o = h.options.emplace_back();
  o.d.name = name;
  o.d.title = name;
  o.d.desc = name;
  o.d.type = type;
  o.d.unit = unit;
  o.d.size = static_cast<SANE_Int>(sizeof(SANE_Word));
  o.d.cap = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
  return o;
}

void addStrings(Handle& h, const char* name, const std::vector<std::string>& values) {
  if (values.empty()) return;
  Option& o = add(h, name, SANE_TYPE_STRING, SANE_UNIT_NONE);
  size_t longest = 0;
  for (const auto& v : values) {
    o.strings.push_back(v.c_str());
    longest = std::max(longest, v.size());
  }
  o.strings.push_back(nullptr);
  o.d.size = static_cast<SANE_Int>(longest + 1);
  o.d.constraint_type = SANE_CONSTRAINT_STRING_LIST;
  o.d.constraint.string_list = o.strings.data();
  o.text = values[0];
}

void addLength(Handle& h, const char* name, double max, double value) {
  Option& o = add(h, name, SANE_TYPE_FIXED, SANE_UNIT_MM);
  o.range = {0, SANE_FIX(max), 0};
  o.d.constraint_type = SANE_CONSTRAINT_RANGE;
  o.d.constraint.range = &o.range;
  o.word = SANE_FIX(value);
}

void build(Handle& h) {
  const Device& d = *h.device;
  Option& count = add(h, "", SANE_TYPE_INT, SANE_UNIT_NONE);
  count.d.title = "Number of options";
  count.d.desc = "Read-only option that gives the number of options.";
  count.d.cap = SANE_CAP_SOFT_DETECT;
  addStrings(h, "source", d.sources);
  if (d.duplex) add(h, "duplex", SANE_TYPE_BOOL, SANE_UNIT_NONE).word = SANE_FALSE;
  addStrings(h, "mode", d.modes);
  if (d.hasResolution) {
    Option& o =
        add(h, "resolution", d.resolutionFixed ? SANE_TYPE_FIXED : SANE_TYPE_INT, SANE_UNIT_DPI);
    auto word = [&](double v) {
      return d.resolutionFixed ? SANE_FIX(v) : static_cast<SANE_Word>(std::lround(v));
    };
    if (d.resolutionRange) {
      o.range = {word(d.resolutions[0]), word(d.resolutions[1]), word(d.resolutions[2])};
      o.d.constraint_type = SANE_CONSTRAINT_RANGE;
      o.d.constraint.range = &o.range;
    } else {
      o.words.push_back(static_cast<SANE_Word>(d.resolutions.size()));
      for (double v : d.resolutions) o.words.push_back(word(v));
      o.d.constraint_type = SANE_CONSTRAINT_WORD_LIST;
      o.d.constraint.word_list = o.words.data();
    }
    o.word = word(d.resolutions[0]);
  }
  if (d.hasArea) {
    addLength(h, "tl-x", d.width, 0);
    addLength(h, "tl-y", d.height, 0);
    addLength(h, "br-x", d.width, d.defaultWidth >= 0 ? d.defaultWidth : d.width);
    addLength(h, "br-y", d.height, d.defaultHeight >= 0 ? d.defaultHeight : d.height);
  }
  count.word = static_cast<SANE_Word>(h.options.size());
}

const Option* find(const Handle& h, const char* name) {
  for (const auto& o : h.options)
    if (std::strcmp(o.d.name, name) == 0) return &o;
  return nullptr;
}

double number(const Handle& h, const char* name, double otherwise) {
  const Option* o = find(h, name);
  if (!o) return otherwise;
  return o->d.type == SANE_TYPE_FIXED ? SANE_UNFIX(o->word) : o->word;
}

bool feeding(const Handle& h) {
  const Option* source = find(h, "source");
  return source ? !isFlatbed(source->text) : h.device->type == "sheetfed scanner";
}

// The frame the current settings give.
SANE_Parameters parameters(const Handle& h) {
  const Device& d = *h.device;
  const Option* mode = find(h, "mode");
  bool rgb = d.frame.empty() ? mode && isColour(mode->text) : d.frame == "rgb";
  int depth = d.depth ? d.depth : mode && isLineart(mode->text) ? 1 : 8;
  long long x = d.sizeX, y = d.sizeY;
  if (x < 0 || y < 0) {
    double dpi = number(h, "resolution", 100) / 25.4;
    x = std::llround((number(h, "br-x", d.width) - number(h, "tl-x", 0)) * dpi);
    y = std::llround((number(h, "br-y", d.height) - number(h, "tl-y", 0)) * dpi);
  }
  // Huge sizes are clamped to what SANE_Int holds, never wrapped.
  auto clamp = [](long long v) { return static_cast<SANE_Int>(std::clamp(v, 0LL, 0x7fffffffLL)); };
  SANE_Parameters p{};
  p.format = rgb ? SANE_FRAME_RGB : SANE_FRAME_GRAY;
  p.last_frame = SANE_TRUE;
  p.depth = depth;
  p.pixels_per_line = clamp(x);
  p.lines = clamp(y);
  p.bytes_per_line = clamp((clamp(x) * (rgb ? 3LL : 1LL) * depth + 7) / 8 + d.padding);
  return p;
}

Handle* handleOf(SANE_Handle handle) {
  for (const auto& h : handles)
    if (h.get() == handle) return h.get();
  return nullptr;
}

SANE_Status constrain(Option& o, void* value, SANE_Int* info) {
  if (o.d.type == SANE_TYPE_STRING) {
    auto* s = static_cast<const char*>(value);
    for (size_t i = 0; o.strings[i]; ++i) {
      if (strcasecmp(s, o.strings[i]) != 0) continue;
      if (std::strcmp(s, o.strings[i]) != 0 && info) *info |= SANE_INFO_INEXACT;
      o.text = o.strings[i];
      return SANE_STATUS_GOOD;
    }
    return SANE_STATUS_INVAL;
  }
  SANE_Word w = *static_cast<SANE_Word*>(value), set = w;
  if (o.d.type == SANE_TYPE_BOOL && w != SANE_TRUE && w != SANE_FALSE) return SANE_STATUS_INVAL;
  if (o.d.constraint_type == SANE_CONSTRAINT_RANGE) {
    set = std::clamp(w, o.range.min, o.range.max);
    if (o.range.quant > 0)
      set = o.range.min + (set - o.range.min + o.range.quant / 2) / o.range.quant * o.range.quant;
  } else if (o.d.constraint_type == SANE_CONSTRAINT_WORD_LIST) {
    set = o.words[1];
    for (SANE_Word i = 1; i <= o.words[0]; ++i)
      if (std::llabs(static_cast<long long>(o.words[i]) - w) <
          std::llabs(static_cast<long long>(set) - w))
        set = o.words[i];
  }
  if (set != w && info) *info |= SANE_INFO_INEXACT;
  o.word = set;
  *static_cast<SANE_Word*>(value) = set;
  return SANE_STATUS_GOOD;
}

}  // namespace

// Only the entry points are visible; the library is built with hidden visibility.
#pragma GCC visibility push(default)
extern "C" {

SANE_Status sane_fault_init(SANE_Int* version, SANE_Auth_Callback) {
  if (version) *version = SANE_VERSION_CODE(1, 0, 0);
  devices.clear();
  load();
  return SANE_STATUS_GOOD;
}

void sane_fault_exit() {
  handles.clear();
  devices.clear();
  list.clear();
  list.shrink_to_fit();
}

SANE_Status sane_fault_get_devices(const SANE_Device*** out, SANE_Bool) {
  list.clear();
  for (auto& d : devices) {
    if (d->removed) continue;
    d->record = {d->name.c_str(), d->vendor.c_str(), d->model.c_str(), d->type.c_str()};
    list.push_back(&d->record);
  }
  list.push_back(nullptr);
  *out = list.data();
  return SANE_STATUS_GOOD;
}

SANE_Status sane_fault_open(SANE_String_Const name, SANE_Handle* out) {
  for (auto& d : devices) {
    if (d->removed || (name[0] && d->name != name)) continue;
    if (d->busy) return SANE_STATUS_DEVICE_BUSY;
    auto h = std::make_unique<Handle>();
    h->device = d.get();
    build(*h);
    *out = h.get();
    handles.push_back(std::move(h));
    return SANE_STATUS_GOOD;
  }
  return SANE_STATUS_INVAL;
}

void sane_fault_close(SANE_Handle handle) {
  std::erase_if(handles, [&](const auto& h) { return h.get() == handle; });
}

const SANE_Option_Descriptor* sane_fault_get_option_descriptor(SANE_Handle handle, SANE_Int n) {
  Handle* h = handleOf(handle);
  if (!h || n < 0 || n >= static_cast<SANE_Int>(h->options.size())) return nullptr;
  h->stale = false;
  return &h->options[static_cast<size_t>(n)].d;
}

SANE_Status sane_fault_control_option(SANE_Handle handle, SANE_Int n, SANE_Action action,
                                      void* value, SANE_Int* info) {
  Handle* h = handleOf(handle);
  if (info) *info = 0;
  if (!h || n < 0 || n >= static_cast<SANE_Int>(h->options.size()) || !value || h->stale)
    return SANE_STATUS_INVAL;
  Option& o = h->options[static_cast<size_t>(n)];
  if (action == SANE_ACTION_GET_VALUE) {
    if (o.d.type == SANE_TYPE_STRING)
      std::memcpy(value, o.text.c_str(), o.text.size() + 1);
    else
      *static_cast<SANE_Word*>(value) = o.word;
    return SANE_STATUS_GOOD;
  }
  if (action != SANE_ACTION_SET_VALUE || n == 0) return SANE_STATUS_INVAL;
  if (h->state == State::reading) return SANE_STATUS_DEVICE_BUSY;
  SANE_Status status = constrain(o, value, info);
  if (status != SANE_STATUS_GOOD) return status;
  if (info) *info |= SANE_INFO_RELOAD_PARAMS;
  const auto& reload = h->device->reload;
  if (std::find(reload.begin(), reload.end(), o.d.name) != reload.end()) {
    if (info) *info |= SANE_INFO_RELOAD_OPTIONS;
    h->stale = true;
  }
  return SANE_STATUS_GOOD;
}

SANE_Status sane_fault_get_parameters(SANE_Handle handle, SANE_Parameters* out) {
  Handle* h = handleOf(handle);
  if (!h || !out) return SANE_STATUS_INVAL;
  *out = h->state == State::reading || h->state == State::done ? h->params : parameters(*h);
  if (h->device->unknownLines) out->lines = -1;
  return SANE_STATUS_GOOD;
}

SANE_Status sane_fault_start(SANE_Handle handle) {
  Handle* h = handleOf(handle);
  if (!h || h->stale) return SANE_STATUS_INVAL;
  Device& d = *h->device;
  if (d.removed) return SANE_STATUS_IO_ERROR;
  if (h->state == State::reading) return SANE_STATUS_DEVICE_BUSY;
  h->state = State::idle;
  if (feeding(*h) && h->fed >= d.pages) return SANE_STATUS_NO_DOCS;
  ++h->page;
  if (feeding(*h)) ++h->fed;
  h->params = parameters(*h);
  long long announced = static_cast<long long>(h->params.bytes_per_line) * h->params.lines;
  h->total = std::max(0LL, announced + d.extra - d.shortBy);
  h->sent = 0;
  h->faultAt = -1;
  h->faultStatus = SANE_STATUS_GOOD;
  for (const Fault& f : d.faults) {
    if (f.page != h->page) continue;
    if (f.atStart) return f.status;
    h->faultStatus = f.status;
  }
  h->faultRemoves = d.removeAt == h->page;
  if (h->faultRemoves) h->faultStatus = SANE_STATUS_IO_ERROR;
  if (h->faultRemoves || h->faultStatus != SANE_STATUS_GOOD)
    h->faultAt = h->params.lines / 2 * static_cast<long long>(h->params.bytes_per_line);
  h->state = State::reading;
  return SANE_STATUS_GOOD;
}

SANE_Status sane_fault_read(SANE_Handle handle, SANE_Byte* data, SANE_Int max, SANE_Int* length) {
  Handle* h = handleOf(handle);
  if (length) *length = 0;
  if (!h || !data || !length || max < 0) return SANE_STATUS_INVAL;
  Device& d = *h->device;
  if (d.removed) return SANE_STATUS_IO_ERROR;
  if (h->state == State::cancelled) {
    h->state = State::idle;
    return SANE_STATUS_CANCELLED;
  }
  if (h->state == State::done) return SANE_STATUS_EOF;
  if (h->state != State::reading) return SANE_STATUS_INVAL;
  if (d.delayMs > 0) usleep(static_cast<useconds_t>(d.delayMs) * 1000);
  if (h->sent == h->faultAt) {
    h->state = State::idle;
    h->faultAt = -1;
    d.removed = h->faultRemoves;
    return h->faultStatus;
  }
  if (h->sent >= h->total) {
    h->state = State::done;
    return SANE_STATUS_EOF;
  }
  long long n = std::min<long long>(max, h->total - h->sent);
  if (d.chunk > 0) n = std::min(n, d.chunk);
  if (h->faultAt > h->sent) n = std::min(n, h->faultAt - h->sent);
  long long line = std::max(1, h->params.bytes_per_line);
  long long payload = h->params.bytes_per_line - d.padding;
  for (long long i = 0; i < n; ++i) {
    long long at = h->sent + i, x = at % line;
    data[i] = x >= payload ? 0 : static_cast<SANE_Byte>((x + at / line) & 0xff);
  }
  h->sent += n;
  *length = static_cast<SANE_Int>(n);
  return SANE_STATUS_GOOD;
}

void sane_fault_cancel(SANE_Handle handle) {
  Handle* h = handleOf(handle);
  if (h && h->state != State::idle) h->state = State::cancelled;
}

SANE_Status sane_fault_set_io_mode(SANE_Handle, SANE_Bool nonBlocking) {
  return nonBlocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

SANE_Status sane_fault_get_select_fd(SANE_Handle, SANE_Int*) { return SANE_STATUS_UNSUPPORTED; }

}  // extern "C"
#pragma GCC visibility pop
