#pragma once

// Moved to testing/: this path stays for the tests that still include it.
#include "testing/sane_setup.h"
