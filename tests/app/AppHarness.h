#pragma once
// The controller on simulated drives, a scripted view, a fake platform and an
// in-memory setting store, with its embedded areas held in test buffers.
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/Mainflash.h"
#include "drive/Clock.h"
#include "drive/sim/SimBackend.h"
#include "firmware/OfsBuilder.h"
#include "support/FakePlatform.h"
#include "support/ScriptedView.h"
#include "system/MemorySettingStore.h"

namespace ofs::test {

// An executable of this build (OFS_BINARY_DIR is set for every test).
std::string BinaryPath(const std::string& relative);

// Identity of demo drive 0 and demo drive 1 as an image's INQUIRY template carries it.
build::InquiryTemplate Drive0Template(const std::string& revision = "1.02");
build::InquiryTemplate Drive1Template(const std::string& revision = "2.12");

struct TestImage {
  std::vector<uint8_t> flat;
  std::vector<uint8_t> container;
};
TestImage MakeImage(const build::InquiryTemplate& id, uint8_t atapiFlashType = 6, uint32_t seed = 7);
// As a file holds it; a body with an INQUIRY template answers INQUIRY once flashed.
std::vector<uint8_t> MakePhilipsFile(uint32_t bodyLength, const std::optional<build::InquiryTemplate>& id = {});

// Parameter text with whole lines of the built-in text replaced, e.g. {"Updater=0", "Updater=1"}.
std::vector<uint8_t> ParameterArea(const std::vector<std::pair<std::string, std::string>>& replacements,
                                   const std::vector<std::string>& extraModelNames = {});

class AppHarness {
 public:
  explicit AppHarness(SimProfile profile = BuiltInDemoProfile(true), bool nt = true);
  ~AppHarness();

  // Built on first use, from the areas as they are then.
  TMainForm& Form();
  SimulatedDrive& Drive(int index) { return sim->Drive(index); }
  EmbeddedAreas Areas() const;
  // Writes bytes to a file in the test's own directory and returns its path.
  std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes);
  // Packs files of that directory into a zip archive there, in the given order.
  std::string WriteZip(const std::string& name, const std::vector<std::string>& memberPaths);
  // Files the loader left in the temporary directory (TMPDIR points into dir).
  std::vector<std::string> LeftoverTemporaryFiles() const;
  std::string dir;

  VirtualClock clock;
  SimBackend* sim = nullptr;  // owned by atapi
  std::unique_ptr<TAtapiImp> atapi;
  ScriptedView view;
  FakePlatform platform;
  MemorySettingStore settings;

  std::vector<uint8_t> parameter{0};  // 0 = the built-in text
  std::array<std::vector<uint8_t>, 3> ofs3;
  std::vector<uint8_t> cvt;

 private:
  std::unique_ptr<TMainForm> form_;
  std::optional<std::string> savedTmpdir_;
};

}  // namespace ofs::test
