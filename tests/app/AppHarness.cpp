#include "app/AppHarness.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "drive/CommandTrace.h"
#include "params/Parameter.h"
#include "params/Tool.h"

namespace ofs::test {
namespace fs = std::filesystem;

std::string BinaryPath(const std::string& relative) {
  if (const char* root = std::getenv("OFS_BINARY_DIR")) return std::string(root) + "/" + relative;
  // Without the variable: this test program lives in <build>/tests.
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return (self.parent_path().parent_path() / relative).string();
}

build::InquiryTemplate Drive0Template(const std::string& revision) {
  build::InquiryTemplate t;
  t.offset = 0x200;
  t.vendor = "ORVA";
  t.product = "KZR-3350P2";
  t.revision = revision;
  t.hardwareId = "A1";
  t.extension = "061201";
  return t;
}

build::InquiryTemplate Drive1Template(const std::string& revision) {
  build::InquiryTemplate t = Drive0Template(revision);
  t.product = "KZW-5520";
  t.hardwareId = "B2";
  t.extension = "050930";
  return t;
}

TestImage MakeImage(const build::InquiryTemplate& id, uint8_t atapiFlashType, uint32_t seed) {
  TestImage image;
  image.flat = build::MakeFlatImage(0x40000, seed, {id});
  build::OfsLayout layout;
  layout.atapiFlashType = atapiFlashType;
  image.container = build::BuildOfs(layout, image.flat);
  return image;
}

std::vector<uint8_t> MakePhilipsFile(uint32_t bodyLength, const std::optional<build::InquiryTemplate>& id) {
  std::vector<build::InquiryTemplate> templates;
  if (id) templates.push_back(*id);
  const std::vector<uint8_t> body = build::MakeFlatImage(bodyLength, 5, templates);
  return build::BuildPhilips("Philips test image", body, 0x1234, 0x5678, false);
}

std::vector<uint8_t> ParameterArea(const std::vector<std::pair<std::string, std::string>>& replacements,
                                   const std::vector<std::string>& extraModelNames) {
  Lines lines = defaultParameterText();
  for (const auto& [from, to] : replacements) {
    for (std::string& line : lines) {
      if (line == from) {
        line = to;
        break;
      }
    }
  }
  const auto models = std::find(lines.begin(), lines.end(), "[AvailableModelNames]");
  lines.insert(models + 1, extraModelNames.begin(), extraModelNames.end());
  const std::string text = JoinLines(lines);
  std::vector<uint8_t> area(text.begin(), text.end());
  area.resize(area.size() + 64, 0);
  return area;
}

AppHarness::AppHarness(SimProfile profile, bool nt) {
  platform.isNt = nt;
  if (const char* tmp = std::getenv("TMPDIR")) savedTmpdir_ = tmp;
  std::string pattern = (fs::temp_directory_path() / "ofsapp-XXXXXX").string();
  dir = mkdtemp(pattern.data());
  // The loader's private files land here, so a test sees only its own.
  setenv("TMPDIR", dir.c_str(), 1);
  auto backend = std::make_unique<SimBackend>(profile, clock);
  sim = backend.get();
  atapi = std::make_unique<TAtapiImp>(std::move(backend), clock, nt);
}

AppHarness::~AppHarness() {
  form_.reset();
  if (savedTmpdir_) {
    setenv("TMPDIR", savedTmpdir_->c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

EmbeddedAreas AppHarness::Areas() const {
  EmbeddedAreas areas;
  areas.cvt = cvt;
  for (int i = 0; i < 3; ++i) areas.ofs3[i] = ofs3[i];
  areas.parameter = parameter;
  return areas;
}

TMainForm& AppHarness::Form() {
  if (!form_) form_ = std::make_unique<TMainForm>(AppServices{view, *atapi, platform, settings, Areas()});
  return *form_;
}

std::string AppHarness::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string AppHarness::WriteZip(const std::string& name, const std::vector<std::string>& memberPaths) {
  const std::string path = dir + "/" + name;
  std::string command = BinaryPath("tools/samples/mkzip") + " " + path;
  for (const std::string& member : memberPaths) command += " " + member;
  return std::system(command.c_str()) == 0 ? path : std::string();
}

std::vector<std::string> AppHarness::LeftoverTemporaryFiles() const {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("ofsflash-", 0) == 0) found.push_back(name);
  }
  return found;
}

}  // namespace ofs::test
