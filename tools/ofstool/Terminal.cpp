#include "ofstool/Terminal.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <initializer_list>

#include "system/StopSignals.h"

namespace ofstool {
namespace {

bool SameDevice(int a, int b) {
  struct stat first {}, second {};
  return fstat(a, &first) == 0 && fstat(b, &second) == 0 && S_ISCHR(first.st_mode) && first.st_rdev == second.st_rdev;
}

}  // namespace

Terminal Terminal::OfThisRun() {
  for (int fd : {STDIN_FILENO, STDERR_FILENO}) {
    if (isatty(fd) == 0) continue;
    // A node of its own: stdin may be open for reading only.
    const char* name = ttyname(fd);
    const int own = name != nullptr ? open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC) : -1;
    if (own < 0) continue;
    if (std::FILE* stream = fdopen(own, "w")) return Terminal(stream);
    close(own);
  }
  return Terminal();
}

Terminal::~Terminal() {
  if (stream_ != nullptr) std::fclose(stream_);
}

bool Terminal::Shows(std::FILE* stream) const {
  return stream_ != nullptr && stream != nullptr && SameDevice(fileno(stream_), fileno(stream));
}

bool Terminal::Hidden(std::FILE* stream) const {
  if (stream_ == nullptr || Shows(stream)) return false;
  struct stat info {};
  if (fstat(fileno(stream), &info) != 0) return false;
  return !S_ISFIFO(info.st_mode) && !S_ISSOCK(info.st_mode) && isatty(fileno(stream)) == 0;
}

void DiscardTypedAhead(std::FILE* in) {
  if (in == nullptr || isatty(fileno(in)) == 0) return;
  // Both what the stream has read ahead and what the terminal still holds.
  __fpurge(in);
  tcflush(fileno(in), TCIFLUSH);
}

bool ReadReplyLine(std::FILE* in, char* line, int size) {
  // What the stream read ahead needs no wait. While a drive is written a held stop must not
  // answer a question about it: the read is left as it was.
  const bool buffered = in->_IO_read_ptr < in->_IO_read_end;
  if (!buffered && !ofs::WritePhaseActive() && !ofs::WaitReadableUnlessStopped(fileno(in))) return false;
  return std::fgets(line, size, in) != nullptr;
}

}  // namespace ofstool
