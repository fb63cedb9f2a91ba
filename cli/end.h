#pragma once

namespace qev {

// Ends the process with `status`. Every end of a run comes through here, right after its last
// event line is out. Static destructors do not run: a platform thread may still be inside a
// library at that moment.
[[noreturn]] void end(int status);

// Done by the real end first: main lets the processes that qev started end by themselves
// (the scanner service's driver host). False when one of them ended with a failure of its
// own, which a sanitizer build reports as it reports a leak of qev's.
using Closer = bool (*)();
void setCloser(Closer closer);

// Unit tests replace what `end` does, to observe the end instead of dying. The replacement
// must not return (it throws); nullptr restores the real end.
using Ender = void (*)(int status);
void setEnd(Ender ender);

}  // namespace qev
