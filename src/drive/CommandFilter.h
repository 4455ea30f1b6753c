#pragma once
// Which opcodes the kernel lets this process send to a drive on the path it took.
#include <cstdint>

namespace ofs {

enum class CommandFilter : uint8_t {
  None,            // every opcode reaches the drive (a read-write /dev/sg*, or CAP_SYS_RAWIO)
  KernelSafeList,  // /dev/sr* without CAP_SYS_RAWIO: the block layer refuses opcodes it does not know as safe
};

// True when `opcode` gets past the filter to the drive.
bool FilterPasses(CommandFilter filter, uint8_t opcode);

}  // namespace ofs
