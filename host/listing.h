#pragma once

// One listing: asks one SANE backend for its devices and tells the host about each on
// `socket`: `added` with its record (the units its type suggests), then, when asked to probe,
// `units` for each device it could open to read its sources. It runs in a process of its own,
// which the lister (host/lister.h) forks for it, and whose SANE_CONFIG_DIR it changes: SANE
// reads its own configuration as ever, through its dll, with the folder `config` (see
// host/dll_config.h) before the user's, which names no backend but this one. So the devices
// keep the names of SANE's dll ("backend:device"), and the backend's own files come from the
// user's folders.

#include <string_view>

namespace qev {

class OneBackend;

// The listing of the backend of `config`, which it removes once SANE has read it; its exit
// status: 0 once the backend has listed.
int listBackend(int socket, const OneBackend& config, bool probe);

}  // namespace qev
