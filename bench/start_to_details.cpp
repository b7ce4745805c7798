// Starts the demo exactly as tensivo-config-demo does and leaves as soon as
// the window has painted a device's details, printing when that was
// (CLOCK_REALTIME, ns) so that the caller can subtract the moment it started
// the process, and the processor time spent until then. Only an application-wide event filter is added, installed when
// the application object comes up; the window and its start are untouched.
#include <QCoreApplication>
#include <QLabel>
#include <QPaintEvent>
#include <QTimer>
#include <cstdio>
#include <ctime>

#include <sys/resource.h>

#include "sim/demo_world.h"
#include "window/qt/run_utility.h"

namespace {

long long RealtimeNs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<long long>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

long long g_main_ns = 0;
long long g_app_ns = 0;
long long g_painted_ns = 0;
long long g_cpu_us = 0;

long long CpuUs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto us = [](const timeval& t) { return t.tv_sec * 1'000'000LL + t.tv_usec; };
  return us(usage.ru_utime) + us(usage.ru_stime);
}

// Waits for the product label to be painted with a text; the next pass of
// the event loop comes after that paint has finished.
class DetailsWatch : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!armed_ && event->type() == QEvent::Paint && watched->objectName() == "lblProduct") {
      if (const auto* label = qobject_cast<QLabel*>(watched); label && !label->text().isEmpty()) {
        armed_ = true;
        QTimer::singleShot(0, [] {
          g_painted_ns = RealtimeNs();
          g_cpu_us = CpuUs();
          QCoreApplication::quit();
        });
      }
    }
    return false;
  }

 private:
  bool armed_ = false;
};

void InstallWatch() {
  g_app_ns = RealtimeNs();
  auto* watch = new DetailsWatch;
  watch->setParent(qApp);
  qApp->installEventFilter(watch);
}
Q_COREAPP_STARTUP_FUNCTION(InstallWatch)

}  // namespace

int main(int argc, char** argv) {
  g_main_ns = RealtimeNs();
  auto hid = tensivo::sim::MakeDemoWorld();
  const int status = tensivo::window::qt::RunUtility(*hid, argc, argv);
  if (g_painted_ns == 0) {
    std::fprintf(stderr, "the details were never painted\n");
    return 1;
  }
  std::printf("main_ns %lld\napplication_ns %lld\ndetails_painted_ns %lld\ncpu_us %lld\n", g_main_ns,
              g_app_ns, g_painted_ns, g_cpu_us);
  return status;
}
