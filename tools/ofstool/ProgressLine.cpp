#include "ofstool/ProgressLine.h"

#include <algorithm>

namespace ofstool {
namespace {

constexpr int kBarWidth = 24;
constexpr std::size_t kTextWidth = 40;
constexpr auto kTick = std::chrono::milliseconds(250);
constexpr char kClearLine[] = "\r\x1b[K";

}  // namespace

ProgressLine::ProgressLine(std::FILE* terminal, int maximum)
    : terminal_(terminal), maximum_(maximum), ticker_([this] { Tick(); }) {}

ProgressLine::~ProgressLine() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    if (onScreen_) std::fputs("\n", terminal_);
    std::fflush(terminal_);
  }
  wake_.notify_all();
  ticker_.join();
}

void ProgressLine::Set(int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  value_ = std::clamp(value, 0, maximum_);
  shown_ = true;
  DrawLocked();
}

void ProgressLine::SetText(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  text_ = text.substr(0, text.find('\n'));
  DrawLocked();
}

void ProgressLine::Hide() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++hidden_;
  if (onScreen_) std::fputs(kClearLine, terminal_);
  std::fflush(terminal_);
  onScreen_ = false;
}

void ProgressLine::Show() {
  std::lock_guard<std::mutex> lock(mutex_);
  hidden_ = std::max(0, hidden_ - 1);
  DrawLocked();
}

void ProgressLine::DrawLocked() {
  if (!shown_ || hidden_ > 0 || stopping_) return;
  const int filled = static_cast<int>(int64_t{kBarWidth} * value_ / maximum_);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_).count();
  const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                          std::string(static_cast<std::size_t>(kBarWidth - filled), '.');
  std::fprintf(terminal_, "%s[%s] %3d%%  %lld:%02lld  %s", kClearLine, bar.c_str(),
               static_cast<int>(int64_t{100} * value_ / maximum_), static_cast<long long>(seconds / 60),
               static_cast<long long>(seconds % 60), text_.substr(0, kTextWidth).c_str());
  std::fflush(terminal_);
  onScreen_ = true;
}

void ProgressLine::Tick() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, kTick, [this] { return stopping_; })) DrawLocked();
}

}  // namespace ofstool
