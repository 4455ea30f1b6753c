#pragma once
// The update the benchmarks run: a 2 MiB type-6 image carried by the updater, for one
// zero-latency simulated drive of its model on a virtual clock.
#include <string>
#include <vector>

#include "drive/sim/SimProfile.h"
#include "firmware/OfsBuilder.h"
#include "params/Tool.h"
#include "system/Platform.h"

namespace ofs::bench {

constexpr uint32_t kImageBytes = 2u << 20;

class QuietPlatform final : public Platform {
 public:
  bool IsNtPlatform() override { return true; }
  bool EnsureSingleInstance(const std::string&) override { return true; }
  void RestartSystem() override {}
  PowerReading ReadPower() override { return {}; }
};

inline std::vector<uint8_t> UpdaterParameterArea() {
  Lines lines = defaultParameterText();
  for (std::string& line : lines) {
    if (line == "Updater=0") line = "Updater=1";
  }
  const std::string text = JoinLines(lines);
  std::vector<uint8_t> area(text.begin(), text.end());
  area.push_back(0);
  return area;
}

struct Fixture {
  build::InquiryTemplate identity;
  std::vector<uint8_t> flat, container, parameter;
  SimProfile profile;

  Fixture() {
    identity.offset = 0x200;
    identity.product = "KZW-5520";
    identity.revision = "2.12";
    identity.hardwareId = "B2";
    flat = build::MakeFlatImage(kImageBytes, 1, {identity});
    build::OfsLayout layout;
    layout.atapiFlashType = 6;
    container = build::BuildOfs(layout, flat);
    parameter = UpdaterParameterArea();
    profile.virtualClock = true;
    profile.drives.emplace_back();
    SimDriveProfile& drive = profile.drives.back();
    drive.product = "KZW-5520";
    drive.revision = "2.10";
    drive.hardwareId = "B2";
    drive.latencyMs = 0;  // no capability 11: verification reads the flash back
  }
};

}  // namespace ofs::bench
