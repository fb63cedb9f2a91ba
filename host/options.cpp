#include "host/options.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "host/text.h"

namespace qev {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::optional<std::string> firstWith(const std::vector<std::string>& entries,
                                     std::initializer_list<std::string_view> exact,
                                     std::initializer_list<std::string_view> parts) {
  for (const auto& e : entries) {
    std::string l = lower(e);
    for (auto x : exact) {
      if (l == x) return e;
    }
  }
  for (const auto& e : entries) {
    std::string l = lower(e);
    for (auto p : parts) {
      if (contains(l, p)) return e;
    }
  }
  return std::nullopt;
}

}  // namespace

SourceKind sourceKind(std::string_view source) {
  std::string s = lower(source);
  if (contains(s, "duplex")) return SourceKind::duplex;
  if (contains(s, "adf") || contains(s, "feeder") || contains(s, "automatic document") ||
      contains(s, "sheet")) {
    return SourceKind::feeder;
  }
  if (contains(s, "flatbed") || contains(s, "flat bed") || s == "normal" ||
      contains(s, "document table") || contains(s, "platen") || contains(s, "glass")) {
    return SourceKind::flatbed;
  }
  return SourceKind::other;
}

Sources sortSources(const std::vector<std::string>& entries) {
  Sources sources;
  for (const auto& e : entries) {
    switch (sourceKind(e)) {
      case SourceKind::flatbed:
        if (!sources.flatbed) sources.flatbed = e;
        break;
      case SourceKind::feeder:
        if (!sources.feeder) sources.feeder = e;
        break;
      case SourceKind::duplex:
        if (!sources.duplex) sources.duplex = e;
        break;
      case SourceKind::other:
        break;
    }
  }
  if (!sources.feeder) sources.feeder = sources.duplex;
  return sources;
}

std::vector<UnitType> unitTypes(const std::optional<Sources>& sources, std::string_view type) {
  std::vector<UnitType> units;
  if (sources) {
    if (sources->flatbed) units.push_back(flatbedUnit);
    if (sources->feeder) units.push_back(feederUnit);
  }
  if (!units.empty()) return units;
  std::string t = lower(type);
  bool feeder = contains(t, "sheetfed") || contains(t, "sheet-fed") || contains(t, "adf");
  if (contains(t, "flatbed") || !feeder) units.push_back(flatbedUnit);
  if (feeder) units.push_back(feederUnit);
  return units;
}

std::optional<std::string> adfMode(const std::vector<std::string>& modes, bool duplex) {
  for (const auto& m : modes) {
    if (contains(lower(m), "duplex") == duplex) return m;
  }
  return std::nullopt;
}

double atLeast(double current, std::pair<double, double> range, double wanted) {
  return std::clamp(std::max(current, wanted), range.first, std::max(range.first, range.second));
}

std::optional<std::string> modeFor(const std::vector<std::string>& modes, PixelType pixelType) {
  auto gray = [&] { return firstWith(modes, {"gray", "grey"}, {"gray", "grey"}); };
  switch (pixelType) {
    case PixelType::rgb:
      if (auto m = firstWith(modes, {"color", "colour"}, {"color", "colour", "rgb"})) return m;
      return gray();
    case PixelType::gray:
      return gray();
    case PixelType::blackAndWhite:
      if (auto m =
              firstWith(modes, {"lineart", "binary"}, {"lineart", "line art", "binary", "black"})) {
        return m;
      }
      return gray();
    default:
      return std::nullopt;
  }
}

Resolutions resolutionsOf(const SANE_Option_Descriptor& option) {
  Resolutions out;
  bool fixed = option.type == SANE_TYPE_FIXED;
  if (option.type != SANE_TYPE_INT && !fixed) return out;
  auto value = [&](SANE_Word w) { return fixed ? SANE_UNFIX(w) : static_cast<double>(w); };
  switch (option.constraint_type) {
    case SANE_CONSTRAINT_WORD_LIST: {
      const SANE_Word* list = option.constraint.word_list;
      for (SANE_Word i = 1; i <= list[0]; ++i) {
        out.add(static_cast<std::int64_t>(std::llround(value(list[i]))));
      }
      break;
    }
    case SANE_CONSTRAINT_RANGE: {
      const SANE_Range* r = option.constraint.range;
      double min = value(r->min), max = value(r->max), quant = value(r->quant);
      // A step of 0 allows every value; a fractional step allows every integer.
      std::int64_t step = quant >= 1 && quant == std::floor(quant) ? std::llround(quant) : 1;
      out.add(static_cast<std::int64_t>(std::ceil(min)), static_cast<std::int64_t>(std::floor(max)),
              step);
      break;
    }
    default:
      out.add(1, 65535);
  }
  return out;
}

