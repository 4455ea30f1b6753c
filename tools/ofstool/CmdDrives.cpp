#include <cstdio>

#include "ofstool/Commands.h"

int ofstool::RunDrives(int, char**) {
  std::fprintf(stderr, "not built yet\n");
  return 2;
}
