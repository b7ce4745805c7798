#include "window/qt/run_utility.h"

#include <QApplication>

#include "window/frm_main.h"
#include "window/qt/qt_form.h"

namespace tensivo::window::qt {

int RunUtility(platform::HidPlatform& hid, int argc, char** argv) {
  QApplication app(argc, argv);
  QtForm form;
  frmMain window(hid, form);
  window.Form_Load();
  return app.exec();
}

}  // namespace tensivo::window::qt
