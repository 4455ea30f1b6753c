#include "flash/Flashmsg.h"

namespace ofs {

void SelectErrorMessages(ErrorMessages& messages, bool silent) {
  messages.entries.fill(std::string());
  if (silent) return;
  messages.entries[kMsgLoadOfsFail] = "Load OFS Fail!";
  messages.entries[kMsgCheckSumError] = "Check Sum Error!";
  messages.entries[kMsgDriveUnavailable] = "This drive is unavailble!";
}

}  // namespace ofs
