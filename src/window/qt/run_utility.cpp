#include "window/qt/run_utility.h"

#include <QApplication>

#include "window/frm_main.h"
#include "window/qt/qt_form.h"

namespace tensivo::window::qt {

int RunUtility(platform::HidPlatform& hid, int argc, char** argv, std::string_view caption) {
  // The utility takes no command line, so Qt gets none of the user's words
  // (-style, -platform, -reverse...); only the program's name. Qt's
  // environment variables still apply.
  static char fallback[] = "tensivo-config";
  char* name = argc > 0 && argv[0] != nullptr ? argv[0] : fallback;
  char* qt_argv[] = {name, nullptr};
  int qt_argc = 1;
  QApplication app(qt_argc, qt_argv);
  QtForm form;
  form.setWindowTitle(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
  frmMain window(hid, form);
  window.Form_Load();
  return app.exec();
}

}  // namespace tensivo::window::qt
