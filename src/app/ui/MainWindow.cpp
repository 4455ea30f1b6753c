#include "app/ui/MainWindow.h"

#include <QCheckBox>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <csignal>

#include "app/Mainflash.h"
#include "app/RunRecorder.h"
#include "app/ui/DialogFilter.h"
#include "app/ui/DesktopInhibitor.h"
#include "app/ui/SleepInhibitor.h"
#include "system/StopSignals.h"

namespace ofs {

namespace {
QString Text(const std::string& s) { return QString::fromStdString(s); }
constexpr int kStopWatchInterval = 100;  // ms: a stopped program is gone well within a second
}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("MainForm"));
  BuildClientArea();
  BuildMenu();
  layout()->activate();
  workerContext_ = std::make_unique<QObject>();
  workerContext_->moveToThread(&worker_);
  worker_.setObjectName(QStringLiteral("FlashWorker"));
  worker_.start();
  qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
  worker_.quit();
  worker_.wait();
}

std::function<void()> MainWindow::ActivationHandler() {
  // Called on the guard's listener thread; the window is touched only on its own.
  return [this] { QMetaObject::invokeMethod(this, [this] { Activate(); }, Qt::QueuedConnection); };
}

void MainWindow::Activate() {
  if (isHidden()) return;  // start-up has not shown the window
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void MainWindow::CentreOnScreen() {
  if (const QScreen* s = screen()) CentreIn(s->availableGeometry());
}

void MainWindow::CentreIn(const QRect& area) {
  adjustSize();
  const QPoint topLeft = area.center() - rect().center();
  // On a screen lower than the window its caption stays reachable, not its middle.
  move(std::max(topLeft.x(), area.left()), std::max(topLeft.y(), area.top()));
}

template <class F>
auto MainWindow::Call(F f) -> std::invoke_result_t<F> {
  using R = std::invoke_result_t<F>;
  if (OnGuiThread()) return f();
  if constexpr (std::is_void_v<R>) {
    QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
  } else {
    R result{};
    QMetaObject::invokeMethod(this, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
  }
}

void MainWindow::Post(std::function<void()> f) {
  if (OnGuiThread())
    f();
  else
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void MainWindow::Dispatch(const std::function<void(TMainForm&)>& handler) {
  // The controller is not shared between threads: while a job runs it takes no events.
  if (form_ && !busy_) form_->RunJob(handler);
}

void MainWindow::RunOnWorker(std::function<void(TMainForm&)> job, bool holdSleepLock) {
  if (!form_ || busy_) return;
  busy_ = true;
  flashing_ = holdSleepLock;
  TMainForm* form = form_;
  const std::optional<QDBusConnection> bus = inhibitBus_;
  const std::optional<QDBusConnection> portal = portalBus_;
  QMetaObject::invokeMethod(
      workerContext_.get(),
      [this, form, job = std::move(job), holdSleepLock, bus, portal] {
        int stopSignal = 0;
        {
          std::optional<SleepInhibitor> lock;
          std::optional<DesktopInhibitor> desktop;
          std::optional<StopSignalCatch> stops;  // a stop signal waits for the end of the update
          if (holdSleepLock) {
            lock.emplace(bus ? *bus : QDBusConnection::systemBus());
            desktop.emplace(portal ? *portal : QDBusConnection::sessionBus());
            stops.emplace();
            catchingStops_.store(true);
          }
          if (holdSleepLock) {
            RunRecorded(*form, job);
          } else {
            form->RunJob(job);
          }
          if (stops) stopSignal = CaughtStopSignal();
          catchingStops_.store(false);
        }
        // Now it does what it would have done; Esc ends the program as Ctrl-C does.
        if (stopSignal != 0) std::raise(stopSignal == kEscapeKeyStop ? SIGINT : stopSignal);
        QMetaObject::invokeMethod(
            this,
            [this] {
              busy_ = false;
              emit jobFinished();
            },
            Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void MainWindow::RunRecorded(TMainForm& form, const std::function<void(TMainForm&)>& job) {
  if (!history_ || !atapi_) return form.RunJob(job);
  firstBox_.clear();
  lastLine_.clear();
  RunRecorder recorder(*history_, form, *this, *atapi_, kApplicationTitle);
  form.RunJob(job);
  if (form.lastUpdate == TMainForm::UpdateOutcome::FlashedNotVerified)
    return recorder.End(kNotVerifiedResult, kNotVerifiedAdvice, kRunExitNotVerified);
  const bool completed = form.lastUpdate == TMainForm::UpdateOutcome::Completed;
  // The failure is the box's first line; the box with its way back is the advice.
  const std::string advice = completed ? std::string("All Completed!") : firstBox_.empty() ? lastLine_ : firstBox_;
  recorder.End(RunResultOf(advice), advice, RunExitCode(completed, recorder.Touched()));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A disabled window cannot be closed, and the controller must finish its job first.
  if (busy_ || !WindowEnabled()) {
    event->ignore();
    if (busy_) ExplainWhyNotClosing();
    return;
  }
  if (form_ && form_->mayHoldIncompleteFirmware &&
      !AskOkCancelDefaultCancel("The drive may hold incomplete firmware. Close anyway?", "Warning!")) {
    event->ignore();
    return;
  }
  if (form_) form_->FormClose();
  event->accept();
}

void MainWindow::ExplainWhyNotClosing() {
  if (closeRefusal_) return closeRefusal_->raise();
  // Not modal to the job: the flash goes on while the box is up.
  auto* box = new QMessageBox(QMessageBox::Warning, Text(kApplicationTitle),
                              flashing_ ? QStringLiteral("The drive is being flashed: closing now could damage it. "
                                                         "The window can be closed when the update has ended.")
                                        : QStringLiteral("The window can be closed when the current step has ended."),
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setTextFormat(Qt::PlainText);
  closeRefusal_ = box;
  box->open();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // While a job runs the controller takes no events, so the window takes no input either:
  // a click would change a control (the Verify box, the drive list) behind its back.
  if (windowEnabled_ && !busy_) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin: {
      // Boxes and dialogs are windows of their own and stay usable.
      auto* widget = qobject_cast<QWidget*>(watched);
      return widget && widget->window() == this;
    }
    default:
      return false;
  }
}

void MainWindow::ClearDrives() {
  Post([this] { selDevice_->clear(); });
}

void MainWindow::AddDrive(const std::string& line) {
  Post([this, t = Text(line)] { selDevice_->addItem(t); });
}

void MainWindow::SetDriveText(int item, const std::string& line) {
  Post([this, item, t = Text(line)] {
    if (item >= 0 && item < selDevice_->count()) selDevice_->setItemText(item, t);
  });
}

int MainWindow::DriveItemCount() {
  return Call([this] { return selDevice_->count(); });
}

std::string MainWindow::DriveText(int item) {
  return Call([this, item] { return selDevice_->itemText(item).toStdString(); });
}

int MainWindow::SelectedDriveItem() {
  return Call([this] { return selDevice_->currentIndex(); });
}

void MainWindow::SelectDriveItem(int item) {
  Post([this, item] { selDevice_->setCurrentIndex(item); });
}

void MainWindow::SetStatusText(const std::string& text) {
  Post([this, t = Text(text)] { statusPanel0_->setText(t); });
}

void MainWindow::SetEdit1(const std::string& text) {
  Post([this, t = Text(text)] { edit1_->setText(t); });
}

void MainWindow::SetEdit2(const std::string& text) {
  Post([this, t = Text(text)] { edit2_->setText(t); });
}

void MainWindow::AppendLine(const QString& line, bool select, bool wraps) {
  auto* item = new QListWidgetItem(line, listBox1_);
  item->setToolTip(line);  // the whole line, also where the list cuts it off
  item->setData(kWrappedLineRole, wraps);
  if (select) listBox1_->setCurrentRow(listBox1_->count() - 1);
  listBox1_->scrollToBottom();
}

void MainWindow::AddLine(const std::string& line) {
  lastLine_ = line;
  Post([this, t = Text(line)] { AppendLine(t, false); });
}

void MainWindow::PostStatusLine(const std::string& line) {
  lastLine_ = line;
  Post([this, t = Text(line)] { AppendLine(t, true); });
}

void MainWindow::PostLongLine(const std::string& line) {
  lastLine_ = line;
  Post([this, t = Text(line)] { AppendLine(t, true, true); });
}

void MainWindow::ClearLines() {
  Post([this] { listBox1_->clear(); });
}

void MainWindow::DeleteFirstLine() {
  Post([this] { delete listBox1_->takeItem(0); });
}

void MainWindow::ClearLineSelection() {
  Post([this] {
    listBox1_->clearSelection();
    listBox1_->setCurrentRow(-1);
  });
}

void MainWindow::SetProgress(int position) {
  progress_.store(position);
  if (OnGuiThread()) {
    progressBar1_->setValue(position);
    return;
  }
  // One update in flight at a time: a per-byte loop only moves the latest value.
  if (progressPosted_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        progressPosted_.store(false);
        progressBar1_->setValue(progress_.load());
      },
      Qt::QueuedConnection);
}

void MainWindow::SetEnabled(Control control, bool enabled) {
  Post([this, control, enabled] {
    if (control == Control::Window) {
      // Like a disabled native window: no input, but the message list and the
      // progress stay readable (disabled widgets would turn grey).
      windowEnabled_ = enabled;
      menuBar_->setEnabled(enabled);
    } else if (QWidget* w = ControlWidget(control)) {
      w->setEnabled(enabled);
    }
  });
}

void MainWindow::SetVisible(Control control, bool visible) {
  Post([this, control, visible] {
    if (QWidget* w = ControlWidget(control)) w->setVisible(visible);
    if (control == Control::Panel2) Relayout();
  });
}

void MainWindow::SetCaption(const std::string& caption) {
  Post([this, t = Text(caption)] { setWindowTitle(t); });
}

void MainWindow::SetVerifyChecked(bool checked) {
  Post([this, checked] { checkVerify_->setChecked(checked); });
}

void MainWindow::SetMenuVisible(MenuItem item, bool visible) {
  Post([this, item, visible] { menu_[static_cast<std::size_t>(item)]->setVisible(visible); });
}

void MainWindow::SetMenuChecked(MenuItem item, bool checked) {
  Post([this, item, checked] {
    menuChecked_[static_cast<std::size_t>(item)] = checked;
    menu_[static_cast<std::size_t>(item)]->setChecked(checked);
  });
}

void MainWindow::ShowMessage(const std::string& text, const std::string& caption) {
  if (firstBox_.empty()) firstBox_ = text;  // the failure's own box, not a later one
  Call([this, &text, &caption] {
    const auto icon = caption == "Error" ? QMessageBox::Critical : QMessageBox::NoIcon;
    QMessageBox box(icon, Text(caption), Text(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    ExecBox(box);
  });
}

void MainWindow::ShowPlainMessage(const std::string& text) {
  ShowMessage(text, kApplicationTitle);
}

bool MainWindow::Ask(const std::string& text, const std::string& caption, bool cancelDefault) {
  return Call([this, &text, &caption, cancelDefault] {
    QMessageBox box(QMessageBox::Warning, Text(caption), Text(text), QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(cancelDefault ? QMessageBox::Cancel : QMessageBox::Ok);
    return ExecBox(box) == QMessageBox::Ok;
  });
}

// A stop signal caught by the update ends it at a box as it would at its next command,
// unless a drive is being written: the box goes as if cancelled, the update ends, and
// the signal does what it would have done.
int MainWindow::ExecBox(QMessageBox& box) {
  QTimer watch;
  connect(&watch, &QTimer::timeout, &box, [this, &box] {
    if (catchingStops_.load() && CaughtStopSignal() != 0 && !WritePhaseActive()) box.reject();
  });
  watch.start(kStopWatchInterval);
  return box.exec();
}

bool MainWindow::AskOkCancel(const std::string& text, const std::string& caption) { return Ask(text, caption, false); }

bool MainWindow::AskOkCancelDefaultCancel(const std::string& text, const std::string& caption) {
  return Ask(text, caption, true);
}

std::string MainWindow::AskFile(const char* name, bool save, const std::string& filter) {
  return Call([this, name, save, &filter] {
    QFileDialog dialog(this);
    dialog.setObjectName(QString::fromLatin1(name));
    ConfigureFileDialog(dialog, filter, save);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::string();
    return dialog.selectedFiles().constFirst().toStdString();
  });
}

std::string MainWindow::AskOpenFile(const std::string& filter) { return AskFile("OpenDialog1", false, filter); }

std::string MainWindow::AskSaveFile(const std::string& filter) { return AskFile("SaveDialog1", true, filter); }

void MainWindow::Pump() {
  // Lines and progress are already queued to the window; the worker only gives way.
  if (!OnGuiThread()) QThread::yieldCurrentThread();
}

void MainWindow::CloseWindow() {
  // Queued, so FormClose never runs inside the handler that asked for the close.
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

}  // namespace ofs
