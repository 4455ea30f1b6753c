#include "app/RecoveryAdvice.h"

namespace ofs {

std::vector<std::string> StartAgainLines(bool failedAlikeBefore) {
  if (!failedAlikeBefore) {
    return {std::string("The drive may hold incomplete firmware. ") + kDoNotPowerOff + ":",
            "press Start again now, so that the whole image is written."};
  }
  std::vector<std::string> lines{"The drive may hold incomplete firmware, and pressing Start again did not help:",
                                 kSameFailureBefore, std::string(kDoNotPowerOff) + "."};
  lines.insert(lines.end(), kWhatElseThereIs.begin(), kWhatElseThereIs.end());
  return lines;
}

}  // namespace ofs
