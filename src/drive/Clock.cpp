#include "drive/Clock.h"

#include <thread>

namespace ofs {
namespace {

class RealClock final : public Clock {
 public:
  Milliseconds Now() override {
    return std::chrono::duration_cast<Milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
  }
  void Sleep(Milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

}  // namespace

std::unique_ptr<Clock> MakeRealClock() { return std::make_unique<RealClock>(); }

}  // namespace ofs
