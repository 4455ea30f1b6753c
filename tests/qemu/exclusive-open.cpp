// exclusive-open PATH: opens PATH the way disc burners and udev's CD probe do
// (O_EXCL, non-blocking) and prints "ok" or the error's name. Built statically
// for the test guest.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const int fd = open(argv[1], O_RDONLY | O_NONBLOCK | O_EXCL);
  if (fd < 0) {
    std::puts(strerrorname_np(errno));
    return 1;
  }
  std::puts("ok");
  close(fd);
  return 0;
}
