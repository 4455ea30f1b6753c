// ofstool: the command-line companion of ofsflash.
#include <cstdio>
#include <cstring>
#include <exception>

#include "ofstool/Commands.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int, char**);
  const char* usage;
};

constexpr Command kCommands[] = {
    {"info", ofstool::RunInfo, "info [--json] FILE        describe a firmware container"},
    {"params", ofstool::RunParams, "params [--json] [FILE] | params --write-default PATH"},
    {"embedded", ofstool::RunEmbedded, "embedded [--json]         what this executable carries"},
    {"drives", ofstool::RunDrives, "drives                    list the drives"},
    {"flash", ofstool::RunFlash,
     "flash [--drive N] [--verify|--no-verify] [--yes|--no] [--reboot] [--dry-run] [FILE]"},
};

int Usage() {
  std::fprintf(stderr, "usage: ofstool COMMAND [ARGS]\n");
  for (const Command& c : kCommands) std::fprintf(stderr, "  ofstool %s\n", c.usage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    try {
      return c.run(argc - 1, argv + 1);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "ofstool: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "ofstool: unknown exception\n");
    }
    return 1;
  }
  return Usage();
}
