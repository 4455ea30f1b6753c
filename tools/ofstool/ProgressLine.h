#pragma once
// The window's progress bar on a terminal: one line per drive, redrawn in place
// under the lines printed above, each with the percentage, a bar, the elapsed
// time and the drive's latest status line, fitted to the terminal's width. A
// ticker redraws every quarter second, so a long wait still shows time passing.
// A bar whose value went back to 0 is done and leaves the screen. On a terminal
// without cursor controls (TERM dumb or unset) each tenth reached is a plain line.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ofstool {

// Where a console view draws its progress bar.
class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;
  virtual void Set(int value) = 0;  // the first value puts the bars on the screen
  virtual void SetText(const std::string& text) = 0;
  // Takes the bars off the screen while a caller prints or asks; Show puts them back.
  virtual void Hide() = 0;
  virtual void Show() = 0;
};

class ProgressBoard {
 public:
  // labels: what each line starts with ("" for a single bar).
  ProgressBoard(std::FILE* terminal, int maximum, std::vector<std::string> labels);
  ~ProgressBoard();  // the lines stay, ended, unless no bar has moved or every one is done
  ProgressBoard(const ProgressBoard&) = delete;
  ProgressBoard& operator=(const ProgressBoard&) = delete;

  ProgressDisplay& Row(std::size_t index);

 private:
  class BoardRow;
  struct RowState {
    int value = 0;
    int peak = 0;          // the highest value since the bar was last done
    int tenthPrinted = 0;  // plain lines: the last tenth printed
    std::string text;
    bool Done() const { return peak > 0 && value == 0; }
  };
  void Set(std::size_t row, int value);
  void SetText(std::size_t row, const std::string& text);
  void Hide();
  void Show();
  void EraseLocked();
  void DrawLocked();
  void DrawPlainLocked(const std::string& time);
  std::string RowLine(std::size_t row, const std::string& time) const;
  void Tick();

  std::FILE* terminal_;
  const bool plain_;  // no cursor controls
  int columns_;
  const int maximum_;
  const std::vector<std::string> labels_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::vector<std::unique_ptr<BoardRow>> rows_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool shown_ = false;  // a value arrived
  int hidden_ = 0;      // nested Hide calls
  bool onScreen_ = false;
  std::vector<RowState> state_;
  std::thread ticker_;
};

}  // namespace ofstool
