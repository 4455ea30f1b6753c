// ofsflash: the firmware updater's window.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "app/Mainflash.h"
#include "app/ui/ApplicationIdentity.h"
#include "app/ui/MainWindow.h"
#include "drive/TransportFactory.h"
#include "firmware/EmbeddedAreas.h"
#include "system/LinuxPlatform.h"
#include "system/MemorySettingStore.h"
#include "system/RunHistory.h"

namespace {

constexpr int kExitNoDisplay = 3;

bool IsSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

// Qt ends the process with SIGABRT when its platform finds no display: say it first, in
// one line. A platform that needs none (offscreen, vnc, eglfs, ...) is left to Qt.
bool HasNoDisplay() {
  if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY")) return false;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const std::string_view name = platform != nullptr ? platform : "";
  return name.empty() || name.starts_with("xcb") || name.starts_with("wayland");
}

int Run(QApplication& app) {
  ofs::SetApplicationIdentity();

  ofs::MainWindow window;
  // The installed theme icon, else the copy in the resources (uninstalled builds).
  QApplication::setWindowIcon(
      QIcon::fromTheme(QStringLiteral("ofsflash"), QIcon(QStringLiteral(":/glyphs/ofsflash.png"))));
  // Declared after the window so its listener is gone before the window is.
  ofs::LinuxPlatform platform(window.ActivationHandler());
  ofs::Transport transport = ofs::CreateTransportFromEnvironment(platform);
  if (!transport.atapi) {
    QMessageBox::critical(nullptr, QStringLiteral("Error"), QString::fromStdString(transport.error));
    return 1;
  }
  ofs::MemorySettingStore settings;
  ofs::TMainForm form({window, *transport.atapi, platform, settings, ofs::ProgramEmbeddedAreas()});
  window.SetController(&form);
  ofs::RunHistory history(ofs::DefaultHistoryPath());
  window.SetRunHistory(&history, transport.atapi.get());

  form.FormCreate();
  if (form.startupFailed && transport.atapi->driveCount == 0) {
    std::fprintf(stderr, "ofsflash: no drive found. %s\n", transport.atapi->WhyNoDrive().c_str());
  }
  // A second instance, or a start-up that has shown why it cannot go on, ends here.
  if (window.TerminationRequested()) return 0;
  window.CentreOnScreen();
  window.show();
  return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (HasNoDisplay()) {
    std::fputs("ofsflash: the window needs a graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set); "
               "without one, 'ofstool' flashes from the terminal (ofstool --help).\n",
               stderr);
    return kExitNoDisplay;
  }
  QApplication app(argc, argv);
  // Handlers catch their own exceptions (TMainForm::RunJob); this catches what start-up throws.
  try {
    return Run(app);
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("Error"), QString::fromLocal8Bit(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, QStringLiteral("Error"), QStringLiteral("Unknown exception"));
  }
  return 1;
}
