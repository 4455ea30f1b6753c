// Two processes: this test holds the single-instance guard with a minimised window,
// the real program is started a second time and must hand over and end.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "app/Mainflash.h"
#include "app/ui/MainWindow.h"
#include "system/LinuxPlatform.h"

class SecondInstanceTest : public QObject {
  Q_OBJECT

 private slots:
  void secondStartRestoresTheFirstWindowAndEnds() {
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());

    ofs::MainWindow window;
    ofs::LinuxPlatform platform(window.ActivationHandler());
    QVERIFY(platform.EnsureSingleInstance(ofs::kApplicationTitle));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.setWindowState(Qt::WindowMinimized);
    QVERIFY(window.windowState() & Qt::WindowMinimized);

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("OFSFLASH_SIMULATE", "fast");
    second.setProcessEnvironment(env);
    second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    second.start(QString::fromLocal8Bit(qgetenv("OFSFLASH_BINARY")), QStringList{});
    QVERIFY(second.waitForStarted());
    // Keep serving events while it runs: the activation request arrives meanwhile.
    QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 60000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!(window.windowState() & Qt::WindowMinimized), 5000);
    QVERIFY(window.isVisible());
  }
};

QTEST_MAIN(SecondInstanceTest)
#include "SecondInstanceTest.moc"
