#include "host/listing.h"

#include <vector>

#include "host/habits.h"
#include "host/link.h"
#include "host/options.h"
#include "host/worker.h"

namespace qev {

namespace {

std::string text(SANE_String_Const s) { return s != nullptr ? s : std::string(); }

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
    info.transport = transportOf(info);
    info.displayName = nameOf(info);
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
