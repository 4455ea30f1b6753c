#include "app/ui/ApplicationIdentity.h"

#include <QGuiApplication>

#include "app/Mainflash.h"

namespace ofs {

void SetApplicationIdentity() {
  QGuiApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileId));
}

}  // namespace ofs
