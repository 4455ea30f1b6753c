#include <cstdio>

#include "ofstool/Commands.h"

int ofstool::RunEmbedded(int, char**) {
  std::fprintf(stderr, "not built yet\n");
  return 2;
}
