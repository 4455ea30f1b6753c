#include <cstdio>

#include "ofstool/Commands.h"

int ofstool::RunFlash(int, char**) {
  std::fprintf(stderr, "not built yet\n");
  return 2;
}