void SaneOptions::reload() {
  entries.clear();
  const SANE_Option_Descriptor* first = sane_get_option_descriptor(handle, 0);
  SANE_Int count = 0;
  if (first == nullptr ||
      sane_control_option(handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) {
    return;
  }
  for (SANE_Int i = 1; i < count; ++i) {
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, i);
    if (d != nullptr && d->name != nullptr) entries.push_back({i, d});
  }
}

const SaneOptions::Entry* SaneOptions::entry(std::string_view name) const {
  for (const auto& e : entries) {
    if (name == e.descriptor->name) return &e;
  }
  return nullptr;
}

const SANE_Option_Descriptor* SaneOptions::find(std::string_view name) const {
  const Entry* e = entry(name);
  return e ? e->descriptor : nullptr;
}

const SANE_Option_Descriptor* SaneOptions::settable(std::string_view name) const {
  const SANE_Option_Descriptor* d = find(name);
  if (d == nullptr || !SANE_OPTION_IS_ACTIVE(d->cap) || !SANE_OPTION_IS_SETTABLE(d->cap)) {
    return nullptr;
  }
  return d;
}

std::optional<std::vector<std::string>> SaneOptions::strings(std::string_view name) const {
  const SANE_Option_Descriptor* d = find(name);
  if (d == nullptr || d->type != SANE_TYPE_STRING ||
      d->constraint_type != SANE_CONSTRAINT_STRING_LIST) {
    return std::nullopt;
  }
  std::vector<std::string> out;
  for (const SANE_String_Const* s = d->constraint.string_list; *s != nullptr; ++s) {
    out.emplace_back(*s);
  }
  return out;
}

std::optional<std::pair<double, double>> SaneOptions::range(std::string_view name) const {
  const SANE_Option_Descriptor* d = find(name);
  if (d == nullptr || d->constraint_type != SANE_CONSTRAINT_RANGE) return std::nullopt;
  const SANE_Range* r = d->constraint.range;
  if (d->type == SANE_TYPE_FIXED) return std::pair{SANE_UNFIX(r->min), SANE_UNFIX(r->max)};
  if (d->type == SANE_TYPE_INT) {
    return std::pair{static_cast<double>(r->min), static_cast<double>(r->max)};
  }
  return std::nullopt;
}

std::optional<double> SaneOptions::number(std::string_view name) {
  const Entry* e = entry(name);
  if (e == nullptr || !SANE_OPTION_IS_ACTIVE(e->descriptor->cap) ||
      e->descriptor->size != static_cast<SANE_Int>(sizeof(SANE_Word))) {
    return std::nullopt;
  }
  SANE_Word w = 0;
  SANE_Value_Type type = e->descriptor->type;
  if (control(*e, SANE_ACTION_GET_VALUE, &w) != SANE_STATUS_GOOD) return std::nullopt;
  return type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : static_cast<double>(w);
}

SANE_Status SaneOptions::setString(std::string_view name, const std::string& value) {
  const Entry* e = entry(name);
  if (e == nullptr || e->descriptor->type != SANE_TYPE_STRING) return SANE_STATUS_UNSUPPORTED;
  std::vector<char> buffer(
      std::max<std::size_t>(static_cast<std::size_t>(e->descriptor->size), value.size() + 1), '\0');
  std::copy(value.begin(), value.end(), buffer.begin());
  return control(*e, SANE_ACTION_SET_VALUE, buffer.data());
}

SANE_Status SaneOptions::setNumber(std::string_view name, double value) {
  const Entry* e = entry(name);
  if (e == nullptr || e->descriptor->size != static_cast<SANE_Int>(sizeof(SANE_Word))) {
    return SANE_STATUS_UNSUPPORTED;
  }
  SANE_Word w;
  switch (e->descriptor->type) {
    case SANE_TYPE_FIXED:
      w = SANE_FIX(value);
      break;
    case SANE_TYPE_INT:
      w = static_cast<SANE_Word>(std::lround(value));
      break;
    case SANE_TYPE_BOOL:
      w = value != 0 ? SANE_TRUE : SANE_FALSE;
      break;
    default:
      return SANE_STATUS_UNSUPPORTED;
  }
  return control(*e, SANE_ACTION_SET_VALUE, &w);
}

SANE_Status SaneOptions::control(const Entry& e, SANE_Action action, void* value) {
  SANE_Int info = 0;
  SANE_Status status = sane_control_option(handle, e.index, action, value, &info);
  if (status == SANE_STATUS_GOOD && (info & SANE_INFO_RELOAD_OPTIONS) != 0) reload();
  return status;
}

}  // namespace qev
