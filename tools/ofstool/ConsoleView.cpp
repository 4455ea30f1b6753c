#include "ofstool/ConsoleView.h"

#include <cctype>
#include <cstring>

#include "app/Mainflash.h"
#include "ofstool/JsonWriter.h"
#include "ofstool/OutputGuard.h"

namespace ofstool {
namespace {

// With --yes, the third prompt of one tray wait means the disc is still inside:
// give up instead of looping forever.
constexpr int kUnattendedTrayPrompts = 2;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsRestartQuestion(const std::string& text) { return text == ofs::kRestartQuestion; }

bool IsNewerFirmwareQuestion(const std::string& caption) { return caption == "Warning!"; }

// What a tray prompt asks a person to mend, or None for any other question.
TrayLeft TrayPromptAbout(const std::string& text) {
  if (StartsWith(text, "Please close the tray")) return TrayLeft::Open;
  return StartsWith(text, "Please remove your disc") ? TrayLeft::DiscInside : TrayLeft::None;
}

}  // namespace

ConsoleView::ConsoleView(ConsoleOptions options, std::FILE* out, std::FILE* err, std::FILE* in)
    : options_(options), out_(out), err_(err), in_(in) {
  if (const Terminal* terminal = options_.terminal) {
    if (!options_.json && terminal->Hidden(out_)) mirror_ = terminal->Stream();
    if (!terminal->Shows(err_)) ask_ = terminal->Stream();
  }
  if (options_.progressLine) {
    progressLine_ = std::make_unique<ProgressBoard>(mirror_ != nullptr ? mirror_ : out_, ofs::kProgressMax,
                                                    std::vector<std::string>{""});
    bar_ = &progressLine_->Row(0);
  }
  quiet_ = options_.startupShown;
  if (options_.progress != nullptr) bar_ = options_.progress;
}

std::unique_lock<std::mutex> ConsoleView::OutputLock() {
  return options_.outputLock != nullptr ? std::unique_lock<std::mutex>(*options_.outputLock)
                                        : std::unique_lock<std::mutex>();
}

std::string ConsoleView::Tag() const {
  return options_.drive ? "[drive " + std::to_string(*options_.drive) + "] " : std::string();
}

JsonWriter ConsoleView::Event(const char* name) const {
  JsonWriter event;
  event.BeginObject().Key("event").String(name);
  if (options_.drive) event.Key("drive").Number(*options_.drive);
  return event;
}

void ConsoleView::SetProgress(int position) {
  progress_ = position;
  if (bar_ != nullptr) bar_->Set(position);
  if (options_.json) {
    const auto lock = OutputLock();
    Emit(Event("progress").Key("value").Number(position).Key("max").Number(ofs::kProgressMax).EndObject().Text());
  }
}

void ConsoleView::EndProgress() {
  if (!progressLine_) return;
  bar_ = nullptr;
  progressLine_.reset();
}

void ConsoleView::Emit(const std::string& jsonLine) {
  std::fputs(jsonLine.c_str(), out_);
  FlushOrSilence(out_);
}

void ConsoleView::HideProgress() {
  if (bar_ != nullptr) bar_->Hide();
}

void ConsoleView::ShowProgress() {
  if (bar_ != nullptr) bar_->Show();
}

bool ConsoleView::IsEnabled(ofs::Control control) const {
  auto it = enabled_.find(control);
  return it == enabled_.end() || it->second;
}

void ConsoleView::ClearDrives() {
  drives_.clear();
  selected_ = -1;
}

void ConsoleView::SetDriveText(int item, const std::string& line) {
  if (item >= 0 && item < static_cast<int>(drives_.size())) drives_[item] = line;
}

std::string ConsoleView::DriveText(int item) {
  if (item < 0 || item >= static_cast<int>(drives_.size())) return {};
  return drives_[item];
}

// Lines go above the progress line, which then shows the latest of them.
void ConsoleView::AddLine(const std::string& line) {
  trayPromptsInWait_ = 0;
  if (quiet_) return;
  const auto lock = OutputLock();
  if (options_.json) return Emit(Event("line").Key("text").String(line).EndObject().Text());
  HideProgress();
  for (std::FILE* to : {out_, mirror_}) {
    if (to == nullptr) continue;
    std::fprintf(to, "%s%s\n", Tag().c_str(), line.c_str());
    FlushOrSilence(to);
  }
  if (bar_ != nullptr) bar_->SetText(line);
  ShowProgress();
}

void ConsoleView::PrintBox(const std::string& caption, const std::string& text) {
  HideProgress();
  WriteBox(err_, caption, text);
  ShowProgress();
}

void ConsoleView::WriteBox(std::FILE* to, const std::string& caption, const std::string& text) const {
  const bool endsWithNewline = !text.empty() && text.back() == '\n';
  std::fprintf(to, "%s%s: %s%s", Tag().c_str(), caption.c_str(), text.c_str(), endsWithNewline ? "" : "\n");
  FlushOrSilence(to);
}

// A box: its text for a person on stderr, and an event for a JSON reader.
void ConsoleView::ShowMessage(const std::string& text, const std::string& caption) {
  const auto lock = OutputLock();
  lastBox_ = text.substr(0, text.find_last_not_of('\n') + 1);
  PrintBox(caption, text);
  if (options_.json) Emit(Event("box").Key("caption").String(caption).Key("text").String(text).EndObject().Text());
}

void ConsoleView::ShowPlainMessage(const std::string& text) { ShowMessage(text, ofs::kApplicationTitle); }

bool ConsoleView::AskOkCancel(const std::string& text, const std::string& caption) {
  // One of several drives: the newer-firmware question was asked once for all
  // before any write, the restart is offered once after all have finished.
  if (options_.newerFirmwareAnswer && IsNewerFirmwareQuestion(caption)) return *options_.newerFirmwareAnswer;
  if (options_.drive && IsRestartQuestion(text)) return false;
  const auto lock = OutputLock();
  // Nothing typed before the question shows answers it.
  if (options_.answers == AnswerPolicy::Ask && !IsRestartQuestion(text)) DiscardTypedAhead(in_);
  PrintBox(caption, text);
  // The ticker must not draw over the question and its answer.
  HideProgress();
  bool answer = false;
  if (IsRestartQuestion(text)) {
    answer = options_.reboot;
  } else if (options_.answers == AnswerPolicy::Yes) {
    const TrayLeft tray = TrayPromptAbout(text);
    answer = tray == TrayLeft::None || ++trayPromptsInWait_ <= kUnattendedTrayPrompts;
    if (!answer) trayGivenUp_ = tray;
  } else if (options_.answers == AnswerPolicy::Ask) {
    answer = AskTerminal(caption, text);
  }
  std::fprintf(err_, "%s-> %s\n", Tag().c_str(), answer ? "OK" : "Cancel");
  FlushOrSilence(err_);
  if (options_.json) {
    Emit(Event("question").Key("caption").String(caption).Key("text").String(text).Key("answer").Bool(answer)
             .EndObject().Text());
  }
  ShowProgress();
  return answer;
}

// The person answers where the question shows, with the box it is about above it.
bool ConsoleView::AskTerminal(const std::string& caption, const std::string& text) {
  std::FILE* ask = ask_ != nullptr ? ask_ : err_;
  if (ask_ != nullptr) WriteBox(ask_, caption, text);
  std::fprintf(ask, "[OK/Cancel]? ");
  FlushOrSilence(ask);
  char reply[64] = {};
  const bool read = in_ != nullptr && ReadReplyLine(in_, reply, sizeof reply);
  // Ctrl-D leaves the line open: the next text starts on a line of its own.
  if (std::strchr(reply, '\n') == nullptr) std::fputs("\n", ask);
  if (!read) return false;
  const int first = std::tolower(static_cast<unsigned char>(reply[0]));
  return first == 'o' || first == 'y';
}

}  // namespace ofstool
