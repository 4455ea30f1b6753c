#pragma once
// Every wait of the program goes through a Clock, so tests and the simulated
// drive can run a 120-second time-out on virtual time.
#include <atomic>
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
// Safe to share between threads, though each thread's sleeps then hurry the others' time.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(Milliseconds start = Milliseconds{0}) : now_(start.count()) {}
  Milliseconds Now() override { return Milliseconds{now_.load()}; }
  void Sleep(Milliseconds duration) override { now_ += duration.count(); }
  void Advance(Milliseconds duration) { now_ += duration.count(); }

 private:
  std::atomic<Milliseconds::rep> now_;
};

}  // namespace ofs
