#include "platform/client/page_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

namespace qev {

namespace {

// Reads exactly `size` bytes at `at`.
bool readAt(int fd, unsigned char* into, std::size_t size, off_t at) {
  while (size > 0) {
    ssize_t n = ::pread(fd, into, size, at);
    if (n <= 0) return false;
    into += n;
    size -= static_cast<std::size_t>(n);
    at += n;
  }
  return true;
}

// Start-of-frame markers: C0 to CF but for DHT (C4), JPG (C8) and DAC (CC).
bool frameMarker(unsigned char m) {
  return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

}  // namespace

// A walk over the segments before the image data, by hand: libjpeg would decode the whole
// page to say the same, and its header reader does not look at the end of the file.
bool completeJpeg(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 4) return false;
  const off_t size = info.st_size;
  unsigned char b[9];
  if (!readAt(fd, b, 2, 0) || b[0] != 0xFF || b[1] != 0xD8) return false;
  if (!readAt(fd, b, 2, size - 2) || b[0] != 0xFF || b[1] != 0xD9) return false;
  for (off_t at = 2; at + 4 <= size;) {
    if (!readAt(fd, b, 4, at) || b[0] != 0xFF) return false;
    const unsigned char marker = b[1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    // The frame header comes before the image data; markers without a length stand alone.
    if (marker == 0xDA || marker == 0xD9) return false;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    const int length = b[2] << 8 | b[3];
    if (length < 2) return false;
    if (frameMarker(marker)) {
      if (length < 8 || !readAt(fd, b, 9, at)) return false;
      const int height = b[5] << 8 | b[6];
      const int width = b[7] << 8 | b[8];
      return height > 0 && width > 0;
    }
    at += 2 + length;
  }
  return false;
}

}  // namespace qev
