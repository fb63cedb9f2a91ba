#pragma once

// Listing in the driver host: asks SANE for its devices now and then and tells qev what
// came and went. Worker thread only.

#include <set>
#include <string>

#include "common/wire.h"
#include "host/identity.h"

namespace qev {

class Link;
class SaneWorker;

class Listing {
 public:
  // `probe`: open the devices whose backends open quickly and harmlessly, to learn their
  // units from their source lists; every other device's units are guessed from its type.
  // USB devices get stable identities from the sysfs tree at `sysfs`.
  Listing(Link& link, SaneWorker& worker, bool probe, std::string sysfs = "/sys")
      : link(link), worker(worker), probe(probe), identities(std::move(sysfs)) {}

  void poll();

 private:
  Link& link;
  SaneWorker& worker;
  bool probe;
  Identities identities;
  std::set<std::string> known;
};

}  // namespace qev
