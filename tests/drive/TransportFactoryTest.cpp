// The transport the program builds from its environment.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "drive/TransportFactory.h"
#include "drive/Winfunc.h"

namespace ofs {
namespace {

class FakePlatform : public Platform {
 public:
  bool IsNtPlatform() override { return nt; }
  bool EnsureSingleInstance(const std::string&) override { return true; }
  void RestartSystem() override {}
  PowerReading ReadPower() override { return {}; }
  bool nt = false;
};

class TransportFactory : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("OFSFLASH_SIMULATE");
    unsetenv("OFSFLASH_TRACE");
    std::filesystem::remove(tracePath);
  }
  std::string tracePath =
      (std::filesystem::temp_directory_path() / ("ofs-factory-trace-" + std::to_string(getpid()))).string();
  FakePlatform platform;
};

TEST_F(TransportFactory, FastSimulationRunsOnVirtualTimeWithThePlatformsFamily) {
  setenv("OFSFLASH_SIMULATE", "fast", 1);
  for (bool nt : {false, true}) {
    platform.nt = nt;
    Transport transport = CreateTransportFromEnvironment(platform);
    ASSERT_TRUE(transport.error.empty()) << transport.error;
    ASSERT_TRUE(transport.atapi);
    EXPECT_EQ(transport.atapi->useSpti, nt);
    EXPECT_EQ(transport.atapi->driveCount, 2);
    EXPECT_NE(dynamic_cast<VirtualClock*>(transport.clock.get()), nullptr);
    EXPECT_EQ(&transport.atapi->clock(), transport.clock.get());
  }
}

TEST_F(TransportFactory, AnUnreadableProfileIsAnError) {
  setenv("OFSFLASH_SIMULATE", "/nonexistent/profile.txt", 1);
  const Transport transport = CreateTransportFromEnvironment(platform);
  EXPECT_FALSE(transport.error.empty());
  EXPECT_FALSE(transport.atapi);
}

TEST_F(TransportFactory, TraceCollectsTheSimulatedCommands) {
  setenv("OFSFLASH_SIMULATE", "fast", 1);
  setenv("OFSFLASH_TRACE", tracePath.c_str(), 1);
  Transport transport = CreateTransportFromEnvironment(platform);
  ASSERT_TRUE(transport.atapi);
  TestUnitReady(*transport.atapi, 1);
  PreventMediumRemoval(*transport.atapi, 1, 0);
  std::ifstream in(tracePath);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 34), "1 000000000000000000000000 none 0 ");
  EXPECT_EQ(lines[1], "1 1e0000000000000000000000 none 0 1 - -");
}

}  // namespace
}  // namespace ofs
