// Saves a picture of the demo's window after it has run for a while, for the
// README and for looking at the window on a machine without a display
// (offscreen unless a display is set).
//
//   tensivo-window-screenshot OUT.png [MILLISECONDS]
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "sim/demo_world.h"
#include "window/frm_main.h"
#include "window/qt/qt_form.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT.png [MILLISECONDS]\n", argv[0]);
    return 2;
  }
  const int run_ms = argc > 2 ? std::atoi(argv[2]) : 1500;
  // The picture is grabbed from the widget, not from a screen, so without a
  // display (SSH, CI) it is taken offscreen rather than failing to connect.
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  auto hid = tensivo::sim::MakeDemoWorld();
  QApplication app(argc, argv);
  tensivo::window::qt::QtForm form;
  tensivo::window::frmMain window(*hid, form);
  window.Form_Load();
  int rc = 0;
  QTimer::singleShot(run_ms, [&] {
    if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
      std::fprintf(stderr, "cannot write %s\n", argv[1]);
      rc = 1;
    }
    form.close();
    app.quit();
  });
  app.exec();
  return rc;
}
