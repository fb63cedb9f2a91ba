#pragma once

// Moved to testing/: this path stays for the tests that still include it, which name the
// decoder as qev's and may use libjpeg through this header.
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "testing/jpeg.h"

namespace qev {
using qevtest::decode;
using qevtest::Decoded;
}  // namespace qev
