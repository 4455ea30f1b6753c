#include <cstdio>

#include "ofstool/Commands.h"

int ofstool::RunParams(int, char**) {
  std::fprintf(stderr, "not built yet\n");
  return 2;
}
