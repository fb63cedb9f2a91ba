#pragma once

// The driver host's routing of qev's messages: a page file goes to the scan that waits for it
// (Link), `browse` starts the listing once, and every other message goes to the core of the
// device it names, made when qev opens that device. The cores' SANE work is queued on the
// worker, in order; a cancel or a close also stops a running scan at once, from here.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "common/descriptor.h"
#include "common/wire.h"
#include "host/core.h"

namespace qev {

class Link;
class SaneWorker;

class Router {
 public:
  // What the router makes as qev asks: a core for each device that qev opens, and the
  // listing's poll (run on the worker at once, then now and then) when qev browses.
  // Replaceable so that the routing can be tested without SANE.
  struct Makers {
    std::function<std::shared_ptr<Core>(wire::DeviceInfo info)> core;
    std::function<std::function<void()>(bool probe)> listing;
  };
  // The real ones: a DeviceCore for each device, and a Listing.
  static Makers sane(Link& link, SaneWorker& worker);

  Router(Link& link, SaneWorker& worker, Makers makers)
      : link(link), worker(worker), makers(std::move(makers)) {}
  Router(Link& link, SaneWorker& worker) : Router(link, worker, sane(link, worker)) {}
  Router(const Router&) = delete;
  Router& operator=(const Router&) = delete;

  // Routes qev's messages until qev has gone or sends what no qev sends.
  void run();

 private:
  void route(wire::Message& message, Descriptor fd);
  void browse(bool probe);
  void toCore(wire::Message& message);

  Link& link;
  SaneWorker& worker;
  Makers makers;
  std::map<std::string, std::shared_ptr<Core>> cores;
  bool listing = false;  // the listing has started
};

}  // namespace qev
