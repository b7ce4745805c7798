// The tests run inside the VM: one binary, so that one closing line says
// how all of them went.
#include <execinfo.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>

namespace {

constexpr unsigned kWatchdogSeconds = 140;

void Watchdog(int) {
  static const char message[] = "\ntensivo-vm-tests: watchdog expired, tests hung\n";
  (void)!write(STDOUT_FILENO, message, sizeof message - 1);
  _exit(3);
}

// A crash inside the VM leaves no core to look at: say where it was.
void Crash(int signal) {
  static const char message[] = "\ntensivo-vm-tests: crashed, backtrace:\n";
  (void)!write(STDOUT_FILENO, message, sizeof message - 1);
  void* frames[64];
  backtrace_symbols_fd(frames, backtrace(frames, 64), STDOUT_FILENO);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGALRM, Watchdog);
  signal(SIGSEGV, Crash);
  signal(SIGABRT, Crash);
  alarm(kWatchdogSeconds);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
