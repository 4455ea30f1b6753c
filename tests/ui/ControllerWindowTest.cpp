// The real controller behind the real window, on simulated drives and virtual time:
// both personalities at start, the menu commands, the drive list, a whole update
// driven by clicks with the dialogs answered by a script, and the sleep lock.
#include <poll.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <functional>

#include "app/AppHarness.h"
#include "app/Mainflash.h"
#include "app/ui/MainWindow.h"
#include "app/ui/WrappingMenuBar.h"
#include "drive/CommandTrace.h"
#include "drive/sim/SimBackend.h"
#include "system/RunHistory.h"

using namespace ofs;

namespace {

volatile std::sig_atomic_t g_terms = 0;

struct SeenBox {
  QString caption, text;
  bool question = false;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool cancelDefault = false;
};

// Answers every modal box and file dialog the window opens, from a script.
class DialogAnswerer : public QObject {
 public:
  std::function<bool(const QString& text)> answer = [](const QString&) { return false; };
  QString openPath, savePath;
  QList<SeenBox> boxes;
  QStringList dialogs;  // "name: caption;;caption" of each file dialog
  std::function<void()> onQuestion;  // runs while a question is on screen
  std::function<void()> onMessage;   // runs while a box with OK alone is on screen
  bool leaveQuestionsOpen = false;   // questions stay up for the program to close

  DialogAnswerer() {
    connect(&timer_, &QTimer::timeout, this, &DialogAnswerer::Poll);
    timer_.start(5);
  }

  QStringList Texts() const {
    QStringList texts;
    for (const SeenBox& b : boxes) texts << b.text;
    return texts;
  }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      const bool question = box->button(QMessageBox::Cancel) != nullptr;
      if (box == leftOpen_) return;
      boxes.append({box->windowTitle(), box->text(), question, box->icon(),
                    question && box->defaultButton() == box->button(QMessageBox::Cancel)});
      if (question && onQuestion) onQuestion();
      if (!question && onMessage) onMessage();
      if (question && leaveQuestionsOpen) {
        leftOpen_ = box;
        return;
      }
      box->done(question && answer(box->text()) ? QMessageBox::Ok
                                                : (question ? QMessageBox::Cancel : QMessageBox::Ok));
    } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      QStringList shown;  // the filter captions as the dialog shows them
      if (auto* types = dialog->findChild<QComboBox*>("fileTypeCombo")) {
        for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
      }
      dialogs << dialog->objectName() + ": " + shown.join(";;");
      const QString path = dialog->objectName() == QLatin1String("SaveDialog1") ? savePath : openPath;
      if (path.isEmpty()) {
        dialog->reject();
      } else {
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog's own accept is protected
      }
    }
  }
  QTimer timer_;
  QMessageBox* leftOpen_ = nullptr;
};

// Stands in for the login manager on the private session bus.
class FakeLogin1 : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
 public:
  QStringList requests;
  int heldReadEnd = -1;
  ~FakeLogin1() override {
    if (heldReadEnd >= 0) close(heldReadEnd);
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-login1"));
  }
  // Registers on the private session bus and points the window there; false without one
  // (the window then gets no bus, as on a machine without a login manager).
  bool ServeFor(MainWindow& window) {
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-login1"));
    const bool served = bus.isConnected() && bus.registerService(QStringLiteral("org.freedesktop.login1")) &&
                        bus.registerObject(QStringLiteral("/org/freedesktop/login1"), this,
                                           QDBusConnection::ExportAllSlots);
    window.SetInhibitBus(served ? QDBusConnection::sessionBus() : QDBusConnection(QStringLiteral("none")));
    return served;
  }
  // Open while the lock holder keeps its end.
  bool LockOpen() const {
    pollfd p{heldReadEnd, POLLIN, 0};
    return heldReadEnd >= 0 && poll(&p, 1, 0) == 0;
  }
 public slots:
  QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode) {
    requests << what + "|" + who + "|" + why + "|" + mode;
    int fds[2];
    if (pipe(fds) != 0) return {};
    heldReadEnd = fds[0];
    QDBusUnixFileDescriptor lock(fds[1]);
    close(fds[1]);
    return lock;
  }
};

// The request object the fake portal hands out; Close gives the inhibition back.
class FakePortalRequest : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
 public:
  int closes = 0;
 public slots:
  void Close() { ++closes; }
};

