// ofstool: the command-line companion of ofsflash.
#include <cstdio>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <string>

#include "ofstool/Commands.h"
#include "ofstool/OutputGuard.h"

namespace {

struct Command {
  const char* name;
  int (*run)(const ofstool::Words&);
  const char* usage;
  std::initializer_list<const char*> options;  // empty: the command checks its own
};

constexpr Command kCommands[] = {
    {"info", ofstool::RunInfo, "info [--json] FILE        describe a firmware container", {"--json"}},
    {"params", ofstool::RunParams, "params [--json] [FILE] | params --write-default PATH",
     {"--json", "--write-default"}},
    {"embedded", ofstool::RunEmbedded, "embedded [--json]         what this executable carries", {"--json"}},
    {"drives", ofstool::RunDrives, "drives [--json]           list the drives", {"--json"}},
    {"flash", ofstool::RunFlash,
     "flash [--drive N] [--all] [--verify|--no-verify] [--yes [--force]] [--no] [--reboot] [--dry-run] [--json] [--backup OUT] [FILE]",
     {}},
    {"verify", ofstool::RunVerify, "verify [--drive N] [--json] FILE   does the drive hold FILE? (writes nothing)", {}},
    {"backup", ofstool::RunBackup, "backup [--drive N] [--force] --like IMAGE OUT   save a drive's firmware to OUT", {}},
    {"history", ofstool::RunHistory, "history [--json]          the runs that wrote to a drive, newest first",
     {"--json"}},
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

// The first option the command does not know, or null.
const char* UnknownOption(const Command& c, const ofstool::Words& words) {
  if (c.options.size() == 0) return nullptr;
  for (const ofstool::Word& word : words) {
    if (!word.option) continue;
    bool known = false;
    for (const char* option : c.options) known = known || word.text == option;
    if (!known) return word.text.c_str();
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  ofstool::IgnoreBrokenPipes();  // a reader that goes away must not end a flash
  if (argc < 2) return Usage("a command is needed");
  if (ofstool::IsHelp(argv[1])) {
    PrintUsage(stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("ofstool %s\n", OFS_VERSION);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    const ofstool::Words words = ofstool::CommandWords(argc - 1, argv + 1);
    // flash and verify explain themselves at length; the others in their usage line.
    const bool ownHelp = std::strcmp(c.name, "flash") == 0 || std::strcmp(c.name, "verify") == 0;
    if (!ownHelp && ofstool::AsksForHelp(words)) {
      std::printf("usage: ofstool %s\n", c.usage);
      return 0;
    }
    if (const char* unknown = UnknownOption(c, words)) {
      const std::string problem = std::string(c.name) + ": unknown option " + unknown;
      return Usage(problem.c_str());
    }
    try {
      return c.run(words);
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
