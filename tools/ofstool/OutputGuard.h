#pragma once
// Output that nobody reads any more (a pipe whose reader has gone, a terminal that
// was closed) must never stop a flash.
#include <cstdio>

namespace ofstool {

// A write to a pipe without a reader fails with EPIPE instead of ending the process.
void IgnoreBrokenPipes();

// Flushes `stream`. Once a write to it has failed because its reader or terminal is
// gone (EPIPE, EIO), its descriptor is pointed at /dev/null: the rest of the run
// writes into nothing instead of failing on every line.
void FlushOrSilence(std::FILE* stream);

}  // namespace ofstool
