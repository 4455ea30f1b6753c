#include "ofstool/FlashConfirmation.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "drive/IdentityText.h"

namespace ofstool {
namespace {

constexpr int kRefused = 2;

// The answer read from in; a reply cut short by Ctrl-D gets its line ended on `echo`.
bool AnsweredYes(std::FILE* in, std::FILE* echo) {
  char reply[64] = {};
  const bool read = ReadReplyLine(in, reply, sizeof reply);
  std::string word(reply);
  if (word.empty() || word.back() != '\n') std::fputs("\n", echo);
  if (!read) return false;
  while (!word.empty() && std::isspace(static_cast<unsigned char>(word.back()))) word.pop_back();
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word == "y" || word == "yes";
}

void PrintPlans(std::FILE* to, const std::vector<WritePlan>& plans, const std::vector<std::string>& warnings) {
  for (const WritePlan& plan : plans) {
    std::fprintf(to, "Drive %d (%s): %s\n", plan.drive, ofs::ShownName(plan.node).c_str(),
                 plan.driveLine.c_str());
    if (!plan.transportNote.empty()) std::fprintf(to, "%s\n", plan.transportNote.c_str());
  }
  std::fprintf(to, "Image: %s\n%s\n", ofs::ShownName(plans.front().imageLine).c_str(),
               plans.front().flashLine.c_str());
  for (const std::string& warning : warnings) std::fprintf(to, "%s\n", warning.c_str());
  std::fflush(to);
}

}  // namespace

Confirmation ConfirmWrite(const WritePlan& plan, const ConfirmOptions& options, std::FILE* in, std::FILE* out,
                          const Terminal& terminal) {
  return ConfirmWrites({plan}, options, in, out, terminal);
}

Confirmation ConfirmWrites(const std::vector<WritePlan>& plans, const ConfirmOptions& options, std::FILE* in,
                           std::FILE* out, const Terminal& terminal) {
  if (plans.empty()) return {kRefused, "no drive to write"};
  std::vector<std::string> warnings;
  std::string numbers;
  for (const WritePlan& plan : plans) {
    for (const std::string& warning : plan.warnings) {
      if (std::find(warnings.begin(), warnings.end(), warning) == warnings.end()) warnings.push_back(warning);
    }
    numbers += (numbers.empty() ? "" : ", ") + std::to_string(plan.drive);
  }
  PrintPlans(out, plans, warnings);
  // Where nobody watches out, the person at the terminal still reads what is written, and why not.
  std::FILE* ask = terminal.Stream() != nullptr ? terminal.Stream() : stderr;
  if (terminal.Hidden(out)) PrintPlans(ask, plans, warnings);
  const std::string nothing =
      plans.size() == 1 ? "Nothing was written to the drive." : "Nothing was written to any drive.";
  if (options.yes) {
    if (warnings.empty() || options.force) return {};
    return {kRefused, "ofstool: not written: --yes does not answer the warning above; add --force to write it "
                      "anyway. " + nothing};
  }
  if (in == nullptr || isatty(fileno(in)) == 0) {
    return {kRefused, "ofstool: not written: no terminal to ask on; add --yes to write without asking. " + nothing};
  }
  // Nothing typed before the question shows answers it, and it is never asked without what it is about.
  DiscardTypedAhead(in);
  if (!terminal.Shows(out) && !terminal.Hidden(out)) PrintPlans(ask, plans, warnings);
  std::fprintf(ask, "Write this firmware to drive%s %s? [y/N] ", plans.size() == 1 ? "" : "s", numbers.c_str());
  std::fflush(ask);
  if (AnsweredYes(in, ask)) return {};
  return {kRefused, "ofstool: not written. " + nothing};
}

}  // namespace ofstool
