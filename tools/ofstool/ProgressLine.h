#pragma once
// The window's progress bar on a terminal: one line, redrawn in place, with the
// percentage, a bar, the elapsed time and the latest status line. A ticker
// redraws it every quarter second, so a long wait still shows time passing.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace ofstool {

class ProgressLine {
 public:
  ProgressLine(std::FILE* terminal, int maximum);
  ~ProgressLine();  // the line stays, ended
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Set(int value);  // the first value puts the line on the screen
  void SetText(const std::string& text);
  // Takes the line off the screen while a caller prints or asks; Show puts it back.
  void Hide();
  void Show();

 private:
  void DrawLocked();
  void Tick();

  std::FILE* terminal_;
  const int maximum_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool shown_ = false;   // a value arrived
  int hidden_ = 0;       // nested Hide calls
  bool onScreen_ = false;
  int value_ = 0;
  std::string text_;
  std::thread ticker_;
};

}  // namespace ofstool
