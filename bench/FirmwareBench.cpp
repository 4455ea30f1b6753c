// Container handling over a 2 MiB OFS3 image, beside a plain memcpy of the same
// size: descrambling and the checksums should stay within 4x of memcpy.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "firmware/Encode.h"
#include "firmware/Firmware.h"
#include "firmware/Ofs.h"
#include "firmware/OfsBuilder.h"

namespace {

constexpr std::size_t kImageSize = 2 << 20;

struct Sample {
  std::vector<uint8_t> container;
  std::vector<uint8_t> flat;
  ofs::SOFSParameter parameter;

  Sample() {
    ofs::build::OfsLayout layout;
    layout.slotSize = 0x10000;
    layout.reservedBlocks = {{0x1000, 4}, {0x1FD00, 0x300}};
    layout.kernelLength = 0x8000;
    ofs::build::InquiryTemplate boot, main;
    boot.offset = 0x400;
    boot.revision = "BOOT";
    main.offset = kImageSize - 0x1000;
    container = ofs::build::BuildOfs(layout, ofs::build::MakeFlatImage(kImageSize, 1, {boot, main}));
    flat.resize(ofs::GetFirmwareImageSize(container.data(), container.size()));
    ofs::ParseFirmwareImage(container.data(), container.size(), parameter, flat.data(), flat.size());
  }
};

const Sample& TheSample() {
  static const Sample sample;
  return sample;
}

void Finish(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kImageSize));
}

void BM_Memcpy(benchmark::State& state) {
  const Sample& s = TheSample();
  std::vector<uint8_t> out(kImageSize);
  for (auto _ : state) {
    std::memcpy(out.data(), s.flat.data(), kImageSize);
    benchmark::ClobberMemory();
  }
  Finish(state);
}

void BM_Descramble(benchmark::State& state) {
  std::vector<uint8_t> buffer = TheSample().flat;
  for (auto _ : state) {
    ofs::ScrambleBytes(buffer.data(), buffer.size(), 0x5A);
    benchmark::ClobberMemory();
  }
  Finish(state);
}

// As a caller does it: zero the flat image, then parse into it.
void Reparse(const Sample& s, std::vector<uint8_t>& flat, ofs::SOFSParameter& p) {
  std::fill(flat.begin(), flat.end(), 0);
  benchmark::DoNotOptimize(ofs::ParseFirmwareImage(s.container.data(), s.container.size(), p, flat.data(), flat.size()));
  benchmark::ClobberMemory();
}

void BM_ParseAndDescramble(benchmark::State& state) {
  const Sample& s = TheSample();
  std::vector<uint8_t> flat(s.flat.size());
  ofs::SOFSParameter parameter;
  for (auto _ : state) Reparse(s, flat, parameter);
  Finish(state);
}

void BothChecksums(const std::vector<uint8_t>& flat, const ofs::SOFSParameter& p) {
  benchmark::DoNotOptimize(ofs::ComputeImageCheckSum(flat.data(), flat.size(), p));
  benchmark::DoNotOptimize(ofs::ComputeFixedDataCheckSum(flat.data(), flat.size(), p));
}

void IdentityTexts(const std::vector<uint8_t>& flat, uint8_t type) {
  benchmark::DoNotOptimize(ofs::GetImageModelName(flat.data(), flat.size()));
  benchmark::DoNotOptimize(ofs::GetImageFirmwareVersion(flat.data(), flat.size(), type));
  benchmark::DoNotOptimize(ofs::GetImageHardwareId(flat.data(), flat.size()));
  benchmark::DoNotOptimize(ofs::GetImageInquiryExtension(flat.data(), flat.size(), type));
}

void BM_BothChecksums(benchmark::State& state) {
  const Sample& s = TheSample();
  for (auto _ : state) BothChecksums(s.flat, s.parameter);
  Finish(state);
}

void BM_IdentityTexts(benchmark::State& state) {
  const Sample& s = TheSample();
  for (auto _ : state) IdentityTexts(s.flat, s.parameter.AtapiFlashType);
  Finish(state);
}

// Everything the program does with a freshly loaded container.
void BM_LoadedContainerWhole(benchmark::State& state) {
  const Sample& s = TheSample();
  std::vector<uint8_t> flat(s.flat.size());
  ofs::SOFSParameter p;
  for (auto _ : state) {
    Reparse(s, flat, p);
    BothChecksums(flat, p);
    IdentityTexts(flat, p.AtapiFlashType);
  }
  Finish(state);
}

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Descramble);
BENCHMARK(BM_ParseAndDescramble);
BENCHMARK(BM_BothChecksums);
BENCHMARK(BM_IdentityTexts);
BENCHMARK(BM_LoadedContainerWhole);

}  // namespace
