// The window on its own: components, geometry, captions, menu bar, the Panel2 shrink,
// and the MainView calls made from a worker thread.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QListView>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "app/Mainflash.h"
#include "app/ui/DialogFilter.h"
#include "app/ui/MainWindow.h"
#include "app/ui/DesktopInhibitor.h"
#include "app/ui/SleepInhibitor.h"
#include "app/ui/WrappingMenuBar.h"

using ofs::Control;
using ofs::MainWindow;
using ofs::MenuItem;

namespace {

// Runs f on a fresh thread and waits for it while the GUI thread keeps serving.
void OnWorker(const std::function<void()>& f) {
  std::unique_ptr<QThread> t(QThread::create(f));
  bool done = false;
  QObject::connect(t.get(), &QThread::finished, [&done] { done = true; });
  t->start();
  QTRY_VERIFY_WITH_TIMEOUT(done, 5000);
  t->wait();
}

QRect InClient(const MainWindow& w, const char* name) {
  auto* widget = w.findChild<QWidget*>(QString::fromLatin1(name));
  if (!widget) return {};
  return QRect(widget->mapTo(w.centralWidget(), QPoint(0, 0)), widget->size());
}

}  // namespace

class WindowLayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void componentsHaveTheirPlaceAndSize_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");  // relative to the parent
    QTest::newRow("GroupBox1") << "GroupBox1" << "ClientArea" << QRect(0, 0, 386, 80);
    QTest::newRow("SelDevice") << "SelDevice" << "GroupBox1" << QRect(16, 31, 353, 21);
    QTest::newRow("Panel2") << "Panel2" << "ClientArea" << QRect(0, 80, 386, 113);
    QTest::newRow("GroupBox2") << "GroupBox2" << "Panel2" << QRect(0, 0, 386, 113);
    QTest::newRow("Edit1") << "Edit1" << "GroupBox2" << QRect(16, 20, 350, 21);
    QTest::newRow("BitBtn1") << "BitBtn1" << "GroupBox2" << QRect(18, 59, 135, 38);
    QTest::newRow("check_verify") << "check_verify" << "GroupBox2" << QRect(184, 72, 65, 17);
    QTest::newRow("Edit2") << "Edit2" << "GroupBox2" << QRect(288, 72, 57, 28);
    QTest::newRow("Panel1") << "Panel1" << "ClientArea" << QRect(0, 193, 386, 64);
    QTest::newRow("BitBtn2") << "BitBtn2" << "Panel1" << QRect(57, 18, 92, 31);
    QTest::newRow("BitBtn4") << "BitBtn4" << "Panel1" << QRect(226, 18, 93, 31);
    QTest::newRow("ListBox1") << "ListBox1" << "ClientArea" << QRect(0, 257, 386, 276);
    QTest::newRow("StatusBar1") << "StatusBar1" << "ClientArea" << QRect(0, 533, 386, 20);
    QTest::newRow("ProgressBar1") << "ProgressBar1" << "StatusBar1" << QRect(256, 2, 129, 16);
  }
  void componentsHaveTheirPlaceAndSize() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    MainWindow w;
    auto* widget = w.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(widget->geometry(), geometry);
  }

  void clientAreaIsFixedAndLabelIsPlaced() {
    MainWindow w;
    QCOMPARE(w.centralWidget()->size(), QSize(386, 554));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(w.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(!w.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!w.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QCOMPARE(w.findChild<QLabel*>("Label1")->pos(), QPoint(280, 56));
    // Top to bottom in the written order.
    const char* order[] = {"GroupBox1", "Panel2", "Panel1", "ListBox1", "StatusBar1"};
    for (std::size_t i = 1; i < std::size(order); ++i)
      QCOMPARE(InClient(w, order[i - 1]).bottom() + 1, InClient(w, order[i]).top());
  }

  // Centred; on a screen lower than the window, its top (the caption) stays on the screen.
  void centredWithTheCaptionOnTheScreen_data() {
    QTest::addColumn<QRect>("area");
    QTest::newRow("tall screen") << QRect(0, 0, 1280, 1024);
    QTest::newRow("low screen") << QRect(0, 30, 1366, 500);
    QTest::newRow("second screen") << QRect(1280, 0, 1920, 1080);
  }
  void centredWithTheCaptionOnTheScreen() {
    QFETCH(QRect, area);
    MainWindow w;
    w.CentreIn(area);
    QVERIFY(qAbs(w.geometry().center().x() - area.center().x()) <= 1);
    if (w.height() <= area.height())
      QVERIFY(qAbs(w.geometry().center().y() - area.center().y()) <= 1);
    else
      QCOMPARE(w.y(), area.top());
  }

  void captionsFontsAndInitialStates() {
    MainWindow w;
    struct Expect {
      const char* name;
      QString caption;
      bool bold;
    };
    const Expect texts[] = {{"GroupBox1", "Selected Source : ", true}, {"GroupBox2", "Selected File : ", true},
                            {"BitBtn1", "&Load OFS", true},           {"check_verify", "Verify", true},
                            {"Label1", "CheckSum", true},             {"BitBtn2", "&Start", true},
                            {"BitBtn4", "&Exit", true}};
    for (const Expect& e : texts) {
      QWidget* widget = w.findChild<QWidget*>(e.name);
      QVERIFY2(widget, e.name);
      QString caption;
      if (auto* g = qobject_cast<QGroupBox*>(widget)) caption = g->title();
      if (auto* b = qobject_cast<QAbstractButton*>(widget)) caption = b->text();
      if (auto* l = qobject_cast<QLabel*>(widget)) caption = l->text();
      QCOMPARE(caption, e.caption);
      QCOMPARE(widget->font().bold(), e.bold);
      QCOMPARE(widget->font().pixelSize(), 13);
    }
    // Everything else has the window's regular 13-pixel font.
    for (const char* name : {"MainForm", "MainMenu1", "SelDevice", "Edit1", "StatusPanel0"}) {
      const QWidget* widget = w.objectName() == name ? &w : w.findChild<QWidget*>(name);
      QVERIFY2(widget, name);
      QVERIFY2(!widget->font().bold(), name);
      QCOMPARE(widget->font().pixelSize(), 13);
    }
    QVERIFY(!w.findChild<QComboBox*>("SelDevice")->isEnabled());
    QVERIFY(!w.findChild<QPushButton*>("BitBtn2")->isEnabled());
    QVERIFY(w.findChild<QPushButton*>("BitBtn1")->isEnabled());
    QVERIFY(w.findChild<QLineEdit*>("Edit1")->isReadOnly());
    QCOMPARE(w.findChild<QLineEdit*>("Edit1")->focusPolicy() & Qt::TabFocus, 0);

    auto* edit2 = w.findChild<QLineEdit*>("Edit2");
    QCOMPARE(edit2->font().pixelSize(), 17);
    QVERIFY(edit2->font().bold());
    QCOMPARE(edit2->palette().color(QPalette::Text), QColor(0, 0, 0x80));

    auto* bar = w.findChild<QProgressBar*>("ProgressBar1");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 65536);
    QCOMPARE(bar->value(), 0);
  }

  void buttonsCarryNormalAndDisabledGlyphs() {
    MainWindow w;
    for (const char* name : {"BitBtn1", "BitBtn2", "BitBtn4"}) {
      const QIcon icon = w.findChild<QPushButton*>(name)->icon();
      QVERIFY2(!icon.isNull(), name);
      const QImage normal = icon.pixmap(24, QIcon::Normal).toImage();
      const QImage disabled = icon.pixmap(24, QIcon::Disabled).toImage();
      QVERIFY2(!normal.isNull() && !disabled.isNull(), name);
      QVERIFY2(normal != disabled, name);
    }
  }

  void listLinesAreTwentyPixelsAt17() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.AddLine("Important Notice:");
    w.PostStatusLine("Updating");
    auto* list = w.findChild<QListWidget*>("ListBox1");
    QCOMPARE(list->font().pixelSize(), 17);
    QVERIFY(!list->font().bold());
    QCOMPARE(list->visualItemRect(list->item(0)).height(), 20);
    QCOMPARE(list->visualItemRect(list->item(1)).height(), 20);
    QCOMPARE(list->currentRow(), 1);
    w.ClearLineSelection();
    QVERIFY(list->selectedItems().isEmpty());
  }

  void menuBarHoldsSixteenItemsInOrder() {
    MainWindow w;
    const QStringList names = {"Silent1",
                               "CheckOFSFile1",
                               "CheckOFSBuffer1",
                               "Help1",
                               "VersionInformation1",
                               "EraseFlashROM1",
                               "Drive1",
                               "OverwriteReservedBlocks1",
                               "KeepUnusedBlocks1",
                               "OutputDefaultParameterFile1",
                               "OutputParameterBuffer1",
                               "OutputOFSBuffer1",
                               "GetFixDataCheckSum1",
                               "GetTestParameterFile1",
                               "IgnoreAskingQuestions1",
                               "Disable98MEAutoDetectDrive1"};
    const QStringList captions = {"Silent",
                                  "Check OFS File",
                                  "Check OFS Buffer",
                                  "Help",
                                  "Version Information",
                                  "Erase Flash ROM",
                                  "Drive",
                                  "Overwrite Reserved Blocks",
                                  "Keep Unused Blocks",
                                  "Output Default Parameter File",
                                  "Output Parameter Buffer",
                                  "Output OFS Buffer",
                                  "Get Fix Data Check Sum",
                                  "Get Test Parameter File",
                                  "Ignore Asking Questions",
                                  "Disable 98 ME Auto Detect Drive"};
    QCOMPARE(w.MenuBar()->objectName(), QString("MainMenu1"));
    const QList<QAction*> actions = w.MenuBar()->actions();
    QCOMPARE(actions.size(), ofs::kMenuItemCount);
    for (int i = 0; i < ofs::kMenuItemCount; ++i) {
      QCOMPARE(actions[i]->objectName(), names[i]);
      QCOMPARE(actions[i]->text(), captions[i]);
      QVERIFY(!actions[i]->menu());  // on the bar itself
    }
  }

  // Every shown item is on the bar (in rows at 386 pixels), in order; the client area
  // keeps its size below the bar; hiding items takes their room away.
  void everyMenuItemIsOnTheBarAboveTheClientArea() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget* bar = w.MenuBar();
    auto onBar = [bar](QAction* a) {
      for (QObject* o : a->associatedObjects()) {
        auto* button = qobject_cast<QWidget*>(o);
        if (button && button != bar && button->isVisible() && bar->rect().contains(button->geometry()))
          return button->geometry();
      }
      return QRect();
    };
    const QList<QAction*> actions = bar->actions();
    QRect previous;
    for (QAction* a : actions) {
      const QRect r = onBar(a);
      QVERIFY2(r.isValid(), qPrintable(a->objectName()));
      // Reading order: right of the previous item, or first on a lower row.
      QVERIFY2(r.top() > previous.top() || (r.top() == previous.top() && r.left() >= previous.right()),
               qPrintable(a->objectName()));
      previous = r;
    }
    const int rows = previous.bottom() / onBar(actions.first()).height() + 1;
    QVERIFY(rows > 1);
    QCOMPARE(w.centralWidget()->geometry(), QRect(0, bar->height(), 386, 554));
    QCOMPARE(w.height(), bar->height() + 554);

    for (QAction* a : actions)
      if (a != actions.first()) a->setVisible(false);
    QTRY_COMPARE(w.height(), onBar(actions.first()).height() + 554);
    QCOMPARE(w.centralWidget()->size(), QSize(386, 554));
  }

  void menuStateComesOnlyFromTheView() {
    MainWindow w;
    auto* silent = w.findChild<QAction*>("Silent1");
    w.SetMenuChecked(MenuItem::Silent1, true);
    w.SetMenuVisible(MenuItem::Help1, false);
    QVERIFY(silent->isChecked());
    QVERIFY(!w.findChild<QAction*>("Help1")->isVisible());
    silent->trigger();  // no controller: nothing runs, and the click keeps the mark
    QVERIFY(silent->isChecked());
    w.findChild<QAction*>("CheckOFSFile1")->trigger();
    QVERIFY(!w.findChild<QAction*>("CheckOFSFile1")->isChecked());
  }

  void hidingPanel2ShrinksBy113() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int before = w.height();
    w.SetVisible(Control::Panel2, false);
    QTRY_COMPARE(w.height(), before - 113);
    QCOMPARE(w.centralWidget()->size(), QSize(386, 441));
    QCOMPARE(InClient(w, "Panel1").top(), 80);
    QCOMPARE(InClient(w, "ListBox1").top(), 144);
    QCOMPARE(InClient(w, "StatusBar1").top(), 420);
    w.SetVisible(Control::Panel2, true);
    QTRY_COMPARE(w.height(), before);
  }

  void disabledWindowTakesNoInputButStaysReadable() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* verify = w.findChild<QCheckBox*>("check_verify");
    w.SetEnabled(Control::Window, false);
    QVERIFY(!w.WindowEnabled());
    QVERIFY(!w.MenuBar()->isEnabled());
    QVERIFY(w.centralWidget()->isEnabled());  // not greyed out
    QTest::mouseClick(verify, Qt::LeftButton);
    verify->setFocus();
    QTest::keyClick(verify, Qt::Key_Space);
    QVERIFY(!verify->isChecked());
    w.SetEnabled(Control::Window, true);
    QTest::mouseClick(verify, Qt::LeftButton);
    QVERIFY(verify->isChecked());
  }

  // F10 or a lone Alt reaches the bar, arrows walk the shown items (wrapping), Enter
  // chooses, Esc gives the focus back; a disabled window's bar takes no key.
  void menuBarIsReachedFromTheKeyboard() {
    MainWindow w;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* bar = qobject_cast<ofs::WrappingMenuBar*>(w.MenuBar());
    QVERIFY(bar);
    auto current = [bar] { return bar->KeyboardItem() ? bar->KeyboardItem()->objectName() : QString(); };
    auto key = [](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
      QTest::keyClick(QApplication::focusWidget(), k, m);
    };
    auto* verify = w.findChild<QCheckBox*>("check_verify");
    verify->setFocus();
    w.SetMenuVisible(MenuItem::Silent1, false);
    QSignalSpy chosen(w.findChild<QAction*>("CheckOFSBuffer1"), &QAction::triggered);

    auto* firstButton = qobject_cast<QWidget*>(w.findChild<QAction*>("CheckOFSFile1")->associatedObjects().last());
    const QImage plain = firstButton->grab().toImage();
    key(Qt::Key_F10);
    QCOMPARE(current(), QString("CheckOFSFile1"));  // the first shown item
    QVERIFY(firstButton->grab().toImage() != plain);  // and it shows
    key(Qt::Key_Left);
    QCOMPARE(current(), QString("Disable98MEAutoDetectDrive1"));
    key(Qt::Key_Down);
    key(Qt::Key_Right);
    QCOMPARE(current(), QString("CheckOFSBuffer1"));
    key(Qt::Key_Escape);
    QCOMPARE(current(), QString());
    QCOMPARE(QApplication::focusWidget(), verify);
    QCOMPARE(chosen.count(), 0);

    QTest::keyPress(verify, Qt::Key_Alt);
    QTest::keyRelease(verify, Qt::Key_Alt);
    QCOMPARE(current(), QString("CheckOFSFile1"));
    key(Qt::Key_Right);
    key(Qt::Key_Return);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(QApplication::focusWidget(), verify);

    // Alt as a modifier of another key is no menu key.
    QTest::keyPress(verify, Qt::Key_Alt);
    QTest::keyClick(verify, Qt::Key_X, Qt::AltModifier);
    QTest::keyRelease(verify, Qt::Key_Alt);
    QCOMPARE(current(), QString());
    QTest::keyPress(verify, Qt::Key_Alt);
    QEvent leftForAnotherWindow(QEvent::WindowDeactivate);
    QApplication::sendEvent(&w, &leftForAnotherWindow);
    QTest::keyRelease(verify, Qt::Key_Alt);
    QCOMPARE(current(), QString());

    w.SetEnabled(Control::Window, false);
    key(Qt::Key_F10);
    QCOMPARE(current(), QString());
  }

  // Calls from the worker keep their order, and getters see every earlier call.
  void workerCallsArriveInOrder() {
    MainWindow w;
    std::vector<std::string> seen;
    OnWorker([&] {
      w.AddDrive("DRIVE A");
      w.AddDrive("DRIVE B");
      w.SelectDriveItem(1);
      w.SetDriveText(1, "DRIVE B 1.02");
      w.SetDriveText(7, "out of range");
      for (int i = 0; i < 50; ++i) w.AddLine(std::to_string(i));
      w.DeleteFirstLine();
      w.SetStatusText("status");
      seen.push_back(std::to_string(w.DriveItemCount()));
      seen.push_back(w.DriveText(w.SelectedDriveItem()));
      seen.push_back(w.DriveText(9));
    });
    QCOMPARE(seen, (std::vector<std::string>{"2", "DRIVE B 1.02", ""}));
    auto* list = w.findChild<QListWidget*>("ListBox1");
    QCOMPARE(list->count(), 49);
    QCOMPARE(list->item(0)->text(), QString("1"));
    QCOMPARE(list->item(48)->text(), QString("49"));
    QCOMPARE(w.findChild<QLabel*>("StatusPanel0")->text(), QString("status"));
  }

  // A per-byte progress loop must not queue one update per call.
  void progressFromTheWorkerIsCoalesced() {
    MainWindow w;
    auto* bar = w.findChild<QProgressBar*>("ProgressBar1");
    QSignalSpy changes(bar, &QProgressBar::valueChanged);
    constexpr int kSteps = 200000;
    OnWorker([&] {
      for (int i = 1; i <= kSteps; ++i) w.SetProgress(static_cast<int>(int64_t{i} * ofs::kProgressMax / kSteps));
    });
    QTRY_COMPARE(bar->value(), ofs::kProgressMax);
    QCOMPARE(w.Progress(), ofs::kProgressMax);
    QVERIFY2(changes.count() < kSteps / 10, qPrintable(QString::number(changes.count())));
  }

  void dialogFiltersBecomeQtFilters_data() {
    QTest::addColumn<QString>("written");
    QTest::addColumn<QStringList>("qt");
    QTest::newRow("open") << ofs::kOpenDialogFilter
                          << QStringList{"OFS file(*.ofs) (*.[oO][fF][sS] *.[zZ][iI][pP])", "All File (*.*) (*)"};
    QTest::newRow("odd count drops the dangling part") << "A|*.a|B" << QStringList{"A (*.[aA])"};
    QTest::newRow("empty") << "" << QStringList{};
  }
  void dialogFiltersBecomeQtFilters() {
    QFETCH(QString, written);
    QFETCH(QStringList, qt);
    QCOMPARE(ofs::ToQtNameFilters(written.toStdString()), qt);
  }

  // The dialogs show the captions as written and list what they promise.
  void fileDialogsListWhatTheirCaptionsSay() {
    QTemporaryDir dir;
    const QStringList names{"B.OFS", "a.ofs", "c.Zip", "e.txt", "noext"};
    for (const QString& name : names) QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
    QFileDialog open;
    ofs::ConfigureFileDialog(open, ofs::kOpenDialogFilter, false);
    open.setDirectory(dir.path());
    auto* types = open.findChild<QComboBox*>("fileTypeCombo");
    QVERIFY(types);
    QCOMPARE(QStringList({types->itemText(0), types->itemText(1)}), QStringList({"OFS file(*.ofs)", "All File (*.*)"}));
    auto* view = open.findChild<QListView*>("listView");
    QVERIFY(view);
    const auto shown = [view] {
      QStringList listed;
      for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r) {
        listed << view->model()->index(r, 0, view->rootIndex()).data().toString();
      }
      listed.sort();
      return listed;
    };
    QTRY_COMPARE(shown(), QStringList({"B.OFS", "a.ofs", "c.Zip"}));
    open.selectNameFilter(open.nameFilters()[1]);
    QTRY_COMPARE(shown(), names);
    QFileDialog save;
    ofs::ConfigureFileDialog(save, ofs::kSaveDialogFilter, true);
    QCOMPARE(save.defaultSuffix(), QString("ini"));
    QCOMPARE(save.acceptMode(), QFileDialog::AcceptSave);
  }

  // A line wider than the list can be scrolled to, and each line's tooltip holds all of it.
  void longLinesScrollSidewaysAndShowWhole() {
    ofs::MainWindow w;
    w.show();
    auto* list = w.findChild<QListWidget*>("ListBox1");
    w.AddLine("short");
    const QString wide(200, QLatin1Char('x'));
    w.PostStatusLine(wide.toStdString());
    QCOMPARE(list->item(0)->toolTip(), QString("short"));
    QCOMPARE(list->item(1)->toolTip(), wide);
    QCOMPARE(list->currentRow(), 1);
    QTRY_VERIFY(list->horizontalScrollBar()->maximum() > 0);
  }

  void noBusMeansNoSleepLock() {
    ofs::SleepInhibitor lock{QDBusConnection(QStringLiteral("not connected"))};
    QVERIFY(!lock.Held());
  }

  // The test's session bus has no portal on it: nothing is held, and nothing waits for one.
  void noPortalMeansNoDesktopLock() {
    ofs::DesktopInhibitor lock{QDBusConnection::sessionBus()};
    QVERIFY(!lock.Held());
  }
};

QTEST_MAIN(WindowLayoutTest)
#include "WindowLayoutTest.moc"
