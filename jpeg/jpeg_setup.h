#pragma once

// The compressor settings that every JPEG of qev shares, for the writers in jpeg.cpp and
// bands.cpp: internal to them.

#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "jpeg/jpeg.h"

namespace qev {

// Sets `info` for an image of `shape` that is `height` lines high: the pixel layout, libjpeg's
// defaults, the quality and the JFIF density (72 dots per inch when the shape's cannot be
// written).
void configure(jpeg_compress_struct& info, const JpegShape& shape, int height);

}  // namespace qev
