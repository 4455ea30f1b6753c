#pragma once
// The console's way out of a long ready wait: the Esc key on a terminal.
#include <termios.h>

namespace ofs {

// True when fd is a terminal with a byte waiting and that byte is a lone Esc: no
// further byte within 50 ms. A key whose sequence begins with Esc (arrow,
// Home/End, function key, Alt+letter) is read whole and gives false; any other
// key is consumed and gives false. Waits only those 50 ms after an Esc; false
// for pipes, files, closed descriptors and a terminal whose foreground is
// another process group (reading it would stop us).
bool EscapeKeyWaiting(int fd);

// EscapeKeyWaiting on standard input.
bool ConsoleEscapePressed();

// While it lives, a terminal on fd that this process has in the foreground
// hands over each key at once and without echo, so a single Esc is seen. The
// old mode comes back on destruction, on Restore, and on SIGINT or SIGTERM
// (which then go on to their previous handlers). One at a time.
class ConsoleKeyMode {
 public:
  explicit ConsoleKeyMode(int fd);
  ~ConsoleKeyMode() { Restore(); }
  ConsoleKeyMode(const ConsoleKeyMode&) = delete;
  ConsoleKeyMode& operator=(const ConsoleKeyMode&) = delete;

  void Restore();

 private:
  bool active_ = false;
};

}  // namespace ofs
