// ofsflash started where no graphical session is: one line that says so and points to
// ofstool, and its own exit code, instead of Qt's abort.
#include <QProcess>
#include <QTest>

class NoDisplayTest : public QObject {
  Q_OBJECT

 private slots:
  void withoutADisplayItSaysSoInOneLine_data() {
    QTest::addColumn<QString>("platform");  // QT_QPA_PLATFORM, empty: not set
    QTest::newRow("no platform named") << QString();
    QTest::newRow("xcb") << QStringLiteral("xcb");
    QTest::newRow("wayland") << QStringLiteral("wayland");
  }

  void withoutADisplayItSaysSoInOneLine() {
    QFETCH(QString, platform);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(name));
    if (!platform.isEmpty()) env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    QProcess ofsflash;
    ofsflash.setProcessEnvironment(env);
    ofsflash.start(QString::fromLocal8Bit(qgetenv("OFSFLASH_BINARY")), QStringList{});
    QVERIFY(ofsflash.waitForFinished(30000));
    QCOMPARE(ofsflash.exitStatus(), QProcess::NormalExit);
    QCOMPARE(ofsflash.exitCode(), 3);
    const QString said = QString::fromLocal8Bit(ofsflash.readAllStandardError());
    QCOMPARE(said.count(QLatin1Char('\n')), 1);
    QVERIFY2(said.contains(QStringLiteral("needs a graphical session")) && said.contains(QStringLiteral("ofstool")),
             qPrintable(said));
  }
};

QTEST_GUILESS_MAIN(NoDisplayTest)
#include "NoDisplayTest.moc"
