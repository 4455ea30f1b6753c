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

}  // namespace

std::vector<ScsiCdDevice> FindScsiCdDevices(const std::string& sysfsRoot) {
  std::vector<std::pair<AddressKey, ScsiCdDevice>> found;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(sysfsRoot) / "class/scsi_device", ec)) {
    AddressKey key{};
    const std::string address = entry.path().filename();
    const fs::path device = entry.path() / "device";
    if (!ParseAddress(address, key) || !IsCdDvd(device)) continue;
    found.push_back({key, {address, FirstChild(device / "scsi_generic"), FirstChild(device / "block")}});
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ScsiCdDevice> devices;
  for (auto& [key, device] : found) devices.push_back(std::move(device));
  return devices;
}

}  // namespace ofs
