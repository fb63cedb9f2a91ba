#pragma once

// Turns the image data of a scan into JPEG page files on a thread of its own, so that the
// thread reading the scanner never waits for compression: a scanner that is not read in time
// stalls its motor. The reader hands over buffers as it fills them; a fixed number of them
// may wait at once. The lines go on to a BandEncoder, which compresses bands of them on every
// processor and writes them out as they are done, so memory does not grow with the page, even
// for frames of unknown height. Only the separate red, green and blue frames of a three-pass
// scanner are kept until the page ends, since a line needs every colour before it is encoded.
//
// A page has exactly the lines that arrived, up to the height its frame announced: a frame
// that ends early makes a shorter page, never one filled up, and one without any line is no
// page but a failure.
//
// The encoder owns only the descriptors of the page files it is handed; the files are the
// caller's. A page that is aborted, or cut by a failure, is closed and never reported
// delivered, which is all that tells its file from a whole page. A failure (a file that
// cannot be written, a frame that cannot be encoded) abandons that page and every later one
// and is kept: the reader polls `failure` and stops. Pages that were complete before it stay
// delivered.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "common/descriptor.h"
#include "common/error.h"
#include "host/pixels.h"

namespace qev {

class BandEncoder;

class PageEncoder {
 public:
  // Called on the encoder's thread each time a page is finished: its file, the one handed
  // over with the latest `beginPage`, is complete and closed.
  using Delivered = std::function<void()>;

  // 1 MiB of lines in hand, in buffers large enough that handing one over (which may wake the
  // encoder's thread) is rare beside the reads that fill it.
  static constexpr std::size_t bufferSize = 128 * 1024;
  static constexpr std::size_t buffersQueued = 8;

  explicit PageEncoder(Delivered delivered);
  ~PageEncoder();  // finishes first
  PageEncoder(const PageEncoder&) = delete;
  PageEncoder& operator=(const PageEncoder&) = delete;

  // A page begins, to be written to the open file `file` (closed here), with `density` dots
  // per inch.
  void beginPage(Descriptor file, int density);
  void beginFrame(const Frame& frame);
  // A buffer of `bufferSize` bytes to read into; waits while too many are queued.
  std::vector<unsigned char> buffer();
  // Hands over a buffer with the first `size` bytes read into it.
  void push(std::vector<unsigned char> data, std::size_t size);
  void endFrame();
  // The page is complete: its file is finished and delivered.
  void endPage();
  // The page is cut off: its file is closed and never delivered.
  void abortPage();

  // The first failure, if any. Safe from any thread.
  std::optional<Error> failure();
  // Waits until everything handed over is written, then returns `failure`.
  std::optional<Error> finish();

 private:
  // What the reader hands the encoder's thread, in order: the steps of its pages.
  enum class StepKind { page, frame, data, frameEnd, pageEnd, pageAbort, stop };
  struct Step {
    explicit Step(StepKind kind) : kind(kind) {}
    StepKind kind;
    Descriptor file;
    int density = 0;
    Frame frame;
    std::vector<unsigned char> data;
    std::size_t size = 0;  // of `data`, the bytes read
  };
  struct Page;

  void send(Step step);
  void run();
  void handle(Step& step);
  // Waits on `room` until `done`; `lock` holds `mutex`.
  template <typename Done>
  void await(std::unique_lock<std::mutex>& lock, Done done);
  void broke(Error error);
  void startFrame(const Frame& frame);
  void take(const unsigned char* data, std::size_t size);
  void takeLine(const unsigned char* bytes);
  void completePage();
  void dropPage();

  Delivered delivered;

  // Each side is woken only while it waits: the encoder thread for steps (`work`), the
  // reader for room, a page finished or everything written (`room`).
  std::mutex mutex;
  std::condition_variable work;
  std::condition_variable room;
  bool idle = false;  // the encoder thread waits on `work`
  int waiting = 0;    // callers waiting on `room`
  std::deque<Step> queue;
  std::vector<std::vector<unsigned char>> spare;
  std::size_t queued = 0;  // data buffers waiting
  bool busy = false;       // a step is being handled
  std::optional<Error> failed;

  // Encoder thread only.
  std::unique_ptr<Page> page;
  std::unique_ptr<BandEncoder> bands;

  std::thread thread;
};

}  // namespace qev
