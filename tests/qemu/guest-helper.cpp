// What the test guest's busybox lacks, built statically:
//   guest-helper exclusive-open PATH
//     opens PATH as disc burners and udev's CD probe do (O_EXCL, non-blocking) and
//     prints "ok" or the error's name;
//   guest-helper on-terminal FIFO COMMAND [ARGS...]
//     runs COMMAND on a new pseudo terminal, typing what arrives in FIFO and
//     copying what it shows to standard output; exits with its exit code;
//   guest-helper hang-up-on-usr1 COMMAND [ARGS...]
//     the same without typing, and on SIGUSR1 it closes the terminal's master (the
//     terminal hangs up, as a closed terminal window or a dropped ssh session does);
//     exits with the command's exit code once it has ended.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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

// COMMAND started on a new pseudo terminal, whose master is `terminal`.
pid_t OnNewTerminal(char** command, int& terminal) {
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    execv(command[0], command);
    _exit(127);
  }
  return child;
}

int ExitCodeOf(pid_t child) {
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int OnTerminal(const char* fifo, char** command) {
  // Read-write, so that the open does not wait for a writer and the end of one writer is no end.
  const int input = open(fifo, O_RDWR);
  if (input < 0) return 125;
  int terminal = -1;
  const pid_t child = OnNewTerminal(command, terminal);
  if (child < 0) return 125;
  for (;;) {
    pollfd waits[2] = {{input, POLLIN, 0}, {terminal, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0 && errno != EINTR) break;
    if ((waits[0].revents & POLLIN) != 0) Copy(input, terminal);
    // The terminal reads as ended (EIO) once the command and its children are gone.
    if ((waits[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !Copy(terminal, STDOUT_FILENO)) break;
  }
  return ExitCodeOf(child);
}

volatile std::sig_atomic_t g_hangUp = 0;

int HangUpOnUsr1(char** command) {
  struct sigaction hangUp {};
  hangUp.sa_handler = [](int) { g_hangUp = 1; };
  sigaction(SIGUSR1, &hangUp, nullptr);
  int terminal = -1;
  const pid_t child = OnNewTerminal(command, terminal);
  if (child < 0) return 125;
  while (g_hangUp == 0) {
    pollfd wait{terminal, POLLIN, 0};
    if (poll(&wait, 1, 100) > 0 && !Copy(terminal, STDOUT_FILENO)) break;
  }
  close(terminal);
  return ExitCodeOf(child);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "exclusive-open") == 0) return ExclusiveOpen(argv[2]);
  if (argc >= 4 && std::strcmp(argv[1], "on-terminal") == 0) return OnTerminal(argv[2], argv + 3);
  if (argc >= 3 && std::strcmp(argv[1], "hang-up-on-usr1") == 0) return HangUpOnUsr1(argv + 2);
  std::fputs("usage: guest-helper exclusive-open PATH | on-terminal FIFO COMMAND [ARGS...] |\n"
             "       hang-up-on-usr1 COMMAND [ARGS...]\n",
             stderr);
  return 2;
}
