#pragma once
// The way on after a failure that reached the drive, in the words the window and ofstool
// share: what not to do to the drive, and what else there is once running again did not help.
#include <array>
#include <string>
#include <vector>

namespace ofs {

inline constexpr char kDoNotPowerOff[] = "Do not power it off or restart the machine";
inline constexpr char kSameFailureBefore[] =
    "the run before this one, of the same image on the same drive, ended with the same failure.";
// One clause a line; joined by spaces they make one sentence.
inline constexpr std::array<const char*, 4> kWhatElseThereIs{
    "What else there is:", "'ofstool verify FILE' checks what the drive holds without writing;",
    "'ofstool flash BACKUP' rolls back to firmware saved with --backup or 'ofstool backup';",
    "a report with the trace (OFSFLASH_TRACE=FILE) and the history ('ofstool history --json') attached lets others "
    "see what happened."};

// The lines as one paragraph, joined by single spaces.
template <class Lines>
std::string JoinedLines(const Lines& lines) {
  std::string text;
  for (const auto& line : lines) text += (text.empty() ? "" : " ") + std::string(line);
  return text;
}

// The window's last lines after a failure that reached the drive: press Start again or,
// when the run before already ended with this failure, what else there is.
std::vector<std::string> StartAgainLines(bool failedAlikeBefore);

}  // namespace ofs
