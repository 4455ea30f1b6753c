#include "ofstool/OutputGuard.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace ofstool {

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

void FlushOrSilence(std::FILE* stream) {
  if (std::fflush(stream) == 0 && std::ferror(stream) == 0) return;
  if (errno != EPIPE && errno != EIO) return;
  const int fd = fileno(stream);
  if (fd < 0) return;
  const int nothing = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (nothing < 0) return;
  dup2(nothing, fd);
  close(nothing);
  std::clearerr(stream);
}

}  // namespace ofstool
