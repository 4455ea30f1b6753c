#include "drive/ConsoleEscape.h"

#include <poll.h>
#include <unistd.h>

#include <csignal>

namespace ofs {
namespace {

// A terminal that is not our controlling one has no foreground to lose.
bool InForeground(int fd) {
  const pid_t group = tcgetpgrp(fd);
  return group < 0 || group == getpgrp();
}

// What a signal handler needs to put the terminal back.
int g_modeFd = -1;
termios g_savedMode{};
struct sigaction g_previousInt {};
struct sigaction g_previousTerm {};

void RestoreSignalHandlers() {
  sigaction(SIGINT, &g_previousInt, nullptr);
  sigaction(SIGTERM, &g_previousTerm, nullptr);
}

void RestoreModeAndResignal(int signal) {
  tcsetattr(g_modeFd, TCSANOW, &g_savedMode);
  RestoreSignalHandlers();
  raise(signal);
}

}  // namespace

bool EscapeKeyWaiting(int fd) {
  // Only a person at a terminal presses keys; reading a pipe or file here would
  // swallow input meant for someone else.
  if (isatty(fd) == 0 || !InForeground(fd)) return false;
  pollfd request{fd, POLLIN, 0};
  if (poll(&request, 1, 0) != 1 || (request.revents & POLLIN) == 0) return false;
  unsigned char key = 0;
  return read(fd, &key, 1) == 1 && key == 27;
}

bool ConsoleEscapePressed() { return EscapeKeyWaiting(STDIN_FILENO); }

ConsoleKeyMode::ConsoleKeyMode(int fd) {
  // From the background, changing the terminal's mode would stop this process.
  if (isatty(fd) == 0 || !InForeground(fd) || tcgetattr(fd, &g_savedMode) != 0) return;
  termios keys = g_savedMode;
  keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  keys.c_cc[VMIN] = 1;
  keys.c_cc[VTIME] = 0;
  g_modeFd = fd;
  struct sigaction restore {};
  restore.sa_handler = RestoreModeAndResignal;
  sigemptyset(&restore.sa_mask);
  sigaction(SIGINT, &restore, &g_previousInt);
  sigaction(SIGTERM, &restore, &g_previousTerm);
  active_ = tcsetattr(fd, TCSANOW, &keys) == 0;
  if (!active_) RestoreSignalHandlers();
}

void ConsoleKeyMode::Restore() {
  if (!active_) return;
  active_ = false;
  tcsetattr(g_modeFd, TCSANOW, &g_savedMode);
  RestoreSignalHandlers();
}

}  // namespace ofs
