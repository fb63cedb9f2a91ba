#pragma once

// The driver host's routing of qev's messages: a page file goes to the scan that waits for it
// (Link), `browse` starts the browsing once (held back while a session is open), and every
// other message goes to the core of the device it names, made when qev opens that device. The
// cores' SANE work is queued on the worker, in order; a cancel or a close also stops a running scan
// at once, from here.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "common/descriptor.h"
#include "common/wire.h"
#include "host/browsing.h"
#include "host/core.h"

namespace qev {

class Link;
class SaneWorker;

class Router {
 public:
  // What the router makes as qev asks: a core for each device that qev opens, and the
  // browsing when qev browses (`probe` and the scanner `wanted`, as `browse` says).
  // Replaceable so that the routing can be tested without SANE.
  struct Makers {
    std::function<std::shared_ptr<Core>(wire::DeviceInfo info)> core;
    std::function<std::unique_ptr<Browsing>(bool probe, const std::string& wanted)> listing;
  };
  // The real ones: a DeviceCore for each device, and a ProcessBrowsing of the backends of
  // SANE's configuration.
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
  void browse(const wire::Message& message);
  void toCore(wire::Message& message);

  Link& link;
  SaneWorker& worker;
  Makers makers;
  std::map<std::string, std::shared_ptr<Core>> cores;
  std::unique_ptr<Browsing> browsing;  // once qev has browsed
};

}  // namespace qev
