#include "ofstool/ProgressLine.h"

#include <algorithm>
#include <cstdint>

namespace ofstool {
namespace {

constexpr int kBarWidth = 24;
constexpr std::size_t kTextWidth = 40;
constexpr auto kTick = std::chrono::milliseconds(250);

// Back to the start of the first of `lines` lines, the cursor being on the last.
std::string ToFirstLine(std::size_t lines) {
  return lines > 1 ? "\r\x1b[" + std::to_string(lines - 1) + "A" : std::string("\r");
}

}  // namespace

class ProgressBoard::BoardRow final : public ProgressDisplay {
 public:
  BoardRow(ProgressBoard& board, std::size_t index) : board_(board), index_(index) {}
  void Set(int value) override { board_.Set(index_, value); }
  void SetText(const std::string& text) override { board_.SetText(index_, text); }
  void Hide() override { board_.Hide(); }
  void Show() override { board_.Show(); }

 private:
  ProgressBoard& board_;
  std::size_t index_;
};

ProgressBoard::ProgressBoard(std::FILE* terminal, int maximum, std::vector<std::string> labels)
    : terminal_(terminal), maximum_(maximum), labels_(std::move(labels)), state_(labels_.size()) {
  for (std::size_t i = 0; i < labels_.size(); ++i) rows_.push_back(std::make_unique<BoardRow>(*this, i));
  ticker_ = std::thread([this] { Tick(); });
}

ProgressDisplay& ProgressBoard::Row(std::size_t index) { return *rows_.at(index); }

ProgressBoard::~ProgressBoard() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    if (onScreen_) std::fputs("\n", terminal_);
    std::fflush(terminal_);
  }
  wake_.notify_all();
  ticker_.join();
}

void ProgressBoard::Set(std::size_t row, int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_[row].value = std::clamp(value, 0, maximum_);
  shown_ = true;
  DrawLocked();
}

void ProgressBoard::SetText(std::size_t row, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_[row].text = text.substr(0, text.find('\n'));
  DrawLocked();
}

void ProgressBoard::Hide() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++hidden_;
  EraseLocked();
  std::fflush(terminal_);
}

void ProgressBoard::Show() {
  std::lock_guard<std::mutex> lock(mutex_);
  hidden_ = std::max(0, hidden_ - 1);
  DrawLocked();
}

void ProgressBoard::EraseLocked() {
  if (onScreen_) std::fputs((ToFirstLine(state_.size()) + "\x1b[J").c_str(), terminal_);
  onScreen_ = false;
}

void ProgressBoard::DrawLocked() {
  if (!shown_ || hidden_ > 0 || stopping_) return;
  std::string screen = onScreen_ ? ToFirstLine(state_.size()) : std::string("\r");
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  char time[32];
  std::snprintf(time, sizeof time, "%lld:%02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  for (std::size_t i = 0; i < state_.size(); ++i) {
    const int filled = static_cast<int>(int64_t{kBarWidth} * state_[i].value / maximum_);
    const int percent = static_cast<int>(int64_t{100} * state_[i].value / maximum_);
    char figures[16];
    std::snprintf(figures, sizeof figures, "] %3d%%  ", percent);
    screen += (i > 0 ? "\n" : "") + std::string("\x1b[K") + labels_[i] + "[" +
              std::string(static_cast<std::size_t>(filled), '#') +
              std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + figures + time + "  " +
              state_[i].text.substr(0, kTextWidth);
  }
  std::fputs(screen.c_str(), terminal_);
  std::fflush(terminal_);
  onScreen_ = true;
}

void ProgressBoard::Tick() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, kTick, [this] { return stopping_; })) DrawLocked();
}

}  // namespace ofstool
