#pragma once
// The window's counterpart on a terminal: message-list lines go to stdout, boxes
// to stderr as "<caption>: <text>", questions are answered by policy or asked.
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "flash/MainView.h"
#include "ofstool/JsonWriter.h"
#include "ofstool/ProgressLine.h"
#include "ofstool/Terminal.h"

namespace ofstool {

enum class AnswerPolicy { Ask, Yes, No };

// Where --yes gave up a tray wait that nobody at the machine could end.
enum class TrayLeft { None, Open, DiscInside };

struct ConsoleOptions {
  AnswerPolicy answers = AnswerPolicy::Ask;
  bool reboot = false;        // the restart question is answered OK only then
  bool progressLine = false;  // out is a terminal: draw the progress bar as a line in place
  bool json = false;          // out gets one JSON object per event instead of the texts
  // One view of several updating drives at once: its texts start with "[drive N] ",
  // its JSON events carry the drive, and every view writes under the same lock.
  std::optional<int> drive{};
  std::mutex* outputLock = nullptr;
  std::optional<bool> newerFirmwareAnswer{};  // asked once for all drives beforehand
  bool startupShown = false;  // start-up lines were shown once for all: print from the update's on
  ProgressDisplay* progress = nullptr;      // this drive's bar, drawn by its owner
  // The person's terminal: questions are asked there, and when out is hidden from it
  // the lines and the bar show there too.
  const Terminal* terminal = nullptr;
};

class ConsoleView : public ofs::MainView {
 public:
  ConsoleView(ConsoleOptions options, std::FILE* out, std::FILE* err, std::FILE* in);

  bool IsEnabled(ofs::Control control) const;
  const std::string& Edit1() const { return edit1_; }
  const std::string& Edit2() const { return edit2_; }
  const std::string& LastBoxText() const { return lastBox_; }  // the failure a run ended with
  TrayLeft TrayGivenUp() const { return trayGivenUp_; }
  // The update is over: its own bar leaves the screen (ended by a newline where it stays),
  // so that the next text starts on a line of its own.
  void EndProgress();

  void ClearDrives() override;
  void AddDrive(const std::string& line) override { drives_.push_back(line); }
  void SetDriveText(int item, const std::string& line) override;
  int DriveItemCount() override { return static_cast<int>(drives_.size()); }
  std::string DriveText(int item) override;
  int SelectedDriveItem() override { return selected_; }
  void SelectDriveItem(int item) override { selected_ = item; }
  void SetStatusText(const std::string&) override {}
  void SetEdit1(const std::string& text) override { edit1_ = text; }
  void SetEdit2(const std::string& text) override { edit2_ = text; }
  void AddLine(const std::string& line) override;
  void PostStatusLine(const std::string& line) override { AddLine(line); }
  void ClearLines() override { quiet_ = false; }  // the update sequence begins with it
  void DeleteFirstLine() override {}
  void ClearLineSelection() override {}
  void SetProgress(int position) override;
  int Progress() override { return progress_; }
  void SetEnabled(ofs::Control control, bool enabled) override { enabled_[control] = enabled; }
  void SetVisible(ofs::Control, bool) override {}
  void SetCaption(const std::string&) override {}
  void SetVerifyChecked(bool) override {}
  void SetMenuVisible(ofs::MenuItem, bool) override {}
  void SetMenuChecked(ofs::MenuItem, bool) override {}
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void ShowPlainMessage(const std::string& text) override;
  bool AskOkCancel(const std::string& text, const std::string& caption) override;
  // The terminal's answer already defaults to Cancel.
  bool AskOkCancelDefaultCancel(const std::string& text, const std::string& caption) override {
    return AskOkCancel(text, caption);
  }
  std::string AskOpenFile(const std::string&) override { return {}; }
  std::string AskSaveFile(const std::string&) override { return {}; }
  void Pump() override {}
  void RequestTermination() override {}
  void CloseWindow() override {}

 private:
  bool AskTerminal(const std::string& caption, const std::string& text);
  void PrintBox(const std::string& caption, const std::string& text);
  void WriteBox(std::FILE* to, const std::string& caption, const std::string& text) const;
  void HideProgress();
  void ShowProgress();
  void Emit(const std::string& jsonLine);
  JsonWriter Event(const char* name) const;
  std::unique_lock<std::mutex> OutputLock();
  std::string Tag() const;

  ConsoleOptions options_;
  std::FILE* out_;
  std::FILE* err_;
  std::FILE* in_;
  std::FILE* mirror_ = nullptr;  // the terminal out is hidden from
  std::FILE* ask_ = nullptr;     // the terminal err does not show on
  std::vector<std::string> drives_;
  int selected_ = -1;
  std::string edit1_, edit2_, lastBox_;
  int progress_ = 0;
  std::map<ofs::Control, bool> enabled_;
  int trayPromptsInWait_ = 0;  // a message-list line starts a new wait
  TrayLeft trayGivenUp_ = TrayLeft::None;
  bool quiet_ = false;
  std::unique_ptr<ProgressBoard> progressLine_;
  ProgressDisplay* bar_ = nullptr;  // progressLine_'s or the one given
};

}  // namespace ofstool
