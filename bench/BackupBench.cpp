// Host-side cost of a backup: the flash of a zero-latency simulated drive (virtual
// clock) read over an image's layout and stored as a container, next to a memcpy of
// the same bytes. 1 MiB is read in 256-byte pieces, 2 MiB in 4096-byte pieces.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "MemcpyTime.h"
#include "drive/sim/SimBackend.h"
#include "firmware/OfsBuilder.h"
#include "ofstool/ConsoleView.h"
#include "ofstool/DriveBackup.h"

namespace ofs {
namespace {

void BackUpSimulatedDrive(benchmark::State& state, uint32_t length) {
  SOFSParameter like;
  like.AtapiFlashType = 6;
  like.MaxBankSize = 0x10000;
  like.BankSizes.assign(length / like.MaxBankSize, like.MaxBankSize);
  SimProfile profile;
  profile.virtualClock = true;
  profile.drives.emplace_back();
  profile.drives[0].latencyMs = 0;
  profile.drives[0].firmware = build::MakeFlatImage(length, 3, {});
  std::FILE* sink = std::fopen("/dev/null", "w");
  ofstool::ConsoleView view({ofstool::AnswerPolicy::No, false}, sink, sink, nullptr);
  const ofstool::BackupRequest request{0, like, length, false, {}};
  double backupSeconds = 0;
  double copySeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    VirtualClock clock;
    TAtapiImp atapi(std::make_unique<SimBackend>(profile, clock), clock, true);
    std::string error;
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    const std::vector<uint8_t> container = ofstool::ReadDriveFirmware(request, atapi, view, error);
    backupSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    if (container.size() <= length) state.SkipWithError(error.c_str());
    copySeconds += MemcpySeconds(profile.drives[0].firmware);
    state.ResumeTiming();
  }
  std::fclose(sink);
  const double mib = static_cast<double>(length) / (1 << 20) * static_cast<double>(state.iterations());
  state.counters["backup_ms_per_MiB"] = backupSeconds * 1e3 / mib;
  state.counters["memcpy_ms_per_MiB"] = copySeconds * 1e3 / mib;
  state.counters["backup_vs_memcpy"] = copySeconds > 0 ? backupSeconds / copySeconds : 0;
  state.SetBytesProcessed(static_cast<int64_t>(length) * state.iterations());
}

void BM_Backup_1MiB(benchmark::State& state) { BackUpSimulatedDrive(state, 1u << 20); }
void BM_Backup_2MiB(benchmark::State& state) { BackUpSimulatedDrive(state, 2u << 20); }

BENCHMARK(BM_Backup_1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Backup_2MiB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ofs
