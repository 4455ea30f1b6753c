#include "drive/ConsoleEscape.h"

#include <poll.h>
#include <unistd.h>

namespace ofs {

bool EscapeKeyWaiting(int fd) {
  // Only a person at a terminal presses keys; reading a pipe or file here would
  // swallow input meant for someone else.
  if (isatty(fd) == 0) return false;
  pollfd request{fd, POLLIN, 0};
  if (poll(&request, 1, 0) != 1 || (request.revents & POLLIN) == 0) return false;
  unsigned char key = 0;
  return read(fd, &key, 1) == 1 && key == 27;
}

bool ConsoleEscapePressed() { return EscapeKeyWaiting(STDIN_FILENO); }

}  // namespace ofs
