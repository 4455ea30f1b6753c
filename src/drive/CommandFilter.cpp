#include "drive/CommandFilter.h"

#include <algorithm>
#include <array>

namespace ofs {
namespace {

// The opcodes this program sends that the block layer passes to a node opened
// read-write without CAP_SYS_RAWIO: TEST UNIT READY, REQUEST SENSE, INQUIRY,
// START STOP UNIT, PREVENT ALLOW MEDIUM REMOVAL, GET EVENT STATUS and MODE
// SENSE(10), whose opcode the vendor commands share. Everything else (WRITE
// BUFFER, the vendor block commands) is refused with EPERM before it leaves.
constexpr std::array<uint8_t, 7> kPassedOnBlockNodes{0x00, 0x03, 0x12, 0x1B, 0x1E, 0x4A, 0x5A};

}  // namespace

bool FilterPasses(CommandFilter filter, uint8_t opcode) {
  if (filter == CommandFilter::None) return true;
  return std::find(kPassedOnBlockNodes.begin(), kPassedOnBlockNodes.end(), opcode) != kPassedOnBlockNodes.end();
}

}  // namespace ofs
