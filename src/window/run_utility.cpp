#include "window/run_utility.h"

#include <QApplication>
#include <QFont>

#include "window/frm_main.h"

namespace tensivo::window {

int RunUtility(platform::HidPlatform& hid, int argc, char** argv) {
  QApplication app(argc, argv);
  // The window asks for its classic face; DejaVu Sans stands in where it is
  // missing.
  QFont::insertSubstitution("MS Sans Serif", "DejaVu Sans");
  frmMain window(hid);
  window.Form_Load();
  return app.exec();
}

}  // namespace tensivo::window
