// The tests run inside the VM: one binary, so that one closing line says
// how all of them went.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QFont>

namespace {

constexpr unsigned kWatchdogSeconds = 150;

void Watchdog(int) {
  static const char message[] = "\ntensivo-vm-tests: watchdog expired, tests hung\n";
  (void)!write(STDOUT_FILENO, message, sizeof message - 1);
  _exit(3);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGALRM, Watchdog);
  alarm(kWatchdogSeconds);
  QApplication app(argc, argv);
  QFont::insertSubstitution("MS Sans Serif", "DejaVu Sans");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
