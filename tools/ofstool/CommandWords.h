#pragma once
// The words after a command's name, read one way by every command: "--" ends the
// options, so a word after it is an operand (a file name) even when it starts with '-'.
#include <optional>
#include <string>
#include <vector>

namespace ofstool {

struct Word {
  std::string text;
  bool option = false;  // starts with '-' and comes before "--"
};
using Words = std::vector<Word>;

// argv[1] .. argv[argc - 1]; the "--" that ends the options is not a word.
Words CommandWords(int argc, char** argv);

bool IsHelp(const std::string& text);  // -h or --help

// -h or --help among the options.
bool AsksForHelp(const Words& words);

// For a command whose one option is --json: whether it was given. With any other word it
// says so with the command's usage on stderr and gives nothing.
std::optional<bool> JsonOnly(const Words& words, const char* command);

}  // namespace ofstool
