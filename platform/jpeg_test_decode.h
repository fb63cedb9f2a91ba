#pragma once

// Moved to testing/: this path stays for the tests that still include it, which name the
// decoder as qev's.
#include "testing/jpeg.h"

namespace qev {
using qevtest::decode;
using qevtest::Decoded;
}  // namespace qev
