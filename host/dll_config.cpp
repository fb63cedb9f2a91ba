#include "host/dll_config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace qev {

namespace {

namespace fs = std::filesystem;

constexpr const char* systemFolders[] = {".", "/etc/sane.d"};

// The backend a line of dll.conf names, if any: its first word, or the text between quotes,
// cut at a '#'.
std::optional<std::string> named(const std::string& line) {
  auto at = line.find_first_not_of(" \t\r\n\f\v");
  if (at == std::string::npos) return std::nullopt;
  std::string word;
  if (line[at] == '"') {
    auto close = line.find('"', at + 1);
    word = line.substr(at + 1, close == std::string::npos ? close : close - at - 1);
  } else {
    word = line.substr(at, line.find_first_of(" \t\r\n\f\v", at) - at);
  }
  if (word.empty() || word[0] == '#') return std::nullopt;
  word = word.substr(0, word.find('#'));
  if (word.empty()) return std::nullopt;
  return word;
}

// Adds the backends that the file `relative` names, read from the first folder that has it.
void readList(const std::vector<std::string>& folders, const std::string& relative,
              std::vector<std::string>& added) {
  for (const auto& folder : folders) {
    std::ifstream in(folder + "/" + relative);
    if (!in) continue;
    std::string line;
    while (std::getline(in, line)) {
      if (auto backend = named(line)) added.push_back(*backend);
    }
    return;
  }
}

// The files of the first folder's dll.d that SANE reads, in the order the folder lists them.
std::vector<std::string> dllDotD(const std::vector<std::string>& folders) {
  for (const auto& folder : folders) {
    std::error_code error;
    fs::directory_iterator dir(folder + "/dll.d", error);
    if (error) continue;
    std::vector<std::string> files;
    for (const auto& entry : dir) {
      std::string name = entry.path().filename();
      if (name.empty() || name[0] == '.' || name.back() == '~' || name.back() == '#') continue;
      if (!entry.is_regular_file(error)) continue;
      files.push_back("dll.d/" + name);
    }
    return files;
  }
  return {};
}

}  // namespace

std::vector<std::string> configFolders(const std::optional<std::string>& value) {
  std::vector<std::string> folders;
  if (!value) return {std::begin(systemFolders), std::end(systemFolders)};
  std::string rest = *value;
  bool system = !rest.empty() && rest.back() == ':';
  if (system) rest.pop_back();
  std::size_t at = 0;
  while (!rest.empty() && at <= rest.size()) {
    auto colon = rest.find(':', at);
    if (colon == std::string::npos) colon = rest.size();
    if (colon > at) folders.push_back(rest.substr(at, colon - at));
    at = colon + 1;
  }
  if (system) folders.insert(folders.end(), std::begin(systemFolders), std::end(systemFolders));
  return folders;
}

std::vector<std::string> dllBackends(const std::vector<std::string>& folders) {
  std::vector<std::string> added;
  for (const auto& file : dllDotD(folders)) readList(folders, file, added);
  readList(folders, "dll.conf", added);
  // dll puts each backend in front of those before it, and one named again in front anew.
  std::vector<std::string> order;
  std::set<std::string> seen;
  for (auto it = added.rbegin(); it != added.rend(); ++it) {
    if (seen.insert(*it).second) order.push_back(*it);
  }
  return order;
}

std::string configBefore(const std::string& first, const std::optional<std::string>& value) {
  // Without the variable SANE searches the system folders, which a trailing ':' adds.
  if (!value) return first + ":";
  if (value->empty()) return first;
  return first + ":" + *value;
}

OneBackend::OneBackend(const std::string& backend) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qev-list-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return;
  std::ofstream conf(pattern + "/dll.conf");
  conf << '"' << backend << "\"\n";
  conf.close();
  bool whole = conf.good() && ::mkdir((pattern + "/dll.d").c_str(), 0700) == 0;
  path = pattern;
  if (!whole) {
    remove();
    path.clear();
  }
}

void OneBackend::remove() const {
  if (path.empty()) return;
  ::unlink((path + "/dll.conf").c_str());
  ::rmdir((path + "/dll.d").c_str());
  ::rmdir(path.c_str());
}

std::optional<std::string> configValue() {
  const char* value = std::getenv("SANE_CONFIG_DIR");
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace qev
