#include "drive/sgio/SysfsScan.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace ofs {
namespace {

namespace fs = std::filesystem;

constexpr int kTypeCdDvd = 5;

using AddressKey = std::array<unsigned long, 4>;

bool ParseAddress(const std::string& text, AddressKey& key) {
  char tail = 0;
  return std::sscanf(text.c_str(), "%lu:%lu:%lu:%lu%c", &key[0], &key[1], &key[2], &key[3], &tail) == 4;
}

bool IsCdDvd(const fs::path& device) {
  std::ifstream in(device / "type");
  int type = -1;
  return static_cast<bool>(in >> type) && type == kTypeCdDvd;
}

// The one child node a driver made for this device, e.g. scsi_generic/sg1.
std::string FirstChild(const fs::path& folder) {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) return entry.path().filename();
  return {};
}

// A USB ID as the kernel writes it: four hex digits; anything else is not shown.
std::string UsbId(const fs::path& file) {
  std::ifstream in(file);
  std::string word;
  in >> word;
  const bool hex = word.size() == 4 && word.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
  return hex ? word : "????";
}

// The SCSI device's ancestors tell how it is attached: a USB interface served by
// usb-storage or uas (its USB device names the bridge), or a libata port.
void FindTransport(const fs::path& device, ScsiCdDevice& found) {
  std::error_code ec;
  const fs::path real = fs::canonical(device, ec);
  if (ec) return;
  for (fs::path p = real.parent_path(); !p.empty() && p != p.root_path(); p = p.parent_path()) {
    const std::string driver = fs::read_symlink(p / "driver", ec).filename();
    if (!ec && (driver == "usb-storage" || driver == "uas")) {
      found.transport = "usb";
      found.bridge = UsbId(p.parent_path() / "idVendor") + ":" + UsbId(p.parent_path() / "idProduct");
      return;
    }
    const std::string name = p.filename();
    if (name.size() > 3 && name.compare(0, 3, "ata") == 0 &&
        name.find_first_not_of("0123456789", 3) == std::string::npos) {
      found.transport = "ata";
      return;
    }
  }
}

uint32_t MaxTransferKb(const std::string& sysfsRoot, const std::string& srName) {
  if (srName.empty()) return 0;
  std::ifstream in(fs::path(sysfsRoot) / "block" / srName / "queue/max_hw_sectors_kb");
  uint32_t kb = 0;
  return in >> kb ? kb : 0;
}

}  // namespace

std::vector<ScsiCdDevice> FindScsiCdDevices(const std::string& sysfsRoot) {
  std::vector<std::pair<AddressKey, ScsiCdDevice>> found;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(sysfsRoot) / "class/scsi_device", ec)) {
    AddressKey key{};
    const std::string address = entry.path().filename();
    const fs::path device = entry.path() / "device";
    if (!ParseAddress(address, key) || !IsCdDvd(device)) continue;
    ScsiCdDevice cd;
    cd.address = address;
    cd.sgName = FirstChild(device / "scsi_generic");
    cd.srName = FirstChild(device / "block");
    FindTransport(device, cd);
    cd.maxTransferKb = MaxTransferKb(sysfsRoot, cd.srName);
    found.push_back({key, std::move(cd)});
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ScsiCdDevice> devices;
  for (auto& [key, device] : found) devices.push_back(std::move(device));
  return devices;
}

}  // namespace ofs
