// Host-side cost of a flash: a 2 MiB type-6 image and a 1 MiB type-1 image
// flashed into a zero-latency simulated drive on the virtual clock, next to a
// memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "drive/AtapiImp.h"
#include "drive/CommandTrace.h"
#include "drive/sim/SimBackend.h"
#include "firmware/Firmware.h"
#include "flash/FlashProcedures.h"
#include "MemcpyTime.h"
#include "firmware/OfsBuilder.h"
#include "ofstool/ConsoleView.h"

namespace ofs {
namespace {

void FlashIntoSimulatedDrive(benchmark::State& state, uint8_t flashType, uint32_t length) {
  build::InquiryTemplate identity;
  identity.offset = 0x200;
  std::vector<uint8_t> image = build::MakeFlatImage(length, 1, {identity});
  SOFSParameter parameter;
  parameter.AtapiFlashType = flashType;
  parameter.MaxBankSize = 0x20000;  // type 1: capped transfers computed from the length
  // The drive programs only a commit whose checksum is the sum of what it received, and a
  // capped transfer leaves out the last two bytes of every bank.
  for (std::size_t end = 0x10000; end <= image.size(); end += 0x10000) image[end - 2] = image[end - 1] = 0;
  parameter.HeaderCheckSum = static_cast<uint16_t>(ComputeImageCheckSum(image.data(), image.size(), parameter));
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
    auto backend = std::make_unique<SimBackend>(profile, clock);
    const std::vector<uint8_t>& flash = backend->Drive(0).Flash();
    TAtapiImp atapi(std::move(backend), clock, true);
    FlashContext ctx{atapi, view, image.data(), length, parameter, 0, sense, false, false};
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    if (FlashByType(ctx, 0)) state.SkipWithError("flash failed");
    flashSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    if (!std::equal(image.begin(), image.end(), flash.begin())) state.SkipWithError("the drive did not program");
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
