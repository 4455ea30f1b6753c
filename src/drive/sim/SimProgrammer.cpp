#include "drive/sim/SimProgrammer.h"

#include <algorithm>
#include <cstring>

namespace ofs {

SimProgrammer::SimProgrammer(std::vector<uint8_t>& flash)
    : flash_(flash), download_(flash.size(), 0), touched_(flash.size() / kSimBankSize, false) {}

bool SimProgrammer::Store(uint64_t offset, const uint8_t* data, uint32_t length) {
  if (offset + length > download_.size()) return false;
  const uint64_t lastByte = length == 0 ? offset : offset + length - 1;
  for (uint64_t bank = offset / kSimBankSize; bank <= lastByte / kSimBankSize && bank < touched_.size(); ++bank) {
    if (touched_[bank]) continue;
    touched_[bank] = true;
    ++sessionBanks_;
    std::fill_n(download_.begin() + static_cast<std::ptrdiff_t>(bank * kSimBankSize), kSimBankSize, uint8_t{0});
  }
  if (length > 0) std::memcpy(download_.data() + offset, data, length);
  return true;
}

void SimProgrammer::ClearSession() {
  std::fill(touched_.begin(), touched_.end(), false);
  sessionBanks_ = 0;
}

int SimProgrammer::SessionFirstBank() const {
  const auto it = std::find(touched_.begin(), touched_.end(), true);
  return static_cast<int>(it - touched_.begin());
}

int SimProgrammer::SessionEndBank() const {
  const auto it = std::find(touched_.rbegin(), touched_.rend(), true);
  return static_cast<int>(touched_.rend() - it);
}

bool SimProgrammer::SessionHasBank(int bank) const {
  return bank >= 0 && static_cast<std::size_t>(bank) < touched_.size() && touched_[static_cast<std::size_t>(bank)];
}

uint32_t SimProgrammer::DownloadSum(uint32_t offset, uint32_t length) const {
  const std::size_t begin = std::min<std::size_t>(offset, download_.size());
  const std::size_t end = std::min<std::size_t>(std::size_t{offset} + length, download_.size());
  uint32_t sum = 0;
  for (std::size_t i = begin; i < end; ++i) sum += download_[i];
  return sum;
}

bool SimProgrammer::DownloadEquals(uint32_t offset, const uint8_t* data, uint32_t length) const {
  return std::size_t{offset} + length <= download_.size() && std::memcmp(download_.data() + offset, data, length) == 0;
}

void SimProgrammer::Start(bool kernel, Milliseconds now, Milliseconds duration) {
  if (SessionEmpty()) return;
  SimProgramRun run;
  run.firstBank = SessionFirstBank();
  run.endBank = SessionEndBank();
  run.kernel = kernel;
  run.start = runs_.empty() ? now : std::max(now, runs_.back().start + runs_.back().duration);
  run.duration = duration;
  runs_.push_back(run);
  ClearSession();
}

SimProgress SimProgrammer::Advance(Milliseconds now, bool frozen,
                                   const std::function<void(const SimProgramRun&)>& onCommit) {
  while (!runs_.empty()) {
    const SimProgramRun& run = runs_.front();
    const Milliseconds elapsed = std::max(Milliseconds{0}, now - run.start);
    if (frozen || elapsed < run.duration) {
      // A frozen run stalls just before its end.
      const auto span = std::max<int64_t>(run.duration.count(), 1);
      const int64_t done = std::min<int64_t>(elapsed.count(), span - 1);
      SimProgress progress;
      progress.active = true;
      progress.bank = run.firstBank + static_cast<int>(done * (run.endBank - run.firstBank) / span);
      progress.count = static_cast<uint16_t>(done * 65535 / span);
      return progress;
    }
    const auto begin = static_cast<std::ptrdiff_t>(std::size_t(run.firstBank) * kSimBankSize);
    const auto end = static_cast<std::ptrdiff_t>(std::size_t(run.endBank) * kSimBankSize);
    std::copy(download_.begin() + begin, download_.begin() + end, flash_.begin() + begin);
    const SimProgramRun finished = run;
    runs_.pop_front();
    onCommit(finished);
  }
  return {};
}

}  // namespace ofs
