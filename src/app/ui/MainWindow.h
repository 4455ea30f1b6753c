#pragma once
// The main window. It implements MainView for the controller: every call may come
// from the GUI thread or from the worker thread that runs the update sequence and
// the file load; calls from the worker are marshalled to the GUI thread (lines and
// progress queued, boxes, dialogs and getters blocking) so their order is kept.
#include <QDBusConnection>
#include <QMainWindow>
#include <QPointer>
#include <QThread>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "flash/MainView.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace ofs {

// Set on a message list item that is shown whole on several rows rather than cut.
inline constexpr int kWrappedLineRole = Qt::UserRole;

class RunHistory;
class TAtapiImp;
class TMainForm;

class MainWindow final : public QMainWindow, public MainView {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 386;
  static constexpr int kClientHeight = 554;
  static constexpr int kPanel2Height = 113;

  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // The controller that receives the window's events; set once, before FormCreate.
  void SetController(TMainForm* form) { form_ = form; }
  // The bus that grants the sleep/shutdown lock while flashing (the system bus by default).
  void SetInhibitBus(const QDBusConnection& bus) { inhibitBus_ = bus; }
  // The bus of the desktop portal that holds off logout while flashing (the session bus by default).
  void SetPortalBus(const QDBusConnection& bus) { portalBus_ = bus; }
  // Where each update that writes is recorded, with the transport the controller drives.
  void SetRunHistory(RunHistory* history, TAtapiImp* atapi) {
    history_ = history;
    atapi_ = atapi;
  }
  // For the single-instance guard: may run on any thread, activates on the GUI thread.
  std::function<void()> ActivationHandler();
  // Restores a minimised window and brings it to the front (GUI thread).
  void Activate();
  // Centres the window on its screen (start-up), or within area.
  void CentreOnScreen();
  void CentreIn(const QRect& area);
  bool TerminationRequested() const { return terminationRequested_; }
  // A controller job (update sequence or file load) runs on the worker thread.
  bool Busy() const { return busy_; }
  // False while the controller has the window disabled: it takes no input then.
  bool WindowEnabled() const { return windowEnabled_; }
  // The menu bar (MainMenu1); QMainWindow::menuBar() would replace it by a QMenuBar.
  QWidget* MenuBar() const { return menuBar_; }

  // MainView.
  void ClearDrives() override;
  void AddDrive(const std::string& line) override;
  void SetDriveText(int item, const std::string& line) override;
  int DriveItemCount() override;
  std::string DriveText(int item) override;
  int SelectedDriveItem() override;
  void SelectDriveItem(int item) override;
  void SetStatusText(const std::string& text) override;
  void SetEdit1(const std::string& text) override;
  void SetEdit2(const std::string& text) override;
  void AddLine(const std::string& line) override;
  void PostStatusLine(const std::string& line) override;
  void PostLongLine(const std::string& line) override;
  void ClearLines() override;
  void DeleteFirstLine() override;
  void ClearLineSelection() override;
  void SetProgress(int position) override;
  int Progress() override { return progress_.load(); }
  void SetEnabled(Control control, bool enabled) override;
  void SetVisible(Control control, bool visible) override;
  void SetCaption(const std::string& caption) override;
  void SetVerifyChecked(bool checked) override;
  void SetMenuVisible(MenuItem item, bool visible) override;
  void SetMenuChecked(MenuItem item, bool checked) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void ShowPlainMessage(const std::string& text) override;
  bool AskOkCancel(const std::string& text, const std::string& caption) override;
  bool AskOkCancelDefaultCancel(const std::string& text, const std::string& caption) override;
  std::string AskOpenFile(const std::string& filter) override;
  std::string AskSaveFile(const std::string& filter) override;
  void Pump() override;
  void RequestTermination() override { terminationRequested_ = true; }
  void CloseWindow() override;

 signals:
  // A worker job has ended and the controller may take events again.
  void jobFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildClientArea();
  void BuildMenu();
  void Relayout();
  QWidget* ControlWidget(Control control) const;
  bool OnGuiThread() const { return QThread::currentThread() == thread(); }
  // Runs f on the GUI thread and waits for it (directly when already there).
  template <class F>
  auto Call(F f) -> std::invoke_result_t<F>;
  // Runs f on the GUI thread without waiting (directly when already there).
  void Post(std::function<void()> f);
  // Hands a controller event to the GUI-thread handler unless a worker job runs.
  void Dispatch(const std::function<void(TMainForm&)>& handler);
  // Runs a controller event on the worker thread; ignored while one runs.
  void RunOnWorker(std::function<void(TMainForm&)> job, bool holdSleepLock);
  // The update sequence with its start and end lines in the run history, when there is one.
  void RunRecorded(TMainForm& form, const std::function<void(TMainForm&)>& job);
  std::string AskFile(const char* name, bool save, const std::string& filter);
  bool Ask(const std::string& text, const std::string& caption, bool cancelDefault);
  int ExecBox(QMessageBox& box);
  // A long line wraps onto as many rows as it needs; the others keep to one.
  void AppendLine(const QString& line, bool select, bool wraps = false);
  // A close asked for while a job runs: says why the window stays.
  void ExplainWhyNotClosing();

  TMainForm* form_ = nullptr;
  RunHistory* history_ = nullptr;
  TAtapiImp* atapi_ = nullptr;
  std::string firstBox_;   // the first box of the running job, its failure
  std::string lastLine_;  // the last line of the running job
  bool terminationRequested_ = false;
  bool busy_ = false;
  bool flashing_ = false;  // the running job is the update sequence
  std::atomic<bool> catchingStops_{false};  // the running job holds stop signals in a flag
  QPointer<QMessageBox> closeRefusal_;
  bool windowEnabled_ = true;
  std::atomic<int> progress_{0};
  std::atomic<bool> progressPosted_{false};
  std::optional<QDBusConnection> inhibitBus_;
  std::optional<QDBusConnection> portalBus_;
  std::array<bool, kMenuItemCount> menuChecked_{};

  QWidget* client_ = nullptr;
  QGroupBox* groupBox1_ = nullptr;
  QComboBox* selDevice_ = nullptr;
  QFrame* panel2_ = nullptr;
  QLineEdit* edit1_ = nullptr;
  QPushButton* bitBtn1_ = nullptr;
  QCheckBox* checkVerify_ = nullptr;
  QLineEdit* edit2_ = nullptr;
  QFrame* panel1_ = nullptr;
  QPushButton* bitBtn2_ = nullptr;
  QPushButton* bitBtn4_ = nullptr;
  QListWidget* listBox1_ = nullptr;
  QStatusBar* statusBar1_ = nullptr;
  QLabel* statusPanel0_ = nullptr;
  QProgressBar* progressBar1_ = nullptr;
  QWidget* menuBar_ = nullptr;
  std::array<QAction*, kMenuItemCount> menu_{};

  QThread worker_;
  std::unique_ptr<QObject> workerContext_;
};

}  // namespace ofs