// Stands in for the desktop portal on the private session bus.
class FakePortal : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
 public:
  static constexpr char kRequestPath[] = "/org/freedesktop/portal/desktop/request/fake/1";
  QStringList requests;
  FakePortalRequest request;
  ~FakePortal() override { QDBusConnection::disconnectFromBus(QStringLiteral("fake-portal")); }
  bool ServeFor(MainWindow& window) {
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-portal"));
    const bool served =
        bus.isConnected() && bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")) &&
        bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this, QDBusConnection::ExportAllSlots) &&
        bus.registerObject(QString::fromLatin1(kRequestPath), &request, QDBusConnection::ExportAllSlots);
    window.SetPortalBus(served ? QDBusConnection::sessionBus() : QDBusConnection(QStringLiteral("none")));
    return served;
  }
  // Asked for and not yet given back.
  bool Held() const { return requests.size() == 1 && request.closes == 0; }
 public slots:
  QDBusObjectPath Inhibit(const QString& window, uint flags, const QVariantMap& options) {
    requests << window + "|" + QString::number(flags) + "|" + options.value(QStringLiteral("reason")).toString();
    return QDBusObjectPath(QString::fromLatin1(kRequestPath));
  }
};

// Virtual time with a hook on every sleep: a seam to throw from inside a job.
class SeamClock : public Clock {
 public:
  std::function<void()> onSleep;
  Milliseconds Now() override { return time_.Now(); }
  void Sleep(Milliseconds duration) override {
    if (onSleep) onSleep();
    time_.Sleep(duration);
  }

 private:
  VirtualClock time_;
};

// The controller as main() builds it, but on a simulated profile and the test's clock.
struct WindowHarness {
  explicit WindowHarness(SimProfile profile = BuiltInDemoProfile(true)) : files(profile) {
    auto backend = std::make_unique<SimBackend>(profile, clock);
    sim = backend.get();
    atapi = std::make_unique<TAtapiImp>(std::move(backend), clock, true);
    parameter.push_back(0);  // the built-in text
  }
  void Start() {
    areas.parameter = parameter;
    for (int i = 0; i < 3; ++i) areas.ofs3[i] = ofs3[i];
    form = std::make_unique<TMainForm>(AppServices{window, *atapi, platform, settings, areas});
    window.SetController(form.get());
    form->FormCreate();
    window.show();
  }
  template <class T>
  T* Find(const char* name) {
    return window.findChild<T*>(QString::fromLatin1(name));
  }
  QAction* Menu(const char* name) { return Find<QAction>(name); }
  QStringList Lines() {
    QStringList lines;
    auto* list = Find<QListWidget>("ListBox1");
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
  }
  QString Status() { return Find<QLabel>("StatusPanel0")->text(); }
  // Clicks a button whose handler runs on the worker, and waits until it ends.
  bool ClickAndWait(const char* button) {
    QSignalSpy finished(&window, &MainWindow::jobFinished);
    QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton);
    return finished.wait(60000);
  }
  // Picks a freshly written file in the open dialog; loading runs on the worker.
  bool LoadThroughDialog(DialogAnswerer& answers, const std::string& name, const std::vector<uint8_t>& bytes) {
    answers.openPath = QString::fromStdString(files.WriteFile(name, bytes));
    return ClickAndWait("BitBtn1");
  }

  test::AppHarness files;  // only for its files and images
  SeamClock clock;
  SimBackend* sim = nullptr;  // owned by atapi
  std::unique_ptr<TAtapiImp> atapi;
  test::FakePlatform platform;
  MemorySettingStore settings;
  MainWindow window;
  std::vector<uint8_t> parameter;
  std::array<std::vector<uint8_t>, 3> ofs3;
  EmbeddedAreas areas;
  std::unique_ptr<TMainForm> form;
};

// Five drives where the image fits drives 0, 2 and 4 only.
SimProfile FiveDrives() {
  SimProfile profile = BuiltInDemoProfile(true);
  const SimDriveProfile fits = profile.drives[0];
  const SimDriveProfile other = profile.drives[1];
  profile.drives = {fits, other, fits, other, fits};
  return profile;
}

}  // namespace

class ControllerWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void flashUtilityStartsWithEveryDriveAndStartDisabled() {
    WindowHarness h;
    h.Start();
    QVERIFY(!h.window.TerminationRequested());
    QVERIFY(h.Find<QWidget>("Panel2")->isVisible());
    QCOMPARE(h.window.centralWidget()->height(), 554);
    auto* drives = h.Find<QComboBox>("SelDevice");
    QCOMPARE(drives->count(), 2);
    QVERIFY(drives->isEnabled());
    QCOMPARE(drives->currentIndex(), 0);
    QCOMPARE(h.Status(), drives->itemText(0).left(36));
    QVERIFY(!h.Find<QPushButton>("BitBtn2")->isEnabled());
    QVERIFY(h.Find<QPushButton>("BitBtn1")->isEnabled());
    QVERIFY(!h.Find<QCheckBox>("check_verify")->isChecked());  // off whatever "Verify" says
    QCOMPARE(h.window.windowTitle(), QString("Orva Flash OFS3 Utility v.5.08.02 2006/07/14"));
    QCOMPARE(h.Lines().size(), 7);
    QCOMPARE(h.Lines().first(), QString("Important Notice:"));
    for (QAction* a : h.window.MenuBar()->actions()) QVERIFY2(a->isVisible(), qPrintable(a->objectName()));
    // The 95/98/ME item's mark is the parameter reader's business; the rest start clear.
    for (QAction* a : h.window.MenuBar()->actions())
      if (a->objectName() != "Disable98MEAutoDetectDrive1") QVERIFY2(!a->isChecked(), qPrintable(a->objectName()));
  }

  void updaterHidesTheFilePanelAndFollowsItsParameters() {
    WindowHarness h;
    h.parameter = test::ParameterArea(
        {{"Updater=0", "Updater=1"}, {"ShowDate=1", "ShowDate=0"}, {"k=0", "k=1"}, {"y=0", "y=1"}, {"h=1", "h=0"},
         {"p=1", "p=0"}, {"e=1", "e=0"}, {"ModelName=0", "ModelName=1"}});
    h.ofs3[0] = test::MakeImage(test::Drive0Template()).container;
    h.Start();
    QVERIFY(!h.window.TerminationRequested());
    QVERIFY(!h.Find<QWidget>("Panel2")->isVisible());
    QCOMPARE(h.window.centralWidget()->height(), 554 - 113);
    QCOMPARE(h.Find<QComboBox>("SelDevice")->count(), 1);
    QVERIFY(h.Find<QPushButton>("BitBtn2")->isEnabled());
    QCOMPARE(h.window.windowTitle(), QString("Orva Flash OFS3 Utility v.5.08.02 "));
    const QStringList hidden = {"Help1", "EraseFlashROM1", "OutputDefaultParameterFile1"};
    const QStringList checked = {"OverwriteReservedBlocks1", "IgnoreAskingQuestions1"};
    for (QAction* a : h.window.MenuBar()->actions()) {
      QCOMPARE(a->isVisible(), !hidden.contains(a->objectName()));
      if (a->objectName() != "Disable98MEAutoDetectDrive1") QCOMPARE(a->isChecked(), checked.contains(a->objectName()));
    }
  }

  void menuTogglesShowTheirMessagesAndKeepTheMark_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("Silent") << "Silent1" << QStringList{"Silent now", "Not Silent now"};
    QTest::newRow("Keep Unused Blocks")
        << "KeepUnusedBlocks1" << QStringList{"Not Erase Unused Blocks now", "Erase Unused Blocks now"};
    QTest::newRow("Overwrite Reserved Blocks")
        << "OverwriteReservedBlocks1" << QStringList{"Erase Resrved Blocks now", "Not Erase Reserved Blocks now"};
  }
  void menuTogglesShowTheirMessagesAndKeepTheMark() {
    QFETCH(QString, item);
    QFETCH(QStringList, texts);
    WindowHarness h;
    h.Start();
    DialogAnswerer answers;
    QAction* action = h.Menu(qPrintable(item));
    action->trigger();
    action->trigger();
    QCOMPARE(answers.Texts(), texts);
    for (const SeenBox& b : answers.boxes) {
      QCOMPARE(b.caption, QString("ofsflash"));
      QCOMPARE(b.icon, QMessageBox::NoIcon);
    }
    QVERIFY(!action->isChecked());
  }

  void itemsWithoutCommandChangeNothing() {
    WindowHarness h;
    h.Start();
    DialogAnswerer answers;
    const QStringList before = h.Lines();
    QList<bool> marks;
    for (QAction* a : h.window.MenuBar()->actions()) marks << a->isChecked();
    for (const char* name : {"CheckOFSFile1", "CheckOFSBuffer1", "Help1", "VersionInformation1", "EraseFlashROM1",
                             "OutputParameterBuffer1", "OutputOFSBuffer1", "GetFixDataCheckSum1",
                             "GetTestParameterFile1", "IgnoreAskingQuestions1", "Disable98MEAutoDetectDrive1"}) {
      h.Menu(name)->trigger();
    }
    for (int i = 0; i < marks.size(); ++i) QCOMPARE(h.window.MenuBar()->actions()[i]->isChecked(), marks[i]);
    // A box would have been answered (and recorded) before trigger() returned.
    QVERIFY(answers.boxes.isEmpty());
    QCOMPARE(h.Lines(), before);
  }

  void outputDefaultParameterFileWritesTheChosenFile() {
    WindowHarness h;
    h.Start();
    DialogAnswerer answers;
    answers.savePath = QString::fromStdString(h.files.dir + "/default.ini");
    h.Menu("OutputDefaultParameterFile1")->trigger();
    QFile written(answers.savePath);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(written.readAll().startsWith("[Main]\r\nUpdater=0\r\n"));
    QVERIFY(answers.boxes.isEmpty());
    QCOMPARE(answers.dialogs, QStringList{"SaveDialog1: INI file(*.ini);;All File (*.*)"});
  }

  void driveShowsTheDefaultIndexWithoutDrives() {
    WindowHarness h;
    h.Start();
    DialogAnswerer answers;
    h.Menu("Drive1")->trigger();
    QCOMPARE(answers.Texts(), QStringList{"Default Drive Index : -1"});
  }

  // Load through the window: the open dialog, then discovery on the worker.
  void driveShowsTheTransportIndexOfTheSelectedLine() {
    WindowHarness h(FiveDrives());
    h.parameter = test::ParameterArea({{"ModelName=0", "ModelName=1"}});
    h.Start();
    DialogAnswerer answers;
    QVERIFY(h.LoadThroughDialog(answers, "drive0.ofs", test::MakeImage(test::Drive0Template()).container));
    auto* drives = h.Find<QComboBox>("SelDevice");
    QCOMPARE(drives->count(), 3);
    QVERIFY(h.Find<QPushButton>("BitBtn2")->isEnabled());
    const QString edit1 = h.Find<QLineEdit>("Edit1")->text();
    const QString edit2 = h.Find<QLineEdit>("Edit2")->text();
    QVERIFY(!edit1.isEmpty());
    QCOMPARE(edit2.size(), 4);

    // Another drive changes the status bar only.
    drives->setItemText(2, drives->itemText(2) + " (third)");  // tell the lines apart
    drives->setCurrentIndex(2);
    emit drives->activated(2);
    QCOMPARE(h.Status(), drives->itemText(2).left(36));
    QCOMPARE(h.Find<QLineEdit>("Edit1")->text(), edit1);
    QCOMPARE(h.Find<QLineEdit>("Edit2")->text(), edit2);

    h.Menu("Drive1")->trigger();
    QCOMPARE(answers.Texts(), QStringList{"Selected Drive Index : 4"});
  }

  void cancelledOpenDialogLoadsNothing() {
    WindowHarness h;
    h.Start();
    DialogAnswerer answers;  // no path: the dialog is cancelled
    QVERIFY(h.ClickAndWait("BitBtn1"));
    QCOMPARE(answers.dialogs, QStringList{"OpenDialog1: OFS file(*.ofs);;All File (*.*)"});
    QVERIFY(!h.Find<QPushButton>("BitBtn2")->isEnabled());
    QCOMPARE(h.Find<QComboBox>("SelDevice")->count(), 2);
  }

  // Load, switch verification on, Start: the whole sequence on the worker, with the
  // window disabled and the sleep lock held until it ends.
  void fullUpdateThroughTheWindow() {
    WindowHarness h;
    FakeLogin1 login1;
    const bool haveBus = login1.ServeFor(h.window);
    FakePortal portal;
    const bool havePortal = portal.ServeFor(h.window);
    h.Start();
    DialogAnswerer answers;
    QVERIFY(h.LoadThroughDialog(answers, "new.ofs", test::MakeImage(test::Drive0Template("1.02")).container));
    QTest::mouseClick(h.Find<QCheckBox>("check_verify"), Qt::LeftButton);
    QVERIFY(h.form->verify);

    bool disabledDuringQuestion = false;
    bool lockedDuringQuestion = false;
    bool portalHeldDuringQuestion = false;
    answers.onQuestion = [&] {
      disabledDuringQuestion = !h.window.WindowEnabled() && !h.window.MenuBar()->isEnabled();
      lockedDuringQuestion = login1.LockOpen();
      portalHeldDuringQuestion = portal.Held();
    };
    answers.answer = [](const QString&) { return true; };  // restart: yes
    QVERIFY(h.ClickAndWait("BitBtn2"));

    QCOMPARE(answers.Texts(),
             QStringList{"After updating, the system must be restarted.\nClick Yes to reboot your system."});
    QCOMPARE(answers.boxes[0].caption, QString("Check"));
    QCOMPARE(answers.boxes[0].icon, QMessageBox::Warning);
    QCOMPARE(h.platform.restartRequests, 1);
    QVERIFY(disabledDuringQuestion);
    QVERIFY(h.window.WindowEnabled());
    QVERIFY(h.Find<QPushButton>("BitBtn1")->isEnabled());
    QVERIFY(h.Find<QPushButton>("BitBtn2")->isEnabled());
    QVERIFY(h.Find<QPushButton>("BitBtn4")->isEnabled());
    const QStringList lines = h.Lines();
    QVERIFY2(lines.contains("Flashing finished !"), qPrintable(lines.join('|')));
    QCOMPARE(lines.last(), QString("All Completed!"));
    QVERIFY(lines.contains("Verifying will not be executed until the tray is closed"));
    QCOMPARE(h.Find<QProgressBar>("ProgressBar1")->value(), 0);
    const QString line = h.Find<QComboBox>("SelDevice")->currentText();
    QVERIFY2(line.contains(" 1.02 "), qPrintable(line));
    QCOMPARE(h.Status(), line.left(36));

    if (!haveBus) QSKIP("no session bus: the sleep lock was not exercised");
    QCOMPARE(login1.requests, QStringList{"shutdown:sleep:idle:handle-lid-switch:handle-power-key:handle-suspend-key:"
                                          "handle-hibernate-key|ofsflash|Updating drive firmware|block"});
    QVERIFY(lockedDuringQuestion);
    QVERIFY(!login1.LockOpen());  // released when the sequence ended
    QVERIFY(havePortal);
    // Logout, user switching and suspend held off, with the same reason, and given back.
    QCOMPARE(portal.requests, QStringList{"|7|Updating drive firmware"});
    QVERIFY(portalHeldDuringQuestion);
    QCOMPARE(portal.request.closes, 1);
  }

  // The window's runs are recorded like ofstool's: its final text, ofstool's exit code.
  void anUpdateThatWritesIsRecordedInTheHistory() {
    QTemporaryDir dir;
    RunHistory history(dir.filePath("history.jsonl").toStdString());
    struct Case {
      const char* fault;
      const char* result;
      int exitCode;
    };
    const Case cases[] = {{"", "All Completed!", 0}, {"never_finish", "Flash progress TimeOut !", 3}};
    for (const Case& c : cases) {
      SimProfile profile = BuiltInDemoProfile(true);
      profile.drives[0].neverFinish = std::string(c.fault) == "never_finish";
      WindowHarness h(profile);
      h.window.SetRunHistory(&history, h.atapi.get());
      h.Start();
      DialogAnswerer answers;
      QVERIFY(h.LoadThroughDialog(answers, "new.ofs", test::MakeImage(test::Drive0Template("1.02")).container));
      QVERIFY(h.ClickAndWait("BitBtn2"));
      const std::vector<RunRecord> records = history.Read();
      QVERIFY(!records.empty());
      const RunRecord& end = records.back();
      QCOMPARE(QString::fromStdString(end.event), QString("end"));
      QCOMPARE(QString::fromStdString(end.program), QString("ofsflash"));
      QVERIFY2(end.image.size() > 7 && end.image.substr(end.image.size() - 7) == "new.ofs", end.image.c_str());
      QCOMPARE(QString::fromStdString(end.result), QString(c.result));
      QCOMPARE(end.exitCode, c.exitCode);
      QVERIFY(end.touched);
    }
    QCOMPARE(PairRuns(history.Read()).size(), std::size_t{2});
  }

  // Step 2 shows its box before anything is disabled, while the sequence runs on the
  // worker: a click then must not change the Verify box behind the controller's back,
  // and the window does not close under the job.
  void windowTakesNoInputWhileAJobRuns() {
    WindowHarness h;
    h.Start();
    DialogAnswerer answers;
    QVERIFY(h.LoadThroughDialog(answers, "type0.ofs", test::MakeImage(test::Drive0Template(), 0).container));
    QVERIFY(h.Find<QPushButton>("BitBtn2")->isEnabled());
    auto* verify = h.Find<QCheckBox>("check_verify");
    bool clickedWhileBusy = false;
    bool closedWhileBusy = true;
    bool menuKeyWhileBusy = true;
    answers.onMessage = [&] {
      if (!closedWhileBusy) return;  // the box that says why the window stays
      clickedWhileBusy = h.window.Busy() && h.window.WindowEnabled();
      QTest::mouseClick(verify, Qt::LeftButton);
      QTest::keyClick(verify, Qt::Key_F10);
      menuKeyWhileBusy = qobject_cast<WrappingMenuBar*>(h.window.MenuBar())->KeyboardItem() != nullptr;
      closedWhileBusy = h.window.close();
    };
    QVERIFY(h.ClickAndWait("BitBtn2"));
    QTRY_COMPARE(answers.Texts(), QStringList({"Flash Type is not supported!",
                                               "The drive is being flashed: closing now could damage it. The window "
                                               "can be closed when the update has ended."}));
    QCOMPARE(answers.boxes[0].caption, QString("Error"));
    QCOMPARE(answers.boxes[0].icon, QMessageBox::Critical);
    QVERIFY(clickedWhileBusy);
    QVERIFY(!closedWhileBusy);
    QVERIFY(!menuKeyWhileBusy);
    QVERIFY(h.window.isVisible());
    QCOMPARE(verify->isChecked(), h.form->verify);
    QVERIFY(!verify->isChecked());
    QTest::mouseClick(verify, Qt::LeftButton);  // and takes it again afterwards
    QVERIFY(verify->isChecked() && h.form->verify);
  }

  // An exception on the worker ends the job, not the program.
  void exceptionInAJobShowsItsTextUnlocksTheTrayAndReenables() {
    WindowHarness h;
    h.Start();
    DialogAnswerer answers;
    QVERIFY(h.LoadThroughDialog(answers, "new.ofs", test::MakeImage(test::Drive0Template("1.02")).container));
    bool thrown = false;
    h.clock.onSleep = [&] {
      if (thrown || !h.sim->Drive(0).MediumRemovalPrevented()) return;
      thrown = true;
      throw std::bad_alloc();
    };
    QVERIFY(h.ClickAndWait("BitBtn2"));
    QVERIFY(thrown);
    QCOMPARE(answers.Texts(), QStringList{QString(std::bad_alloc().what())});
    QCOMPARE(answers.boxes[0].caption, QString("Error"));
    QVERIFY(!h.sim->Drive(0).MediumRemovalPrevented());
    QVERIFY(h.window.WindowEnabled());
    for (const char* button : {"BitBtn1", "BitBtn2", "BitBtn4"}) QVERIFY(h.Find<QPushButton>(button)->isEnabled());
  }

  void olderDriveFirmwareQuestionCancelledSendsNothingAndReleasesTheLock() {
    WindowHarness h;
    FakeLogin1 login1;
    const bool haveBus = login1.ServeFor(h.window);
    h.Start();
    DialogAnswerer answers;
    QVERIFY(h.LoadThroughDialog(answers, "old.ofs", test::MakeImage(test::Drive0Template("0.90")).container));
    QVERIFY(h.ClickAndWait("BitBtn2"));
    QCOMPARE(answers.Texts(), QStringList{"1.00 is newer than 0.90 !! Update the drive ?"});
    QCOMPARE(answers.boxes[0].caption, QString("Warning!"));
    QCOMPARE(answers.boxes[0].icon, QMessageBox::Warning);
    QVERIFY(h.window.WindowEnabled());
    QVERIFY(h.Find<QComboBox>("SelDevice")->currentText().contains(" 1.00 "));
    if (!haveBus) QSKIP("no session bus: the sleep lock was not exercised");
    QCOMPARE(login1.requests.size(), 1);
    QVERIFY(!login1.LockOpen());
  }

  // The safe answer is the default one, and the list ends saying that nothing was written.
  void anImageForAnotherModelIsAskedAboutWithCancelAsTheDefault() {
    WindowHarness h;
    h.Start();
    DialogAnswerer answers;
    QVERIFY(h.LoadThroughDialog(answers, "other.ofs", test::MakeImage(test::Drive1Template("2.20")).container));
    QCOMPARE(h.Find<QComboBox>("SelDevice")->currentIndex(), 0);
    QVERIFY(h.ClickAndWait("BitBtn2"));
    QCOMPARE(answers.Texts(), QStringList{"This firmware is for ORVA KZW-5520 (B2). The selected drive is ORVA "
                                          "KZR-3350P2 (A1). Write it anyway?"});
    QCOMPARE(answers.boxes[0].icon, QMessageBox::Warning);
    QVERIFY(answers.boxes[0].cancelDefault);
    QCOMPARE(h.Lines().last(), QString("Nothing was written to the drive."));
    QCOMPARE(h.sim->Drive(0).CommandCount(SimCommand::WriteBuffer), 0);
  }

  // A SIGTERM while the drive is written does not end the update: it acts once the update has ended.
  void aSigtermDuringTheUpdateWaitsForItsEnd() {
    SimProfile profile = BuiltInDemoProfile(true);
    SimSignalRaise term;
    term.signal = SIGTERM;
    term.selector.command = SimCommand::WriteBuffer;
    term.use = 2;
    profile.drives[0].raises.push_back(term);
    WindowHarness h(profile);
    h.Start();
    DialogAnswerer answers;
    QVERIFY(h.LoadThroughDialog(answers, "new.ofs", test::MakeImage(test::Drive0Template("1.02")).container));
    answers.answer = [](const QString&) { return true; };  // a restart question would be answered OK
    g_terms = 0;
    struct sigaction count {}, previous{};
    count.sa_handler = [](int) { g_terms = g_terms + 1; };
    sigaction(SIGTERM, &count, &previous);
    bool arrivedDuringTheUpdate = false;
    h.clock.onSleep = [&] { arrivedDuringTheUpdate = arrivedDuringTheUpdate || g_terms != 0; };
    const bool finished = h.ClickAndWait("BitBtn2");
    sigaction(SIGTERM, &previous, nullptr);

    QVERIFY(finished);
    QVERIFY(!arrivedDuringTheUpdate);
    QCOMPARE(int{g_terms}, 1);
    QCOMPARE(h.form->heldSignal, SIGTERM);
    QVERIFY2(h.Lines().contains("Flashing finished !"), qPrintable(h.Lines().join('|')));
    QCOMPARE(ReadFirmwareVersion(*h.atapi, 0), std::string("1.02"));
    QVERIFY(answers.boxes.isEmpty());
    QCOMPARE(h.platform.restartRequests, 0);
  }

  // After a good flash the restart question leaves the drive to other programs, and a
  // SIGTERM there ends the update at once (the question as if cancelled) and then the program.
  void aSigtermAtTheRestartQuestionEndsTheUpdate() {
    WindowHarness h;
    h.Start();
    DialogAnswerer answers;
    QVERIFY(h.LoadThroughDialog(answers, "new.ofs", test::MakeImage(test::Drive0Template("1.02")).container));
    QTest::mouseClick(h.Find<QCheckBox>("check_verify"), Qt::LeftButton);
    answers.leaveQuestionsOpen = true;
    g_terms = 0;
    struct sigaction count {}, previous{};
    count.sa_handler = [](int) { g_terms = g_terms + 1; };
    sigaction(SIGTERM, &count, &previous);
    std::string secondFlasher = "not asked";
    bool unlocked = false;
    QElapsedTimer sinceSignal;
    answers.onQuestion = [&] {
      secondFlasher = h.atapi->Share()->ClaimDrive(0);
      unlocked = !h.sim->Drive(0).MediumRemovalPrevented();
      sinceSignal.start();
      std::raise(SIGTERM);
    };
    QSignalSpy finished(&h.window, &MainWindow::jobFinished);
    QTest::mouseClick(h.Find<QPushButton>("BitBtn2"), Qt::LeftButton);
    for (QElapsedTimer waited; finished.isEmpty() && waited.elapsed() < 60000;) QTest::qWait(20);
    const qint64 endedAfter = sinceSignal.isValid() ? sinceSignal.elapsed() : -1;
    // A question left waiting is answered, so that a failure ends the update and the test.
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->done(QMessageBox::Cancel);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 60000);
    sigaction(SIGTERM, &previous, nullptr);

    QCOMPARE(finished.size(), 1);
    QCOMPARE(answers.Texts(), QStringList{QString::fromLatin1(kRestartQuestion)});
    QCOMPARE(secondFlasher, std::string());
    QVERIFY(unlocked);
    QVERIFY2(endedAfter < 10000, qPrintable(QString::number(endedAfter)));  // a held signal never ends it
    QCOMPARE(int{g_terms}, 1);
    QCOMPARE(h.platform.restartRequests, 0);
    QCOMPARE(h.form->lastUpdate, TMainForm::UpdateOutcome::Completed);
  }

  // A refused trigger of the lower half leaves the upper half written: the window shows the
  // way back, and closing asks first with Cancel as the default.
  void aFailureAfterWritesShowsTheWayBackAndClosingAsksFirst() {
    SimProfile profile = BuiltInDemoProfile(true);
    SimFailure trigger;
    trigger.selector = SimCommandSelector{SimCommand::Trigger};
    trigger.firstUse = 2;
    profile.drives[0].failures.push_back(trigger);
    WindowHarness h(profile);
    h.Start();
    DialogAnswerer answers;
    build::OfsLayout layout;
    const auto flat = build::MakeFlatImage(32 * 65536, 3, {test::Drive0Template("1.02")});
    QVERIFY(h.LoadThroughDialog(answers, "big.ofs", build::BuildOfs(layout, flat)));
    QVERIFY(h.ClickAndWait("BitBtn2"));
    const QString advice =
        "The drive may hold incomplete firmware. Do not power it off or restart the machine: press Start again now, "
        "so that the whole image is written.";
    QCOMPARE(answers.Texts(), QStringList{"Trigger Fail !\n\n" + advice});
    QCOMPARE(h.Lines().mid(h.Lines().size() - 3),
             (QStringList{"Trigger Fail !", "The drive may hold incomplete firmware. Do not power it off or restart "
                                            "the machine:",
                          "press Start again now, so that the whole image is written."}));
    QCOMPARE(h.Find<QProgressBar>("ProgressBar1")->value(), 0);

    QVERIFY(!h.window.close());
    QCOMPARE(answers.boxes.last().text, QString("The drive may hold incomplete firmware. Close anyway?"));
    QVERIFY(answers.boxes.last().cancelDefault);
    QVERIFY(h.window.isVisible());
    answers.answer = [](const QString&) { return true; };
    QVERIFY(h.window.close());
  }

  // After a failure, the advice and the reason are read whole in the list, however long; the
  // lines the sequence always posts stay one row each.
  void theListShowsLongAdviceAndReasonsWhole_data() {
    QTest::addColumn<uint8_t>("flashType");
    QTest::addColumn<int>("banks");
    QTest::addColumn<bool>("failTrigger");
    QTest::addColumn<QStringList>("wholeLines");
    QTest::addColumn<QString>("oneRowLine");
    QTest::newRow("after writes") << uint8_t{6} << 32 << true
                                  << QStringList{"The drive may hold incomplete firmware. Do not power it off or "
                                                 "restart the machine:",
                                                 "press Start again now, so that the whole image is written."}
                                  << "Updating";
    QTest::newRow("whole-image refusal")
        << uint8_t{8} << 8 << false
        << QStringList{"This image cannot be sent whole: bytes 20000h to 7FFFFh are not all zero, and flash type 8 "
                       "does not send them to their place: it sends banks 0 and 1 only."}
        << "Nothing was written to the drive.";
  }
  void theListShowsLongAdviceAndReasonsWhole() {
    QFETCH(uint8_t, flashType);
    QFETCH(int, banks);
    QFETCH(bool, failTrigger);
    QFETCH(QStringList, wholeLines);
    QFETCH(QString, oneRowLine);
    SimProfile profile = BuiltInDemoProfile(true);
    SimFailure trigger;
    trigger.selector = SimCommandSelector{SimCommand::Trigger};
    trigger.firstUse = 2;
    if (failTrigger) profile.drives[0].failures.push_back(trigger);
    WindowHarness h(profile);
    h.Start();
    DialogAnswerer answers;
    build::OfsLayout layout;
    layout.atapiFlashType = flashType;
    const auto flat = build::MakeFlatImage(banks * 65536u, 3, {test::Drive0Template("1.02")});
    QVERIFY(h.LoadThroughDialog(answers, "image.ofs", build::BuildOfs(layout, flat)));
    QVERIFY(h.ClickAndWait("BitBtn2"));

    auto* list = h.Find<QListWidget>("ListBox1");
    const QFontMetrics metrics(list->font());
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    const auto rowOf = [&](const QString& text) {
      const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
      return found.isEmpty() ? QRect() : list->visualItemRect(found.first());
    };
    for (const QString& line : wholeLines) {
      const QRect row = rowOf(line);
      QVERIFY2(row.isValid(), qPrintable(line + " is not in " + h.Lines().join('|')));
      QVERIFY2(metrics.horizontalAdvance(line) > list->viewport()->width(), "the line is no long one");
      QVERIFY(row.left() >= 0 && row.right() < list->viewport()->width());
      const QRect text = metrics.boundingRect(QRect(0, 0, row.width() - 2 * margin, 10000), Qt::TextWordWrap, line);
      QVERIFY2(text.width() <= row.width() - 2 * margin && text.height() <= row.height(), qPrintable(line));
      // Drawn on those rows too: the last one holds text, not only its share of a centred line.
      const QImage drawn = list->viewport()->grab(row).toImage();
      bool inked = false;
      for (int y = drawn.height() - 8; y < drawn.height() - 3; ++y)
        for (int x = 0; x < drawn.width(); ++x) inked = inked || drawn.pixel(x, y) != drawn.pixel(0, y);
      QVERIFY2(inked, qPrintable(line));
    }
    QCOMPARE(rowOf(oneRowLine).height(), 20);
  }

  // Pressing Start again after the same failure on the same drive and image did not help:
  // the second failure names what else there is, in its box, its lines and its record.
  void theSameFailureTwiceNamesWhatElseThereIs() {
    QTemporaryDir dir;
    RunHistory history(dir.filePath("history.jsonl").toStdString());
    SimProfile profile = BuiltInDemoProfile(true);
    profile.drives[0].failures.push_back({SimCommandSelector{SimCommand::Trigger}, 1, 0});  // every trigger
    WindowHarness h(profile);
    h.window.SetRunHistory(&history, h.atapi.get());
    h.Start();
    DialogAnswerer answers;
    QVERIFY(h.LoadThroughDialog(answers, "new.ofs", test::MakeImage(test::Drive0Template("1.02")).container));
    const QString again = "The drive may hold incomplete firmware, and pressing Start again did not help:";
    for (const bool repeated : {false, true}) {
      QVERIFY(h.ClickAndWait("BitBtn2"));
      const QString box = answers.boxes.last().text;
      QCOMPARE(box.contains(again), repeated);
      QCOMPARE(box.contains("Do not power it off or restart the machine."), repeated);
      QCOMPARE(h.Lines().contains(again), repeated);
      QCOMPARE(h.Lines().last().startsWith("a report with the trace (OFSFLASH_TRACE=FILE)"), repeated);
      QCOMPARE(QString::fromStdString(history.Read().back().advice), box);
    }
  }

  // Closing the idle window ends the controller's run: the loaded image is given back.
  void closingTheIdleWindowReleasesTheLoadedImage() {
    WindowHarness h;
    h.Start();
    DialogAnswerer answers;
    QVERIFY(h.LoadThroughDialog(answers, "image.ofs", test::MakeImage(test::Drive0Template()).container));
    QVERIFY(h.form->imageBuffer != nullptr);
    QVERIFY(h.window.close());
    QVERIFY(!h.window.isVisible());
    QVERIFY(h.form->imageBuffer == nullptr);
    QVERIFY(h.form->scratchBuffer == nullptr);
  }
};

QTEST_MAIN(ControllerWindowTest)
#include "ControllerWindowTest.moc"
