#pragma once
// The yardstick of the host-side benchmarks: one memcpy of the same bytes, timed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ofs {

inline double MemcpySeconds(const std::vector<uint8_t>& source) {
  std::vector<uint8_t> target(source.size());
  const auto start = std::chrono::steady_clock::now();
  std::memcpy(target.data(), source.data(), source.size());
  benchmark::DoNotOptimize(target.data());
  benchmark::ClobberMemory();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace ofs
