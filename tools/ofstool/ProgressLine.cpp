#include "ofstool/ProgressLine.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ofstool/OutputGuard.h"

namespace ofstool {
namespace {

constexpr int kBarWidth = 24;
constexpr int kShortestBar = 8;  // narrower than this, the figures alone
constexpr int kAssumedColumns = 80;  // a terminal that tells no width
constexpr int kTenths = 10;
constexpr auto kTick = std::chrono::milliseconds(250);

// Set on SIGWINCH: the next drawing asks the terminal for its width again.
std::atomic<bool> g_resized{false};
std::mutex g_watchMutex;
int g_watchers = 0;
struct sigaction g_previousResize {};

void OnResize(int) { g_resized.store(true); }

void WatchResize() {
  const std::lock_guard<std::mutex> lock(g_watchMutex);
  if (g_watchers++ > 0) return;
  struct sigaction action {};
  action.sa_handler = OnResize;
  action.sa_flags = SA_RESTART;  // a resize never interrupts a wait for the drive
  sigemptyset(&action.sa_mask);
  sigaction(SIGWINCH, &action, &g_previousResize);
}

void UnwatchResize() {
  const std::lock_guard<std::mutex> lock(g_watchMutex);
  if (--g_watchers == 0) sigaction(SIGWINCH, &g_previousResize, nullptr);
}

int Columns(std::FILE* terminal) {
  winsize size{};
  if (ioctl(fileno(terminal), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kAssumedColumns;
}

bool WithoutCursorControls() {
  const char* term = std::getenv("TERM");
  return term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0;
}

// At most `width` bytes, not cutting a UTF-8 character in two.
std::string Fitted(std::string line, std::size_t width) {
  if (line.size() <= width) return line;
  while (width > 0 && (static_cast<unsigned char>(line[width]) & 0xC0) == 0x80) --width;
  line.resize(width);
  return line;
}

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
    : terminal_(terminal),
      plain_(WithoutCursorControls()),
      columns_(Columns(terminal)),
      maximum_(maximum),
      labels_(std::move(labels)),
      state_(labels_.size()) {
  for (std::size_t i = 0; i < labels_.size(); ++i) rows_.push_back(std::make_unique<BoardRow>(*this, i));
  if (!plain_) WatchResize();
  ticker_ = std::thread([this] { Tick(); });
}

ProgressDisplay& ProgressBoard::Row(std::size_t index) { return *rows_.at(index); }

ProgressBoard::~ProgressBoard() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    // A bar that never moved, or is done, tells nothing after the end.
    if (std::all_of(state_.begin(), state_.end(), [](const RowState& row) { return row.peak == 0 || row.Done(); })) {
      EraseLocked();
    } else if (onScreen_) {
      std::fputs("\n", terminal_);
    }
    FlushOrSilence(terminal_);
  }
  wake_.notify_all();
  ticker_.join();
  if (!plain_) UnwatchResize();
}

void ProgressBoard::Set(std::size_t row, int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  RowState& state = state_[row];
  state.value = std::clamp(value, 0, maximum_);
  state.peak = std::max(state.peak, state.value);
  shown_ = true;
  DrawLocked();
  // Done: a new run of the bar starts from nothing.
  if (state.Done()) state.tenthPrinted = 0;
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
  FlushOrSilence(terminal_);
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

// One terminal line, short of the last column so that it never wraps.
std::string ProgressBoard::RowLine(std::size_t row, const std::string& time) const {
  const RowState& state = state_[row];
  const std::size_t width = static_cast<std::size_t>(std::max(columns_ - 1, 1));
  if (state.Done()) return Fitted(labels_[row] + state.text, width);
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(int64_t{100} * state.value / maximum_));
  const std::string figures = std::string(percent) + "  " + time;
  const int room = static_cast<int>(width) - static_cast<int>(labels_[row].size() + figures.size()) - 3;
  std::string line = labels_[row];
  if (room >= kShortestBar) {
    const int bar = std::min(kBarWidth, room);
    const int filled = static_cast<int>(int64_t{bar} * state.value / maximum_);
    line += "[" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(bar - filled), '.') + "] ";
  }
  line += figures;
  if (!state.text.empty()) line += "  " + state.text;
  return Fitted(line, width);
}

void ProgressBoard::DrawLocked() {
  if (!shown_ || hidden_ > 0 || stopping_) return;
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  char time[32];
  std::snprintf(time, sizeof time, "%lld:%02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  if (plain_) return DrawPlainLocked(time);
  if (std::all_of(state_.begin(), state_.end(), [](const RowState& row) { return row.Done(); })) {
    EraseLocked();
    FlushOrSilence(terminal_);
    return;
  }
  if (g_resized.exchange(false)) columns_ = Columns(terminal_);
  std::string screen = onScreen_ ? ToFirstLine(state_.size()) : std::string("\r");
  for (std::size_t i = 0; i < state_.size(); ++i) screen += (i > 0 ? "\n" : "") + std::string("\x1b[K") + RowLine(i, time);
  std::fputs(screen.c_str(), terminal_);
  FlushOrSilence(terminal_);
  onScreen_ = true;
}

// Whole lines only: a row's line each time it reaches a further tenth.
void ProgressBoard::DrawPlainLocked(const std::string& time) {
  for (std::size_t i = 0; i < state_.size(); ++i) {
    RowState& row = state_[i];
    const int tenth = static_cast<int>(int64_t{kTenths} * row.value / maximum_);
    if (tenth <= row.tenthPrinted) continue;
    row.tenthPrinted = tenth;
    std::fprintf(terminal_, "%s\n", RowLine(i, time).c_str());
  }
  FlushOrSilence(terminal_);
}

void ProgressBoard::Tick() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, kTick, [this] { return stopping_; })) DrawLocked();
}

}  // namespace ofstool
