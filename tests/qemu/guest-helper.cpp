// What the test guest's busybox lacks, built statically:
//   guest-helper exclusive-open PATH
//     opens PATH as disc burners and udev's CD probe do (O_EXCL, non-blocking) and
//     prints "ok" or the error's name;
//   guest-helper on-terminal FIFO COMMAND [ARGS...]
//     runs COMMAND on a new pseudo terminal, typing what arrives in FIFO and
//     copying what it shows to standard output; exits with its exit code.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int ExclusiveOpen(const char* path) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_EXCL);
  if (fd < 0) {
    std::puts(strerrorname_np(errno));
    return 1;
  }
  std::puts("ok");
  close(fd);
  return 0;
}

bool Copy(int from, int to) {
  char chunk[4096];
  const ssize_t n = read(from, chunk, sizeof chunk);
  return n > 0 && write(to, chunk, static_cast<std::size_t>(n)) == n;
}

int OnTerminal(const char* fifo, char** command) {
  // Read-write, so that the open does not wait for a writer and the end of one writer is no end.
  const int input = open(fifo, O_RDWR);
  if (input < 0) return 125;
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child < 0) return 125;
  if (child == 0) {
    execv(command[0], command);
    _exit(127);
  }
  for (;;) {
    pollfd waits[2] = {{input, POLLIN, 0}, {terminal, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0 && errno != EINTR) break;
    if ((waits[0].revents & POLLIN) != 0) Copy(input, terminal);
    // The terminal reads as ended (EIO) once the command and its children are gone.
    if ((waits[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !Copy(terminal, STDOUT_FILENO)) break;
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "exclusive-open") == 0) return ExclusiveOpen(argv[2]);
  if (argc >= 4 && std::strcmp(argv[1], "on-terminal") == 0) return OnTerminal(argv[2], argv + 3);
  std::fputs("usage: guest-helper exclusive-open PATH | on-terminal FIFO COMMAND [ARGS...]\n", stderr);
  return 2;
}
