#include "window/qt/run_utility.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "window/frm_main.h"
#include "window/qt/qt_form.h"

namespace tensivo::window::qt {

namespace {

// The program's own name, as the user typed it, without its folder.
std::string_view ProgramName(int argc, char** argv) {
  std::string_view name = argc > 0 && argv[0] != nullptr ? argv[0] : "tensivo-config";
  if (const auto slash = name.rfind('/'); slash != std::string_view::npos) {
    name.remove_prefix(slash + 1);
  }
  return name;
}

void PrintHelp(const std::string& name, std::string_view caption, const std::string& cli) {
  std::printf(
      "Usage: %s [--help | --version]\n"
      "Opens the window \"%.*s\"; it takes no other options.\n"
      "It needs a display: without one, use %s in a terminal, or\n"
      "ssh -X to show the window from another machine.\n"
      "Exit status: 0 when the window is closed, %d when there is no display.\n",
      name.c_str(), static_cast<int>(caption.size()), caption.data(), cli.c_str(),
      kNoDisplayStatus);
}

// Qt warns about the display it tried and then aborts, advising a reinstall,
// when it finds none. While the application is made, its messages wait
// here: one line of ours replaces them if Qt gives up, and they go on to the
// usual handler if it does not.
struct StartMessages {
  static inline const char* program = "tensivo-config";
  static inline const char* cli = "tensivo-cli";
  static inline std::vector<std::pair<QtMsgType, std::string>> held;
  static inline QtMessageHandler usual = nullptr;

  static void Hold(QtMsgType type, const QMessageLogContext& /*context*/, const QString& text) {
    if (type != QtFatalMsg) {
      held.emplace_back(type, text.toStdString());
      return;
    }
    std::fprintf(stderr,
                 "%s: no display to open the window on; use %s in a terminal, "
                 "or ssh -X from another machine\n",
                 program, cli);
    std::fflush(stderr);
    std::_Exit(kNoDisplayStatus);
  }

  static void Release() {
    qInstallMessageHandler(usual);
    for (const auto& [type, text] : held) {
      if (usual != nullptr) {
        usual(type, QMessageLogContext(), QString::fromStdString(text));
      } else {
        std::fprintf(stderr, "%s\n", text.c_str());
      }
    }
    held.clear();
  }
};

}  // namespace

int RunUtility(platform::HidPlatform& hid, int argc, char** argv, std::string_view caption,
               std::string_view cli_instead) {
  const std::string name(ProgramName(argc, argv));
  const std::string cli(cli_instead);
  // Both answer without a display, so they are looked at before Qt is.
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i] != nullptr ? argv[i] : "";
    if (word == "--help" || word == "-h") {
      PrintHelp(name, caption, cli);
      return 0;
    }
    if (word == "--version") {
      std::printf("%s %s\n", name.c_str(), TENSIVO_VERSION);
      return 0;
    }
  }

  // The utility takes no other command line, so Qt gets none of the user's
  // words (-style, -platform, -reverse...); only the program's name. Qt's
  // environment variables still apply.
  static char fallback[] = "tensivo-config";
  char* program = argc > 0 && argv[0] != nullptr ? argv[0] : fallback;
  char* qt_argv[] = {program, nullptr};
  int qt_argc = 1;
  StartMessages::program = name.c_str();
  StartMessages::cli = cli.c_str();
  StartMessages::usual = qInstallMessageHandler(&StartMessages::Hold);
  QApplication app(qt_argc, qt_argv);
  StartMessages::Release();
  QtForm form;
  form.setWindowTitle(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
  frmMain window(hid, form);
  window.Form_Load();
  return app.exec();
}

}  // namespace tensivo::window::qt
