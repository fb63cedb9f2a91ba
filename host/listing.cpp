#include "host/listing.h"

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "common/wire.h"
#include "host/dll_config.h"
#include "host/habits.h"
#include "host/identity.h"
#include "host/options.h"

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

int listBackend(int socket, const OneBackend& config, bool probe) {
  // dll reads its own files in sane_init: then the folder is of no more use.
  ::setenv("SANE_CONFIG_DIR", configBefore(config.folder(), configValue()).c_str(), 1);
  SANE_Int version = 0;
  const bool initialised = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
  config.remove();
  if (!initialised) return 1;
  const SANE_Device** list = nullptr;
  if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || list == nullptr) return 1;
  // Copied first: the list is SANE's, and opening a device may change it.
  std::vector<wire::DeviceInfo> now;
  std::set<std::string> seen;
  for (; *list != nullptr; ++list) {
    const SANE_Device& d = **list;
    if (d.name == nullptr || !seen.insert(d.name).second) continue;
    now.push_back(
        {.name = d.name, .vendor = text(d.vendor), .model = text(d.model), .type = text(d.type)});
  }
  // Stable identities, where they can be derived. Two devices that would share one (twin
  // units without serial numbers, which one backend lists) keep their SANE names instead: a
  // stored identifier must never open the wrong one of them.
  Identities identities("/sys");
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
  for (auto& info : now) {
    // Every device is told at once with the units its type suggests, so that nobody waits
    // for the probes; a probe corrects them afterwards.
    info.units = unitTypes(std::nullopt, info.type);
    wire::send(socket, {.kind = wire::Kind::added, .device = info.name, .info = info});
  }
  if (!probe) return 0;
  for (auto& info : now) {
    if (!probeSafe(info.name)) continue;
    info.units = probeUnits(info);
    wire::send(socket, {.kind = wire::Kind::units, .device = info.name, .info = info});
  }
  return 0;
}

}  // namespace qev
