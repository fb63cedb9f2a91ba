#include "options.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fault {
namespace {

// A Letter page, the default page size of fujitsu and canon_dr feeders.
constexpr double letterWidth = 215.9, letterHeight = 279.4;  // mm

bool contains(const std::string& s, const char* word) {
  return strcasestr(s.c_str(), word) != nullptr;
}

bool isFlatbed(const std::string& source) {
  return contains(source, "flat") || contains(source, "normal") || contains(source, "table");
}

bool isColour(const std::string& mode) {
  return contains(mode, "color") || contains(mode, "colour");
}

bool isLineart(const std::string& mode) {
  return contains(mode, "lineart") || contains(mode, "binary") || contains(mode, "halftone");
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

void addShape(Handle& h, const Shape& shape) {
  if (shape.type == SANE_TYPE_STRING) return addStrings(h, shape.name.c_str(), shape.strings);
  Option& o = add(h, shape.name.c_str(), shape.type, shape.unit);
  if (shape.type == SANE_TYPE_BOOL) {
    o.word = shape.on ? SANE_TRUE : SANE_FALSE;
    return;
  }
  auto word = [&](double v) {
    return shape.type == SANE_TYPE_FIXED ? SANE_FIX(v) : static_cast<SANE_Word>(std::lround(v));
  };
  if (shape.range) {
    o.range = {word(shape.values[0]), word(shape.values[1]), word(shape.values[2])};
    o.d.constraint_type = SANE_CONSTRAINT_RANGE;
    o.d.constraint.range = &o.range;
  } else {
    o.words.push_back(static_cast<SANE_Word>(shape.values.size()));
    for (double v : shape.values) o.words.push_back(word(v));
    o.d.constraint_type = SANE_CONSTRAINT_WORD_LIST;
    o.d.constraint.word_list = o.words.data();
  }
  o.word = word(shape.values[0]);
}

void addLength(Handle& h, const char* name, double max, double value) {
  Option& o = add(h, name, SANE_TYPE_FIXED, SANE_UNIT_MM);
  o.range = {0, SANE_FIX(max), 0};
  o.d.constraint_type = SANE_CONSTRAINT_RANGE;
  o.d.constraint.range = &o.range;
  o.word = SANE_FIX(value);
}

double number(const Handle& h, const char* name, double otherwise) {
  const Option* o = find(h, name);
  if (!o) return otherwise;
  return o->d.type == SANE_TYPE_FIXED ? SANE_UNFIX(o->word) : o->word;
}

struct Size {
  double width, height;  // mm
};

Size feederArea(const Device& d) {
  return {d.feederWidth >= 0 ? d.feederWidth : d.width,
          d.feederHeight >= 0 ? d.feederHeight : d.height};
}

// The ranges of the area options for the current source (and page size, on a feeder).
Size bounds(const Handle& h) {
  const Device& d = *h.device;
  if (!feeding(h)) return {d.width, d.height};
  if (d.pageSize) return {number(h, "page-width", 0), number(h, "page-height", 0)};
  return feederArea(d);
}

void activate(Option& o, bool active) {
  if (active)
    o.d.cap &= ~SANE_CAP_INACTIVE;
  else
    o.d.cap |= SANE_CAP_INACTIVE;
}

// Brings ranges and activity in line with the current values of the other options.
void refresh(Handle& h) {
  Size b = bounds(h);
  const std::pair<const char*, double> area[] = {
      {"tl-x", b.width}, {"tl-y", b.height}, {"br-x", b.width}, {"br-y", b.height}};
  for (const auto& [name, max] : area)
    if (Option* o = find(h, name)) o->range.max = SANE_FIX(max);
  for (const char* name : {"page-width", "page-height"})
    if (Option* o = find(h, name)) activate(*o, feeding(h));
  if (Option* depth = find(h, "depth")) {
    const Option* mode = find(h, "mode");
    activate(*depth, !(mode && isLineart(mode->text)));
  }
}

enum class Place { keep, clamp, reset, maximise };

// Moves the area values after their ranges changed: into the ranges, back to their defaults
// (`default-area` or the whole range), or to the whole range.
void place(Handle& h, Place how) {
  const Device& d = *h.device;
  Size b = bounds(h);
  const struct {
    const char* name;
    double initial;
  } area[] = {{"tl-x", 0},
              {"tl-y", 0},
              {"br-x", d.defaultWidth >= 0 ? d.defaultWidth : b.width},
              {"br-y", d.defaultHeight >= 0 ? d.defaultHeight : b.height}};
  for (const auto& a : area) {
    Option* o = find(h, a.name);
    if (!o || how == Place::keep) continue;
    bool corner = a.name[0] == 't';
    if (how == Place::clamp) o->word = std::min(o->word, o->range.max);
    if (how == Place::reset) o->word = SANE_FIX(a.initial);
    if (how == Place::maximise) o->word = corner ? 0 : o->range.max;
  }
}

// What the other options show; a change means the frontend must fetch them again.
struct Look {
  SANE_Int cap;
  SANE_Word min, max, quant, word;
  std::string text;
  bool operator==(const Look&) const = default;
};

std::vector<Look> looks(const Handle& h, const Option* except) {
  std::vector<Look> all;
  for (const auto& o : h.options)
    if (&o != except)
      all.push_back({o.d.cap, o.range.min, o.range.max, o.range.quant, o.word, o.text});
  return all;
}

// The effects of `o` having changed from `before` (its text); true when they always answer
// RELOAD_OPTIONS, as real backends do for these options.
bool effects(Handle& h, const Option& o, const std::string& before) {
  std::string_view name = o.d.name;
  refresh(h);
  if (name == "source") {
    if (o.text != before) {
      static const Place places[] = {Place::keep, Place::reset, Place::maximise};
      place(h, places[static_cast<int>(h.device->sourceChange)]);
    }
    return h.device->sourceDependent;
  }
  if (name == "page-width" || name == "page-height") {
    place(h, Place::clamp);
    return true;
  }
  return false;
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

void build(Handle& h) {
  const Device& d = *h.device;
  Option& count = add(h, "", SANE_TYPE_INT, SANE_UNIT_NONE);
  count.d.title = "Number of options";
  count.d.desc = "Read-only option that gives the number of options.";
  count.d.cap = SANE_CAP_SOFT_DETECT;
  addStrings(h, "source", d.sources);
  if (d.duplex) add(h, "duplex", SANE_TYPE_BOOL, SANE_UNIT_NONE).word = SANE_FALSE;
  addStrings(h, "mode", d.modes);
  if (d.depths) addShape(h, *d.depths);
  if (d.resolution) addShape(h, *d.resolution);
  if (d.pageSize) {
    Size feeder = feederArea(d);
    addLength(h, "page-width", feeder.width, std::min(letterWidth, feeder.width));
    addLength(h, "page-height", feeder.height, std::min(letterHeight, feeder.height));
  }
  if (d.hasArea)
    for (const char* name : {"tl-x", "tl-y", "br-x", "br-y"}) addLength(h, name, 0, 0);
  for (const auto& shape : d.extras) addShape(h, shape);
  count.word = static_cast<SANE_Word>(h.options.size());
  refresh(h);
  place(h, Place::reset);
  for (auto& o : h.options) {
    o.initialWord = o.word;
    o.initialText = o.text;
  }
}

Option* find(Handle& h, std::string_view name) {
  for (auto& o : h.options)
    if (name == o.d.name) return &o;
  return nullptr;
}

const Option* find(const Handle& h, std::string_view name) {
  for (const auto& o : h.options)
    if (name == o.d.name) return &o;
  return nullptr;
}

bool feeding(const Handle& h) {
  if (h.device->sheetFed) return true;
  const Option* source = find(h, "source");
  return source ? !isFlatbed(source->text) : h.device->type == "sheetfed scanner";
}

bool duplexing(const Handle& h) {
  if (!feeding(h)) return false;
  const Option* source = find(h, "source");
  const Option* mode = find(h, "adf-mode");
  const Option* duplex = find(h, "duplex");
  return (source && contains(source->text, "duplex")) ||
         (mode && mode->d.type == SANE_TYPE_STRING && contains(mode->text, "duplex")) ||
         (duplex && duplex->d.type == SANE_TYPE_BOOL && duplex->word == SANE_TRUE);
}

SANE_Status set(Handle& h, Option& o, void* value, SANE_Int* info) {
  if (o.d.cap & SANE_CAP_INACTIVE) return SANE_STATUS_INVAL;
  auto before = looks(h, &o);
  std::string text = o.text;
  SANE_Status status = constrain(o, value, info);
  if (status != SANE_STATUS_GOOD) return status;
  bool reload = effects(h, o, text);
  for (const auto& [first, second] : h.device->resets) {
    Option* other = first == o.d.name ? find(h, second) : nullptr;
    if (!other) continue;
    text = other->text;
    other->word = other->initialWord;
    other->text = other->initialText;
    effects(h, *other, text);
    reload = true;
  }
  if (info) {
    *info |= SANE_INFO_RELOAD_PARAMS;
    if (reload || looks(h, &o) != before) *info |= SANE_INFO_RELOAD_OPTIONS;
  }
  return SANE_STATUS_GOOD;
}

std::string shown(const Option& o, const void* value) {
  if (o.d.type == SANE_TYPE_STRING) return static_cast<const char*>(value);
  SANE_Word w = *static_cast<const SANE_Word*>(value);
  if (o.d.type != SANE_TYPE_FIXED) return std::to_string(w);
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", SANE_UNFIX(w));
  std::string s = text;
  s.erase(s.find_last_not_of('0') + 1);
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

std::string shown(const Option& o) {
  return o.d.type == SANE_TYPE_STRING ? o.text : shown(o, &o.word);
}

SANE_Parameters parameters(const Handle& h, bool started) {
  const Device& d = *h.device;
  const Option* mode = find(h, "mode");
  const Option* depth = find(h, "depth");
  bool rgb = d.frame.empty() ? mode && isColour(mode->text) : d.frame == "rgb";
  int bits = d.depth                                        ? d.depth
             : depth && !(depth->d.cap & SANE_CAP_INACTIVE) ? depth->word
             : mode && isLineart(mode->text)                ? 1
                                                            : 8;
  long long x = d.sizeX, y = d.sizeY;
  if (started && d.afterX >= 0) {
    x = d.afterX;
    y = d.afterY;
  } else if (x < 0 || y < 0) {
    double dpi = number(h, "resolution", 100) / 25.4;
    x = std::llround((number(h, "br-x", d.width) - number(h, "tl-x", 0)) * dpi);
    y = std::llround((number(h, "br-y", d.height) - number(h, "tl-y", 0)) * dpi);
  }
  // Huge sizes are clamped to what SANE_Int holds, never wrapped.
  auto clamp = [](long long v) { return static_cast<SANE_Int>(std::clamp(v, 0LL, 0x7fffffffLL)); };
  SANE_Parameters p{};
  p.format = rgb ? SANE_FRAME_RGB : SANE_FRAME_GRAY;
  p.last_frame = SANE_TRUE;
  p.depth = bits;
  p.pixels_per_line = clamp(x);
  p.lines = clamp(y);
  p.bytes_per_line = clamp((clamp(x) * (rgb ? 3LL : 1LL) * bits + 7) / 8 + d.padding);
  return p;
}

}  // namespace fault
