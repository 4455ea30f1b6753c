#include "ofstool/FlashConfirmation.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace ofstool {
namespace {

constexpr int kRefused = 2;

bool AnsweredYes(std::FILE* in) {
  char reply[64] = {};
  if (std::fgets(reply, sizeof reply, in) == nullptr) return false;
  std::string word(reply);
  while (!word.empty() && std::isspace(static_cast<unsigned char>(word.back()))) word.pop_back();
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word == "y" || word == "yes";
}

}  // namespace

int ConfirmWrite(const WritePlan& plan, const ConfirmOptions& options, std::FILE* in, std::FILE* out,
                 std::FILE* err) {
  return ConfirmWrites({plan}, options, in, out, err);
}

int ConfirmWrites(const std::vector<WritePlan>& plans, const ConfirmOptions& options, std::FILE* in,
                  std::FILE* out, std::FILE* err) {
  if (plans.empty()) return kRefused;
  std::vector<std::string> warnings;
  std::string numbers;
  for (const WritePlan& plan : plans) {
    std::fprintf(out, "Drive %d (%s): %s\n", plan.drive, plan.node.c_str(), plan.driveLine.c_str());
    for (const std::string& warning : plan.warnings) {
      if (std::find(warnings.begin(), warnings.end(), warning) == warnings.end()) warnings.push_back(warning);
    }
    numbers += (numbers.empty() ? "" : ", ") + std::to_string(plan.drive);
  }
  std::fprintf(out, "Image: %s\n%s\n", plans.front().imageLine.c_str(), plans.front().flashLine.c_str());
  for (const std::string& warning : warnings) std::fprintf(out, "%s\n", warning.c_str());
  std::fflush(out);
  const char* nothing = plans.size() == 1 ? "Nothing was written to the drive." : "Nothing was written to any drive.";
  if (options.yes) {
    if (warnings.empty() || options.force) return 0;
    std::fprintf(err, "ofstool: not written: --yes does not answer the warning above; add --force to write it "
                      "anyway. %s\n", nothing);
    return kRefused;
  }
  if (in == nullptr || isatty(fileno(in)) == 0) {
    std::fprintf(err, "ofstool: not written: no terminal to ask on; add --yes to write without asking. %s\n",
                 nothing);
    return kRefused;
  }
  std::fprintf(err, "Write this firmware to drive%s %s? [y/N] ", plans.size() == 1 ? "" : "s", numbers.c_str());
  std::fflush(err);
  if (AnsweredYes(in)) return 0;
  std::fprintf(err, "ofstool: not written. %s\n", nothing);
  return kRefused;
}

}  // namespace ofstool
