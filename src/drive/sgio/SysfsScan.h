#pragma once
// Finds the CD/DVD devices (SCSI peripheral type 5) that the kernel lists in sysfs.
#include <cstdint>
#include <string>
#include <vector>

namespace ofs {

struct ScsiCdDevice {
  std::string address;  // "H:C:T:L"
  std::string sgName;   // "sg1", or empty without the generic driver
  std::string srName;   // "sr0", or empty without the CD driver
  std::string transport = "scsi";  // "ata" behind libata, "usb" behind usb-storage or uas
  std::string bridge;              // for "usb": the bridge's "idVendor:idProduct"
  uint32_t maxTransferKb = 0;      // the block node's queue/max_hw_sectors_kb; 0: not known
};

// In host:channel:target:lun order, so drive indexes stay the same between runs.
std::vector<ScsiCdDevice> FindScsiCdDevices(const std::string& sysfsRoot);

}  // namespace ofs
