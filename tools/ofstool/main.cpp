// ofstool: the command-line companion of ofsflash.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

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
    {"drives", ofstool::RunDrives, "drives [--json]           list the drives"},
    {"flash", ofstool::RunFlash,
     "flash [--drive N] [--verify|--no-verify] [--yes [--force]] [--no] [--reboot] [--dry-run] [FILE]"},
};

void PrintUsage(std::FILE* to) {
  std::fprintf(to, "usage: ofstool COMMAND [ARGS]   (ofstool COMMAND --help for one command)\n");
  for (const Command& c : kCommands) std::fprintf(to, "  ofstool %s\n", c.usage);
  std::fprintf(to, "  ofstool --version\n");
}

int Usage(const char* problem) {
  std::fprintf(stderr, "ofstool: %s\n", problem);
  PrintUsage(stderr);
  return 2;
}

bool IsHelp(const char* word) { return std::strcmp(word, "-h") == 0 || std::strcmp(word, "--help") == 0; }

bool AsksForHelp(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    if (IsHelp(argv[i])) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("a command is needed");
  if (IsHelp(argv[1])) {
    PrintUsage(stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("ofstool %s\n", OFS_VERSION);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    // flash explains itself at length; the others in their usage line.
    if (std::strcmp(c.name, "flash") != 0 && AsksForHelp(argc, argv)) {
      std::printf("usage: ofstool %s\n", c.usage);
      return 0;
    }
    try {
      return c.run(argc - 1, argv + 1);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "ofstool: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "ofstool: unknown exception\n");
    }
    return 1;
  }
  const std::string problem = "unknown command '" + std::string(argv[1]) + "'";
  return Usage(problem.c_str());
}
