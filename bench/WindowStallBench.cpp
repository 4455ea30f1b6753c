// How long the window's GUI thread is kept from its event loop while the update
// runs on the worker: the whole Start sequence of the 2 MiB type-6 image in the real
// window (offscreen platform), on a zero-latency drive so that the worker posts lines
// and progress as fast as it can. A 1 ms heartbeat on the GUI thread measures the gaps.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "app/Mainflash.h"
#include "app/ui/MainWindow.h"
#include "drive/sim/SimBackend.h"
#include "system/MemorySettingStore.h"
#include "UpdateFixture.h"

namespace ofs {
namespace {

QApplication& App() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "ofs_bench";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

// Milliseconds the GUI thread was away beyond each heartbeat's interval.
class Heartbeat {
 public:
  Heartbeat() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Beat(); });
    last_ = Clock::now();
    timer_.start();
  }
  std::vector<double> stalls;

 private:
  using Clock = std::chrono::steady_clock;
  void Beat() {
    const auto now = Clock::now();
    stalls.push_back(std::max(0.0, std::chrono::duration<double, std::milli>(now - last_).count() - 1.0));
    last_ = now;
    // The closing restart question: Cancel, as a person who restarts later would.
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->done(QMessageBox::Cancel);
  }
  QTimer timer_;
  Clock::time_point last_;
};

void BM_WindowStallDuringUpdate(benchmark::State& state) {
  App();
  const bench::Fixture fixture;
  double longest = 0;
  std::vector<double> all;
  for (auto _ : state) {
    state.PauseTiming();
    VirtualClock clock;
    TAtapiImp atapi(std::make_unique<SimBackend>(fixture.profile, clock), clock, true);
    bench::QuietPlatform platform;
    MemorySettingStore settings;
    EmbeddedAreas areas;
    areas.ofs3[0] = fixture.container;
    areas.parameter = fixture.parameter;
    MainWindow window;
    window.SetInhibitBus(QDBusConnection(QStringLiteral("none")));
    TMainForm form({window, atapi, platform, settings, areas});
    window.SetController(&form);
    form.FormCreate();
    window.show();
    QEventLoop done;
    QObject::connect(&window, &MainWindow::jobFinished, &done, &QEventLoop::quit);
    state.ResumeTiming();

    Heartbeat heartbeat;
    window.findChild<QPushButton*>(QStringLiteral("BitBtn2"))->click();
    done.exec();

    state.PauseTiming();
    if (form.lastUpdate != TMainForm::UpdateOutcome::Completed) state.SkipWithError("the update did not complete");
    all.insert(all.end(), heartbeat.stalls.begin(), heartbeat.stalls.end());
    for (double s : heartbeat.stalls) longest = std::max(longest, s);
    window.close();
    state.ResumeTiming();
  }
  std::sort(all.begin(), all.end());
  state.counters["longest_stall_ms"] = longest;
  state.counters["p99_stall_ms"] = all.empty() ? 0 : all[all.size() * 99 / 100];
  state.counters["heartbeats"] = static_cast<double>(all.size());
}

BENCHMARK(BM_WindowStallDuringUpdate)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace ofs
