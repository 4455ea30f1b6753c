// Host-side cost of a flash: a 2 MiB type-6 image and a 1 MiB type-1 image
// flashed into a zero-latency simulated drive on the virtual clock, next to a
// memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>

#include "drive/AtapiImp.h"
#include "drive/CommandTrace.h"
#include "drive/sim/SimBackend.h"
#include "flash/FlashProcedures.h"
#include "mkofs/OfsBuilder.h"
#include "ofstool/ConsoleView.h"

namespace ofs {
namespace {

double MemcpySeconds(const std::vector<uint8_t>& source) {
  std::vector<uint8_t> target(source.size());
  const auto start = std::chrono::steady_clock::now();
  std::memcpy(target.data(), source.data(), source.size());
  benchmark::DoNotOptimize(target.data());
  benchmark::ClobberMemory();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void FlashIntoSimulatedDrive(benchmark::State& state, uint8_t flashType, uint32_t length) {
  build::InquiryTemplate identity;
  identity.offset = 0x200;
  std::vector<uint8_t> image = build::MakeFlatImage(length, 1, {identity});
  SOFSParameter parameter;
  parameter.AtapiFlashType = flashType;
  parameter.MaxBankSize = 0x20000;  // type 1: capped transfers computed from the length
  SimProfile profile;
  profile.virtualClock = true;
  profile.drives.emplace_back();
  profile.drives[0].latencyMs = 0;
  // The terminal's view with its output discarded: the engine's cost without a window's.
  std::FILE* sink = std::fopen("/dev/null", "w");
  ofstool::ConsoleView view({ofstool::AnswerPolicy::Yes, false}, sink, sink, nullptr);
  SenseData sense{};
  double flashSeconds = 0;
  double copySeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    VirtualClock clock;
    TAtapiImp atapi(std::make_unique<SimBackend>(profile, clock), clock, true);
    FlashContext ctx{atapi, view, image.data(), length, parameter, 0, sense, false, false};
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    if (FlashByType(ctx, 0)) state.SkipWithError("flash failed");
    flashSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    copySeconds += MemcpySeconds(image);
    state.ResumeTiming();
  }
  const double mib = static_cast<double>(length) / (1 << 20) * static_cast<double>(state.iterations());
  state.counters["flash_ms_per_MiB"] = flashSeconds * 1e3 / mib;
  state.counters["memcpy_ms_per_MiB"] = copySeconds * 1e3 / mib;
  state.counters["ratio_to_memcpy"] = copySeconds > 0 ? flashSeconds / copySeconds : 0;
  state.SetBytesProcessed(static_cast<int64_t>(length) * state.iterations());
  std::fclose(sink);
}

void BM_FlashType6_2MiB(benchmark::State& state) { FlashIntoSimulatedDrive(state, 6, 2u << 20); }
void BM_FlashType1_1MiB(benchmark::State& state) { FlashIntoSimulatedDrive(state, 1, 1u << 20); }

BENCHMARK(BM_FlashType6_2MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlashType1_1MiB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ofs
