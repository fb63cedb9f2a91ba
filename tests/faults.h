#pragma once

// Helpers of the fault suite: the pages a folder holds after a run, whether a page file is a
// whole JPEG image, what a run has done so far, and a disk that fills up.

#include <cstddef>
#include <string>
#include <vector>

#include "testing/run.h"
#include "testing/temp_dir.h"

namespace qevtest {

// The names in `folder` that are page file names (QEV_..._NNNN.jpg).
std::vector<std::string> pagesIn(const std::string& folder);

// Whether the file at `path` is a whole JPEG image: it opens with the start-of-image marker
// and closes with the end-of-image marker, which a cut-off file lacks.
bool wholeJpeg(const std::string& path);

// How many files in `folder` are not whole JPEG images.
int incompleteIn(const std::string& folder);

// How many files in `folder` hold data but are not whole JPEG images: pages cut off while
// they were written.
int partlyWrittenIn(const std::string& folder);

// The `page` events among the lines a run has written so far.
std::size_t pagesSoFar(const Run& sofar);

// Whether a page is being written in the output folder `out`: a file in its staging folder
// holds data (the first band of a page is written once its lines have been read).
bool pageInFlight(const std::string& out);

// Whether the fault backend's record file at `path` holds `line`.
bool recorded(const std::string& path, const std::string& line);

// Whether this process may make namespaces and mount file systems (CI runs as root).
bool mayMount();

// Options that run qev in a private mount namespace with a tmpfs of `bytes` mounted on
// `mountPoint`; once qev has ended, the tmpfs's contents are copied to `keep`, where the
// test can look at them (the mount goes away with the namespace). Both folders are made
// here. A run whose status is 99 could not mount the tmpfs.
Options onSmallDisk(const std::string& mountPoint, const std::string& keep, long bytes);

// A tmpfs mounted on `point` (made here) with the mount `options` ("size=64k",
// "nr_inodes=16"), read-only when asked, for one test: unmounted when this goes away. Not
// mounted where this process may not mount (not root).
class Tmpfs {
 public:
  Tmpfs(const std::string& point, const std::string& options, bool readOnly = false);
  ~Tmpfs();
  Tmpfs(const Tmpfs&) = delete;
  Tmpfs& operator=(const Tmpfs&) = delete;
  bool mounted() const { return done; }

 private:
  std::string point;
  bool done = false;
};

// The run failed as qev fails: status 1, nothing on standard error, and last the `error`
// event with `code` and `message`. Fatal failures; callers wrap it in ASSERT_NO_FATAL_FAILURE.
void expectFailed(const Run& run, const std::string& code, const std::string& message);

// An output folder a caller may pass, and what a run given it must do.
struct HostilePath {
  std::string name;
  std::string out;      // as given on the command line
  std::string message;  // empty: the page lands
  std::string shown;    // the folder in the event, when not `out` itself
};

// Lays out in `dir` what hostile paths lead to: a folder `target`, a symbolic link `link` to
// it and a plain file `plain`.
void plantHostileFolders(const TempDir& dir);

// After the runs: one page went through `link` into `target`, and `plain` is as it was.
void expectHostileFoldersKept(const TempDir& dir);

}  // namespace qevtest
