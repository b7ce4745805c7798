#include "window/run_utility.h"

#include <QApplication>

#include "window/frm_main.h"

namespace tensivo::window {

int RunUtility(platform::HidPlatform& hid, int argc, char** argv) {
  QApplication app(argc, argv);
  frmMain window(hid);
  window.Form_Load();
  return app.exec();
}

}  // namespace tensivo::window
