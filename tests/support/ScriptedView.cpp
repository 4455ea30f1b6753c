#include "support/ScriptedView.h"

namespace ofs::test {

bool ScriptedView::IsEnabled(Control c) const {
  auto it = enabled.find(c);
  return it == enabled.end() || it->second;
}

std::vector<std::string> ScriptedView::BoxTexts() const {
  std::vector<std::string> texts;
  for (const Box& b : boxes) texts.push_back(b.text);
  return texts;
}

void ScriptedView::ClearDrives() {
  drives.clear();
  selectedDrive = -1;
}

void ScriptedView::AddDrive(const std::string& line) { drives.push_back(line); }

void ScriptedView::SetDriveText(int item, const std::string& line) {
  if (item >= 0 && item < static_cast<int>(drives.size())) drives[item] = line;
}

std::string ScriptedView::DriveText(int item) {
  if (item < 0 || item >= static_cast<int>(drives.size())) return {};
  return drives[item];
}

void ScriptedView::AddLine(const std::string& line) {
  if (onLine) onLine(line);
  lines.push_back(line);
  allLines.push_back(line);
  events.push_back("line:" + line);
}

void ScriptedView::PostStatusLine(const std::string& line) {
  AddLine(line);
  selectedLine = static_cast<int>(lines.size()) - 1;
}

void ScriptedView::ClearLines() {
  lines.clear();
  selectedLine = -1;
  events.push_back("clear");
}

void ScriptedView::DeleteFirstLine() {
  if (!lines.empty()) lines.erase(lines.begin());
  if (selectedLine >= 0) --selectedLine;
}

void ScriptedView::SetProgress(int position) {
  progress = position;
  progressHistory.push_back(position);
}

void ScriptedView::ShowMessage(const std::string& text, const std::string& boxCaption) {
  boxes.push_back({text, boxCaption, false, false});
  events.push_back("box:" + boxCaption + ":" + text);
}

void ScriptedView::ShowPlainMessage(const std::string& text) {
  boxes.push_back({text, "", false, false});
  events.push_back("plain:" + text);
}

bool ScriptedView::AskOkCancel(const std::string& text, const std::string& boxCaption) {
  if (onQuestion) onQuestion(text);
  bool answer = defaultAnswer;
  if (!answers.empty()) {
    answer = answers.front();
    answers.pop_front();
  }
  boxes.push_back({text, boxCaption, true, answer});
  events.push_back("ask:" + boxCaption + ":" + text);
  return answer;
}

bool ScriptedView::AskOkCancelDefaultCancel(const std::string& text, const std::string& boxCaption) {
  const bool answer = AskOkCancel(text, boxCaption);
  boxes.back().cancelDefault = true;
  return answer;
}

std::string ScriptedView::AskOpenFile(const std::string& filter) {
  lastFilter = filter;
  if (openFiles.empty()) return {};
  std::string f = openFiles.front();
  openFiles.pop_front();
  return f;
}

std::string ScriptedView::AskSaveFile(const std::string& filter) {
  lastFilter = filter;
  if (saveFiles.empty()) return {};
  std::string f = saveFiles.front();
  saveFiles.pop_front();
  return f;
}

}  // namespace ofs::test
