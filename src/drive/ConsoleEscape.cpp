#include "drive/ConsoleEscape.h"

#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <optional>

namespace ofs {
namespace {

// A terminal that is not our controlling one has no foreground to lose.
bool InForeground(int fd) {
  const pid_t group = tcgetpgrp(fd);
  return group < 0 || group == getpgrp();
}

constexpr unsigned char kEsc = 27;
// The bytes of one key's sequence come in one go: a person cannot type a second
// key this fast, so an Esc with nothing after it for this long is the Esc key.
constexpr int kSequenceGapMs = 50;

// The next byte on fd if one comes within timeoutMs.
std::optional<unsigned char> NextByte(int fd, int timeoutMs) {
  pollfd request{fd, POLLIN, 0};
  unsigned char byte = 0;
  if (poll(&request, 1, timeoutMs) != 1 || (request.revents & POLLIN) == 0 || read(fd, &byte, 1) != 1) {
    return std::nullopt;
  }
  return byte;
}

// Reads the rest of a sequence that began with Esc and `introducer`, so none of
// its bytes passes for a key of its own; the keys typed after it stay.
void DropSequence(int fd, unsigned char introducer) {
  if (introducer == 'O') {  // SS3 (F1-F4, keypad Home/End): one more byte
    NextByte(fd, kSequenceGapMs);
    return;
  }
  if (introducer != '[') return;  // Alt+key: the introducer was the key
  // CSI (arrows, Home/End, F5 and up): parameters up to a final byte.
  for (auto byte = NextByte(fd, kSequenceGapMs); byte && (*byte < 0x40 || *byte > 0x7e);
       byte = NextByte(fd, kSequenceGapMs)) {
  }
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
  const std::optional<unsigned char> key = NextByte(fd, 0);
  if (!key || *key != kEsc) return false;
  // Arrows, Home/End, function keys and Alt+letter begin with Esc too.
  const std::optional<unsigned char> next = NextByte(fd, kSequenceGapMs);
  if (!next) return true;
  DropSequence(fd, *next);
  return false;
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
