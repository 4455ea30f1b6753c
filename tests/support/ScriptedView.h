#pragma once
// A MainView that records every call and answers questions and dialogs from a script.
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "flash/MainView.h"

namespace ofs::test {

struct Box {
  std::string text;
  std::string caption;  // "" for the plain box
  bool question = false;
  bool answer = false;  // what a question was answered
  bool cancelDefault = false;  // Cancel was the default button
};

class ScriptedView : public MainView {
 public:
  // Script: answers for AskOkCancel in order; when exhausted, defaultAnswer.
  std::deque<bool> answers;
  bool defaultAnswer = false;
  std::function<void(const std::string&)> onQuestion;  // called with each question's text as it is asked
  std::deque<std::string> openFiles;  // AskOpenFile answers ("" = cancel)
  std::deque<std::string> saveFiles;
  std::function<void(const std::string&)> onLine;  // runs as each line is added: a seam to throw from

  // Recorded state.
  std::vector<std::string> drives;
  int selectedDrive = -1;
  std::string statusText, edit1, edit2, caption;
  std::vector<std::string> lines;
  int selectedLine = -1;
  int progress = 0;
  std::vector<int> progressHistory;
  std::map<Control, bool> enabled;
  std::map<Control, bool> visible;
  std::map<MenuItem, bool> menuVisible, menuChecked;
  bool verifyChecked = false;
  std::vector<Box> boxes;
  std::vector<std::string> allLines;  // every line ever added, in order, never cleared
  std::vector<std::string> events;    // one entry per call that shows something, in order
  int pumps = 0;
  bool terminationRequested = false;
  bool closed = false;

  bool IsEnabled(Control c) const;  // controls start enabled unless set otherwise
  std::vector<std::string> BoxTexts() const;

  void ClearDrives() override;
  void AddDrive(const std::string& line) override;
  void SetDriveText(int item, const std::string& line) override;
  int DriveItemCount() override { return static_cast<int>(drives.size()); }
  std::string DriveText(int item) override;
  int SelectedDriveItem() override { return selectedDrive; }
  void SelectDriveItem(int item) override { selectedDrive = item; }
  void SetStatusText(const std::string& text) override { statusText = text; }
  void SetEdit1(const std::string& text) override { edit1 = text; }
  void SetEdit2(const std::string& text) override { edit2 = text; }
  void AddLine(const std::string& line) override;
  void PostStatusLine(const std::string& line) override;
  void ClearLines() override;
  void DeleteFirstLine() override;
  void ClearLineSelection() override { selectedLine = -1; }
  void SetProgress(int position) override;
  int Progress() override { return progress; }
  void SetEnabled(Control control, bool on) override { enabled[control] = on; }
  void SetVisible(Control control, bool on) override { visible[control] = on; }
  void SetCaption(const std::string& text) override { caption = text; }
  void SetVerifyChecked(bool checked) override { verifyChecked = checked; }
  void SetMenuVisible(MenuItem item, bool on) override { menuVisible[item] = on; }
  void SetMenuChecked(MenuItem item, bool on) override { menuChecked[item] = on; }
  void ShowMessage(const std::string& text, const std::string& boxCaption) override;
  void ShowPlainMessage(const std::string& text) override;
  bool AskOkCancel(const std::string& text, const std::string& boxCaption) override;
  bool AskOkCancelDefaultCancel(const std::string& text, const std::string& boxCaption) override;
  std::string AskOpenFile(const std::string& filter) override;
  std::string AskSaveFile(const std::string& filter) override;
  void Pump() override { ++pumps; }
  void RequestTermination() override { terminationRequested = true; }
  void CloseWindow() override { closed = true; }

  std::string lastFilter;
};

}  // namespace ofs::test
