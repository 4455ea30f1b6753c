#pragma once
// Every wait of the program goes through a Clock, so tests and the simulated
// drive can run a 120-second time-out on virtual time.
#include <chrono>
#include <cstdint>
#include <memory>

namespace ofs {

class Clock {
 public:
  using Milliseconds = std::chrono::milliseconds;
  virtual ~Clock() = default;
  // Monotonic time since an arbitrary start.
  virtual Milliseconds Now() = 0;
  virtual void Sleep(Milliseconds duration) = 0;
};

std::unique_ptr<Clock> MakeRealClock();

// Time moves only when someone sleeps (or Advance is called); Sleep returns at once.
class VirtualClock final : public Clock {
 public:
  Milliseconds Now() override { return now_; }
  void Sleep(Milliseconds duration) override { now_ += duration; }
  void Advance(Milliseconds duration) { now_ += duration; }

 private:
  Milliseconds now_{0};
};

}  // namespace ofs
