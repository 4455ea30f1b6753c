// Host-side cost of a whole update: the Start button's sequence with a 2 MiB
// type-6 image and read-back verification on a zero-latency simulated drive
// (virtual clock), against a memcpy of the same bytes in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/Mainflash.h"
#include "drive/CommandTrace.h"
#include "drive/sim/SimBackend.h"
#include "system/MemorySettingStore.h"
#include "UpdateFixture.h"
// The terminal's view, writing to /dev/null: the same screen calls ofstool makes.
#include "ofstool/ConsoleView.h"

namespace ofs {
namespace {

using bench::Fixture;
using bench::kImageBytes;
using bench::QuietPlatform;

void BM_UpdateWithReadBackVerification(benchmark::State& state) {
  const Fixture fixture;
  std::FILE* sink = std::fopen("/dev/null", "w");
  std::vector<uint8_t> copy(fixture.flat.size());
  double updateSeconds = 0;
  double copySeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    VirtualClock clock;
    TAtapiImp atapi(std::make_unique<SimBackend>(fixture.profile, clock), clock, true);
    ofstool::ConsoleView view({ofstool::AnswerPolicy::Yes, false}, sink, sink, nullptr);
    QuietPlatform platform;
    MemorySettingStore settings;
    EmbeddedAreas areas;
    areas.ofs3[0] = fixture.container;
    areas.parameter = fixture.parameter;
    TMainForm form({view, atapi, platform, settings, areas});
    form.FormCreate();
    state.ResumeTiming();

    const auto start = std::chrono::steady_clock::now();
    form.BitBtn2Click();
    updateSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    state.PauseTiming();
    if (form.lastUpdate != TMainForm::UpdateOutcome::Completed) state.SkipWithError("the update did not complete");
    const auto copyStart = std::chrono::steady_clock::now();
    std::memcpy(copy.data(), fixture.flat.data(), copy.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
    copySeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - copyStart).count();
    state.ResumeTiming();
  }
  std::fclose(sink);
  const double mib = static_cast<double>(kImageBytes) / (1 << 20) * static_cast<double>(state.iterations());
  state.counters["update_ms_per_MiB"] = updateSeconds / mib * 1e3;
  state.counters["memcpy_ms_per_MiB"] = copySeconds / mib * 1e3;
  state.counters["update_vs_memcpy"] = copySeconds > 0 ? updateSeconds / copySeconds : 0;
  state.SetBytesProcessed(static_cast<int64_t>(kImageBytes) * state.iterations());
}

BENCHMARK(BM_UpdateWithReadBackVerification)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ofs
