// tensivo-virtual-device: virtual devices of our kind in the running kernel,
// for trying the utility and testing it without hardware.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "virtual_device/device_console.h"
#include "virtual_device/options.h"

namespace {

namespace vd = tensivo::virtual_device;

// Signals arrive through a descriptor, so that no device thread ever takes
// one and every exit path unplugs the devices.
tensivo::platform::UniqueFd StopSignals() {
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop_signals, s);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return tensivo::platform::UniqueFd(signalfd(-1, &stop_signals, SFD_CLOEXEC));
}

// One device per entry of traits, or none with a message when one cannot be made.
std::vector<std::unique_ptr<vd::VirtualDevice>> MakeDevices(const vd::Options& options) {
  std::vector<std::unique_ptr<vd::VirtualDevice>> devices;
  for (const auto& traits : options.devices) {
    int error = 0;
    auto device = vd::MakeDevice(traits, options.transport, options.uhid_path, error);
    if (!device) {
      const std::string message = options.transport == vd::Transport::kUhid
                                      ? vd::UhidOpenError(options.uhid_path, error)
                                      : std::strerror(error);
      std::fprintf(stderr, "%s: %s\n", vd::kProgram, message.c_str());
      return {};
    }
    devices.push_back(std::move(device));
  }
  return devices;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const auto parsed = vd::ParseOptions(args);
  if (!parsed.options) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", vd::kProgram, parsed.error.c_str(),
                 vd::kProgram);
    return 2;
  }
  const vd::Options& options = *parsed.options;
  if (options.help) {
    std::fputs(vd::HelpText(vd::kProgram).c_str(), stdout);
    return 0;
  }

  const tensivo::platform::UniqueFd stop = StopSignals();
  auto devices = MakeDevices(options);
  if (devices.empty()) return 1;
  vd::DeviceConsole console(std::move(devices), options.transport, stop.get());
  if (!console.PlugAll()) {
    // A stop signal ends a clean run; a refusal leaves the destructors to
    // unplug what was made.
    if (!console.StopRequested()) return 1;
    console.UnplugAll();
    return 0;
  }
  console.Serve(STDIN_FILENO, options.plug_cycle);
  console.UnplugAll();
  return 0;
}
