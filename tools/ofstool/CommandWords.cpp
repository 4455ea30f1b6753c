#include "ofstool/CommandWords.h"

#include <cstdio>

namespace ofstool {

Words CommandWords(int argc, char** argv) {
  Words words;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string text = argv[i];
    if (options && text == "--") {
      options = false;
      continue;
    }
    words.push_back({text, options && !text.empty() && text[0] == '-'});
  }
  return words;
}

bool IsHelp(const std::string& text) { return text == "-h" || text == "--help"; }

bool AsksForHelp(const Words& words) {
  for (const Word& word : words) {
    if (word.option && IsHelp(word.text)) return true;
  }
  return false;
}

std::optional<bool> JsonOnly(const Words& words, const char* command) {
  bool json = false;
  for (const Word& word : words) {
    if (word.option && word.text == "--json") {
      json = true;
      continue;
    }
    std::fprintf(stderr, "ofstool %s: unexpected %s\nusage: ofstool %s [--json]\n", command, word.text.c_str(), command);
    return std::nullopt;
  }
  return json;
}

}  // namespace ofstool
