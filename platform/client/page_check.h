#pragma once

// The check qev makes of a page file before it believes the driver host's word that the page
// is complete: read back through qev's own descriptor, never through a path.

namespace qev {

// Whether the file open at `fd` has the shape of a whole JPEG image: the start-of-image marker
// first, a frame header with a width and a height other than 0, and the end-of-image marker
// last. Reads with pread, so the descriptor's offset is left alone.
bool completeJpeg(int fd);

}  // namespace qev
