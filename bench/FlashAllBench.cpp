// Many drives at once: ofstool flash --all's engine over eight simulated drives
// with the demo drive's timing on the real clock, against one drive alone in the
// same run, with one 2 MiB type-6 image. The goal is that eight cost at most
// 1.15 times the wall time of one; host CPU time is reported per drive.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "drive/sim/SimBackend.h"
#include "firmware/OfsBuilder.h"
#include "ofstool/FlashAll.h"
#include "support/FakePlatform.h"

namespace ofs {
namespace {

constexpr uint32_t kImageBytes = 2u << 20;
constexpr int kDrives = 8;

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The container in a private file, for the workers to load as ofstool's do.
std::string WriteImage(const std::filesystem::path& dir) {
  build::InquiryTemplate identity;
  identity.offset = 0x200;
  identity.product = "KZR-3350P2";
  identity.revision = "1.02";
  identity.hardwareId = "A1";
  build::OfsLayout layout;
  layout.atapiFlashType = 6;
  const std::vector<uint8_t> container = build::BuildOfs(layout, build::MakeFlatImage(kImageBytes, 1, {identity}));
  const std::string path = (dir / "image.ofs").string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(container.data()),
                                              static_cast<std::streamsize>(container.size()));
  return path;
}

struct RunFigures {
  double wallSeconds = 0;
  double cpuSeconds = 0;
  bool allDone = true;
};

RunFigures FlashAtOnce(int drives, const std::string& image, std::FILE* sink) {
  SimProfile profile = BuiltInDemoProfile(false);
  profile.drives.assign(static_cast<std::size_t>(drives), profile.drives.front());
  std::unique_ptr<Clock> clock = MakeRealClock();
  TAtapiImp atapi(std::make_unique<SimBackend>(profile, *clock), *clock, true);
  test::FakePlatform platform;
  ofstool::ConsoleOptions console;
  console.answers = ofstool::AnswerPolicy::Yes;
  const ofstool::FlashAllSetup setup{atapi, platform, image, std::nullopt, console, sink, sink, nullptr};
  std::vector<int> list;
  for (int d = 0; d < drives; ++d) list.push_back(d);

  RunFigures figures;
  const double cpuStart = ProcessCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (const ofstool::DriveOutcome& outcome : ofstool::FlashDrives(list, setup)) {
    figures.allDone = figures.allDone && outcome.code == 0;
  }
  figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  figures.cpuSeconds = ProcessCpuSeconds() - cpuStart;
  return figures;
}

void BM_FlashAllEightDrivesAgainstOne(benchmark::State& state) {
  std::string dir = (std::filesystem::temp_directory_path() / "ofs-bench-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) return state.SkipWithError("no temporary directory");
  const std::string image = WriteImage(dir);
  std::FILE* sink = std::fopen("/dev/null", "w");
  RunFigures one, eight;
  for (auto _ : state) {
    const RunFigures alone = FlashAtOnce(1, image, sink);
    const RunFigures all = FlashAtOnce(kDrives, image, sink);
    if (!alone.allDone || !all.allDone) state.SkipWithError("an update did not complete");
    one.wallSeconds += alone.wallSeconds;
    eight.wallSeconds += all.wallSeconds;
    eight.cpuSeconds += all.cpuSeconds;
  }
  std::fclose(sink);
  std::filesystem::remove_all(dir);
  const auto runs = static_cast<double>(state.iterations());
  state.counters["one_drive_s"] = one.wallSeconds / runs;
  state.counters["eight_drives_s"] = eight.wallSeconds / runs;
  state.counters["eight_vs_one"] = one.wallSeconds > 0 ? eight.wallSeconds / one.wallSeconds : 0;
  state.counters["cpu_ms_per_drive"] = eight.cpuSeconds / runs / kDrives * 1e3;
}

// Each run takes seconds of real time: a few are enough.
BENCHMARK(BM_FlashAllEightDrivesAgainstOne)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace ofs
