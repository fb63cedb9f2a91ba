#pragma once

// Which backends SANE's dll loads, read from SANE's own configuration by SANE's own rules, so
// that each can be listed in a process of its own (host/browsing.h) without the user
// configuring anything new. As libsane 1.2 does it:
// - The folders are those of SANE_CONFIG_DIR, separated by ':'; a value that ends in ':' adds
//   "." and /etc/sane.d after them, and without the variable they are "." and /etc/sane.d.
// - The backends are those named in the files of the first folder's `dll.d/` that exists
//   (each file read from the first folder that has `dll.d/<file>`; files whose names begin
//   with '.' or end in '~' or '#' are skipped), then those of the first `dll.conf` found.
//   A line names a backend by its first word (quotes allowed); '#' starts a comment.
// - dll asks them for devices in the reverse order of those lines, a backend named twice
//   where it was named last.
//
// Nothing here calls SANE; the functions only read files, but for OneBackend.

#include <optional>
#include <string>
#include <vector>

namespace qev {

// The configuration folders, in the order SANE searches them, for SANE_CONFIG_DIR's value
// (none: the variable is not set).
std::vector<std::string> configFolders(const std::optional<std::string>& value);

// The backends SANE's dll loads from `folders`, in the order it asks them for devices, each
// once.
std::vector<std::string> dllBackends(const std::vector<std::string>& folders);

// The value of SANE_CONFIG_DIR that has SANE search `first` before the folders of `value`
// (SANE_CONFIG_DIR's value, none when it is not set), and otherwise as `value` does.
std::string configBefore(const std::string& first, const std::optional<std::string>& value);

// SANE_CONFIG_DIR's value in this process, none when it is not set.
std::optional<std::string> configValue();

// A configuration folder of qev's own (in TMPDIR, or /tmp) whose dll.conf names `backend`
// alone and whose empty dll.d hides the user's: searched before the user's folders
// (configBefore), it has SANE's dll load that backend and no other, while every other file
// (the backend's own configuration, dll.aliases) still comes from the user's folders. It is
// removed when the object goes away, or before.
class OneBackend {
 public:
  explicit OneBackend(const std::string& backend);
  ~OneBackend() { remove(); }
  OneBackend(const OneBackend&) = delete;
  OneBackend& operator=(const OneBackend&) = delete;

  // The folder; empty when it could not be made whole.
  const std::string& folder() const { return path; }
  // Removes the folder now (another process may have removed it already).
  void remove() const;

 private:
  std::string path;
};

}  // namespace qev
