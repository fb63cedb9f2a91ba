#pragma once

// Moved to testing/: this path stays for the tests that still include it.
#include "testing/jpeg.h"
