// tensivo-cli: the device from a terminal and from scripts, through the same
// device steps as the window, so that both send the same reports.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>

#include "platform/hid_platform.h"

namespace tensivo::cli {

// The exit codes the man page and the README document.
enum ExitCode : int {
  kOk = 0,
  kNoDevice = 1,       // none attached, or none with the serial asked for
  kCannotOpen = 2,     // attached, but it cannot be opened
  kRefused = 3,        // cannot be configured, another device's profile, not confirmed
  kDeviceFailed = 4,   // a read or write failed, or the device does not hold what was written
  kFileFailed = 5,     // a profile that cannot be read, written or understood
  kUsage = 64,
  kSignalled = 128,    // plus the signal that ended it: 130 Ctrl-C, 143 SIGTERM, 129 hangup         // unknown command or option, a value that is no gain or position
  kInternal = 70,      // a fault of the program itself; nothing written after it
  kOutputFailed = 74,  // standard output or standard error could not be written
};

// Hands out a backend, made on first use and kept for the run.
using HidSource = std::function<platform::HidPlatform&()>;

// What a run reads, writes and runs on. Tests fill it with string streams and
// simulated worlds; Main with the process's own.
struct Console {
  Console(std::ostream& out_stream, std::ostream& err_stream, std::istream& in_stream)
      : out(out_stream), err(err_stream), in(in_stream) {}

  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool out_is_terminal = false;  // and one that takes cursor moves: not TERM=dumb
  bool in_is_terminal = false;
  // The program as the user ran it (args[0]): hints name what to run so.
  std::string program = "tensivo-cli";
  HidSource real_hid;       // the attached devices
  HidSource simulated_hid;  // --simulate
  // Returns at the given time, or earlier once `interrupted` is set.
  std::function<void(std::chrono::steady_clock::time_point)> wait_until;
  // The time wait_until counts in. None: the steady clock.
  std::function<std::chrono::steady_clock::time_point()> now;
  // The terminal's width on standard output in columns; 0 when unknown.
  std::function<int()> columns;
  // Set when a table drawn on the terminal may no longer be where it was
  // drawn: the width changed (SIGWINCH), or the program was stopped and
  // continued (SIGCONT). Whoever redraws it whole clears it.
  std::atomic<bool>* redraw = nullptr;
  // Returns once `fd` can be read without blocking, or false as soon as
  // `interrupted` is set. None: reads do not wait.
  std::function<bool(int fd)> wait_readable;
  // The signal that asked the run to end (SIGINT, SIGTERM); 0 while none has.
  const std::atomic<int>* interrupted = nullptr;
};

// Throws Failure(kSignalled + the signal) when a signal asked the run to end:
// a prompt, a read and the step before the first write stop there.
void StopIfInterrupted(const Console& console);

// Runs one command line (args[0] is the program's name); returns the exit code.
int Run(std::span<const std::string> args, Console& console);

// The process around Run: its streams and terminals, Ctrl-C, the simulated
// world, and the real backend `make_real` makes when a command needs it.
int Main(int argc, char** argv,
         const std::function<std::unique_ptr<platform::HidPlatform>()>& make_real);

}  // namespace tensivo::cli
