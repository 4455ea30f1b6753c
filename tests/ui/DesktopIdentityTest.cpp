// The window's desktop ID, the launcher and the AppStream file must name each other, or the desktop
// shows the window without its launcher's icon and software centres cannot start it.
#include <QApplication>
#include <QFile>
#include <QTest>
#include <QXmlStreamReader>

#include "app/ui/ApplicationIdentity.h"

namespace {

const QString kDataDir = QStringLiteral(OFS_DATA_DIR);

QStringList ReadLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

// The value of KEY in the desktop file's [Desktop Entry] group.
QString DesktopEntryValue(const QStringList& lines, const QString& key) {
  for (const QString& line : lines) {
    if (line.startsWith(key + QLatin1Char('='))) return line.mid(key.size() + 1);
  }
  return {};
}

// The text of the first element NAME (with TYPE as its type attribute, when given).
QString MetainfoText(const QString& path, const QString& name, const QString& type = {}) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QXmlStreamReader xml(&file);
  while (!xml.atEnd()) {
    if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == name &&
        (type.isEmpty() || xml.attributes().value(QStringLiteral("type")) == type)) {
      return xml.readElementText().trimmed();
    }
  }
  return {};
}

}  // namespace

class DesktopIdentityTest : public QObject {
  Q_OBJECT

 private slots:
  void windowLauncherAndMetainfoNameOneId() {
    ofs::SetApplicationIdentity();
    const QString id = QGuiApplication::desktopFileName();
    QCOMPARE(id, QString::fromLatin1(ofs::kDesktopFileId));
    QCOMPARE(QGuiApplication::applicationName(), QStringLiteral("ofsflash"));

    const QStringList desktop = ReadLines(kDataDir + QLatin1Char('/') + id + QStringLiteral(".desktop"));
    QVERIFY2(!desktop.isEmpty(), "no desktop file named after the ID");
    QCOMPARE(DesktopEntryValue(desktop, QStringLiteral("Exec")), QStringLiteral("ofsflash"));
    // An X11 desktop matches the window to its launcher by the class Qt gives it: the application name.
    QCOMPARE(DesktopEntryValue(desktop, QStringLiteral("StartupWMClass")), QGuiApplication::applicationName());
    const QString icon = DesktopEntryValue(desktop, QStringLiteral("Icon"));
    QVERIFY2(QFile::exists(kDataDir + QLatin1Char('/') + icon + QStringLiteral(".svg")), qPrintable(icon));

    const QString metainfo = kDataDir + QLatin1Char('/') + id + QStringLiteral(".metainfo.xml");
    QCOMPARE(MetainfoText(metainfo, QStringLiteral("id")), id);
    QCOMPARE(MetainfoText(metainfo, QStringLiteral("launchable"), QStringLiteral("desktop-id")),
             id + QStringLiteral(".desktop"));
    QCOMPARE(MetainfoText(metainfo, QStringLiteral("binary")), QStringLiteral("ofsflash"));
  }
};

QTEST_MAIN(DesktopIdentityTest)
#include "DesktopIdentityTest.moc"
