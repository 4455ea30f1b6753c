#pragma once
// The console's way out of a long ready wait: the Esc key on a terminal.

namespace ofs {

// True when fd is a terminal with a byte waiting and that byte is Esc (the byte
// is consumed). Never blocks; false for pipes, files and closed descriptors.
bool EscapeKeyWaiting(int fd);

// EscapeKeyWaiting on standard input.
bool ConsoleEscapePressed();

}  // namespace ofs
