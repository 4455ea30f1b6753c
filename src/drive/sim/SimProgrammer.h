#pragma once
// The drive's download area and its flash programming over clock time: data is
// collected bank by bank, a commit queues a programming run over the banks
// received, and a run copies them into the flash when its time is up.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace ofs {

inline constexpr uint32_t kSimBankSize = 0x10000;

struct SimProgramRun {
  int firstBank = 0;
  int endBank = 0;          // one past the last bank
  bool kernel = false;      // started by WRITE BUFFER mode 7 over 16 banks
  std::chrono::milliseconds start{0};
  std::chrono::milliseconds duration{0};
};

struct SimProgress {
  bool active = false;
  int bank = 0;          // bank being programmed
  uint16_t count = 0;    // 0..65535 over the run
};

class SimProgrammer {
 public:
  using Milliseconds = std::chrono::milliseconds;

  explicit SimProgrammer(std::vector<uint8_t>& flash);

  // Stores data at a flash offset; false (nothing stored) when any byte lies outside.
  // The first write to a bank in a session clears that bank of the download area,
  // so bytes the host never sends program as zeros.
  bool Store(uint64_t offset, const uint8_t* data, uint32_t length);
  void ClearSession();
  bool SessionEmpty() const { return sessionBanks_ == 0; }
  int SessionBankCount() const { return sessionBanks_; }
  int SessionFirstBank() const;
  int SessionEndBank() const;
  bool SessionHasBank(int bank) const;
  // Download bytes [offset, offset + length), clipped to the flash.
  uint32_t DownloadSum(uint32_t offset, uint32_t length) const;
  bool DownloadEquals(uint32_t offset, const uint8_t* data, uint32_t length) const;

  // Queues a run over the session's banks (after any run still going) and ends the
  // session; an empty session queues nothing.
  void Start(bool kernel, Milliseconds now, Milliseconds duration);
  // Commits every run that ended by `now`; a run never ends while `frozen`.
  SimProgress Advance(Milliseconds now, bool frozen, const std::function<void(const SimProgramRun&)>& onCommit);
  bool Busy() const { return !runs_.empty(); }

 private:
  std::vector<uint8_t>& flash_;
  std::vector<uint8_t> download_;
  std::vector<bool> touched_;
  int sessionBanks_ = 0;
  std::deque<SimProgramRun> runs_;
};

}  // namespace ofs
