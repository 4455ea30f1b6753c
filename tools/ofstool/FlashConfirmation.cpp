#include "ofstool/FlashConfirmation.h"

#include <unistd.h>

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
  std::fprintf(out, "Drive %d (%s): %s\nImage: %s\n%s\n", plan.drive, plan.node.c_str(), plan.driveLine.c_str(),
               plan.imageLine.c_str(), plan.flashLine.c_str());
  for (const std::string& warning : plan.warnings) std::fprintf(out, "%s\n", warning.c_str());
  std::fflush(out);
  if (options.yes) {
    if (plan.warnings.empty() || options.force) return 0;
    std::fprintf(err, "ofstool: not written: --yes does not answer the warning above; add --force to write it "
                      "anyway. Nothing was written to the drive.\n");
    return kRefused;
  }
  if (in == nullptr || isatty(fileno(in)) == 0) {
    std::fprintf(err, "ofstool: not written: no terminal to ask on; add --yes to write without asking. "
                      "Nothing was written to the drive.\n");
    return kRefused;
  }
  std::fprintf(err, "Write this firmware to drive %d? [y/N] ", plan.drive);
  std::fflush(err);
  if (AnsweredYes(in)) return 0;
  std::fprintf(err, "ofstool: not written. Nothing was written to the drive.\n");
  return kRefused;
}

}  // namespace ofstool
