#include "discovery/record.h"

#include <algorithm>

namespace qev {

std::string identifier(const Device& scanner) {
  if (auto uuid = scanner.uuid()) return *uuid;
  return scanner.name().value_or("");
}

Event describe(const Device& scanner) {
  auto units = scanner.availableUnitTypes();
  auto offers = [&](UnitType type) {
    return std::find(units.begin(), units.end(), type) != units.end();
  };
  return {
      {"event", "device"},
      {"id", identifier(scanner)},
      {"name", scanner.name().value_or("Scanner")},
      {"transport", scanner.transport().value_or("")},
      {"feeder", offers(feederUnit)},
      {"flatbed", offers(flatbedUnit)},
  };
}

}  // namespace qev
