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

namespace ofs {
namespace {

// A screen that only keeps the bar: the engine's cost without a window's.
class NullView final : public MainView {
 public:
  void ClearDrives() override {}
  void AddDrive(const std::string&) override {}
  void SetDriveText(int, const std::string&) override {}
  int DriveItemCount() override { return 0; }
  std::string DriveText(int) override { return {}; }
  int SelectedDriveItem() override { return -1; }
  void SelectDriveItem(int) override {}
  void SetStatusText(const std::string&) override {}
  void SetEdit1(const std::string&) override {}
  void SetEdit2(const std::string&) override {}
  void AddLine(const std::string&) override {}
  void PostStatusLine(const std::string&) override {}
  void ClearLines() override {}
  void DeleteFirstLine() override {}
  void ClearLineSelection() override {}
  void SetProgress(int position) override { progress_ = position; }
  int Progress() override { return progress_; }
  void SetEnabled(Control, bool) override {}
  void SetVisible(Control, bool) override {}
  void SetCaption(const std::string&) override {}
  void SetVerifyChecked(bool) override {}
  void SetMenuVisible(MenuItem, bool) override {}
  void SetMenuChecked(MenuItem, bool) override {}
  void ShowMessage(const std::string&, const std::string&) override {}
  void ShowPlainMessage(const std::string&) override {}
  bool AskOkCancel(const std::string&, const std::string&) override { return true; }
  std::string AskOpenFile(const std::string&) override { return {}; }
  std::string AskSaveFile(const std::string&) override { return {}; }
  void Pump() override {}
  void RequestTermination() override {}
  void CloseWindow() override {}

 private:
  int progress_ = 0;
};

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
  NullView view;
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
}

void BM_FlashType6_2MiB(benchmark::State& state) { FlashIntoSimulatedDrive(state, 6, 2u << 20); }
void BM_FlashType1_1MiB(benchmark::State& state) { FlashIntoSimulatedDrive(state, 1, 1u << 20); }

BENCHMARK(BM_FlashType6_2MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlashType1_1MiB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ofs
