#include "host/listing.h"

#include <vector>

#include "host/habits.h"
#include "host/link.h"
#include "host/options.h"
#include "host/worker.h"

namespace qev {

namespace {

std::string text(SANE_String_Const s) { return s != nullptr ? s : std::string(); }

// Which backends `list` may open to read a device's source list. Opening a scanner claims it
// (every other program's open answers busy meanwhile), and some backends act on the hardware
// or wait for it when opened; those are never probed, and their devices' units are guessed
// from the type string of SANE's listing (unitTypes), as are those of a probe that fails or
// finds the device busy. A backend that is not named here is not probed.
struct ProbeRule {
  std::string_view backend;
  bool probe;
  std::string_view why;
};
constexpr ProbeRule probeRules[] = {
    {"test", true, "a virtual device"},
    {"fault", true, "our own test backend"},
    {"fujitsu", true, "claims the device and sends a few commands, without delay"},
    {"canon_dr", true, "claims the device and sends a few commands, without delay"},
    {"xerox_mfp", true, "claims the device and sends a few commands, without delay"},
    {"kodakaio", true, "claims the device and sends a few commands, without delay"},
    {"escl", true, "one HTTP request for the capabilities"},
    {"airscan", true, "one HTTP request once its first discovery has run (up to 20 s)"},
    {"pixma", true, "re-runs its network discovery (at least 0.5 s), then claims the device"},
    {"epson2", false, "network models open a session, take a lock and sleep 1 s"},
    {"epsonds", false,
     "network models open a session, take a lock and sleep 1 s; closing may "
     "retry for up to 50 s"},
    {"genesys", false,
     "boots the chip and moves the head home on every open; closing ejects "
     "the sheet of a sheet-fed model and turns the lamp off"},
    {"plustek", false, "resets the chip and moves the head home (already while listing)"},
    {"avision", false,
     "waits for the device for 1 to 10 s; film scanners calibrate and move "
     "home"},
    {"hp5590", false,
     "its listing already holds the device open; an open wakes the scanner, "
     "up to 90 s"},
    {"net", false, "the remote saned opens the remote backend's device, with all the above"},
    {"hpaio", false, "what its open does to the device is not known"},
    {"brother3", false, "what its open does to the device is not known"},
};

// The functional units of a device, learnt by opening it briefly to read its source list.
std::vector<UnitType> probeUnits(const wire::DeviceInfo& info) {
  SANE_Handle h = nullptr;
  if (sane_open(info.name.c_str(), &h) != SANE_STATUS_GOOD) {
    return unitTypes(std::nullopt, info.type);
  }
  std::optional<Sources> sources;
  {
    SaneOptions options(h);
    if (auto list = options.strings("source")) sources = sortSources(*list);
  }
  sane_close(h);
  return unitTypes(sources, info.type);
}

}  // namespace

bool probeSafe(std::string_view name) {
  std::string_view backend = backendOf(name);
  for (const auto& rule : probeRules) {
    if (rule.backend == backend) return rule.probe;
  }
  return false;
}

void Listing::poll() {
  // Probing for devices can disturb a scanner in use.
  if (worker.openSessions > 0) return;
  const SANE_Device** list = nullptr;
  if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || list == nullptr) return;
  // Copied first: the list is SANE's, and opening a device may change it.
  std::vector<wire::DeviceInfo> now;
  for (; *list != nullptr; ++list) {
    const SANE_Device& d = **list;
    if (d.name == nullptr) continue;
    now.push_back(
        {.name = d.name, .vendor = text(d.vendor), .model = text(d.model), .type = text(d.type)});
  }
  // Stable identities, where they can be derived. Two devices that would share one (twin
  // units without serial numbers) keep their SANE names instead: a stored identifier must
  // never open the wrong one of them.
  std::vector<Listed> listed;
  for (auto& info : now) {
    info.uuid = identities.uuid(info.name);
    listed.push_back({info.name, info.uuid});
  }
  for (auto& info : now) {
    if (info.uuid && choose(listed, *info.uuid).match == Match::several) info.uuid.reset();
  }
  std::set<std::string> seen;
  std::vector<wire::DeviceInfo> fresh;
  for (auto& info : now) {
    if (!seen.insert(info.name).second || known.count(info.name) > 0) continue;
    // Every device is told at once with the units its type suggests, so that nobody waits
    // for the probes; a probe corrects them afterwards.
    info.units = unitTypes(std::nullopt, info.type);
    link.send({.kind = wire::Kind::added, .device = info.name, .info = info});
    fresh.push_back(std::move(info));
  }
  for (const auto& name : known) {
    if (seen.count(name) == 0) link.send(wire::Kind::removed, name);
  }
  known = std::move(seen);
  if (!probe) return;
  for (auto& info : fresh) {
    if (!probeSafe(info.name)) continue;
    info.units = probeUnits(info);
    link.send({.kind = wire::Kind::units, .device = info.name, .info = info});
  }
}

}  // namespace qev
