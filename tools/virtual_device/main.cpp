// tensivo-virtual-device: virtual devices of our kind in the running kernel,
// for trying the utility and testing it without hardware.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "virtual_device/options.h"
#include "virtual_device/uhid_device.h"
#include "virtual_device/usb_device.h"

namespace {

using tensivo::virtual_device::Options;
using tensivo::virtual_device::Road;
using tensivo::virtual_device::VirtualDevice;
using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "tensivo-virtual-device";
// A USB device needs about half a second to be enumerated and bound, several
// times that under emulation.
constexpr auto kNodeWait = std::chrono::seconds(5);

// Whether a stop signal is waiting; it stays queued for the main loop.
bool StopRequested(int signal_fd) {
  pollfd fd = {signal_fd, POLLIN, 0};
  return poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

class Session {
 public:
  Session(std::vector<std::unique_ptr<VirtualDevice>> devices, Road road, int signal_fd)
      : devices_(std::move(devices)), road_(road), signal_fd_(signal_fd) {}

  std::size_t size() const { return devices_.size(); }

  // Plugs the devices in one after the other, each once the one before has
  // its node, so that the kernel lists them in the order given. False when
  // the kernel refuses one (with a message) or a stop signal comes.
  bool PlugAll() {
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      if (const int error = devices_[i]->Plug(); error != 0) {
        std::fprintf(stderr, "%s: %s\n", kProgram, PlugError(*devices_[i], error).c_str());
        return false;
      }
      if (!ReportNodes({i + 1})) return false;
    }
    return true;
  }

  // Says where each of the numbered devices showed up, as each does. False
  // when a stop signal came first: nothing more is waited for.
  bool ReportNodes(std::vector<std::size_t> numbers) {
    const auto deadline = Clock::now() + kNodeWait;
    while (!numbers.empty()) {
      for (auto it = numbers.begin(); it != numbers.end();) {
        const VirtualDevice& d = *devices_[*it - 1];
        if (const auto node = d.HidrawNode()) {
          std::printf("%zu %s: plugged in as %s\n", *it, d.profile().serial.c_str(), node->c_str());
          it = numbers.erase(it);
        } else {
          ++it;
        }
      }
      if (numbers.empty()) break;
      if (Clock::now() >= deadline) {
        for (const std::size_t n : numbers) {
          std::printf("%zu %s: plugged in, but no driver took it within %lld s and it has no "
                      "hidraw node; %s\n",
                      n, devices_[n - 1]->profile().serial.c_str(),
                      static_cast<long long>(kNodeWait.count()),
                      road_ == Road::kUsb ? "is usbhid loaded? (sudo modprobe usbhid)"
                                          : "is hid-generic loaded? (sudo modprobe hid-generic)");
        }
        break;
      }
      pollfd fd = {signal_fd_, POLLIN, 0};
      if (poll(&fd, 1, 5) > 0) return false;
    }
    return true;
  }

  // One command line from standard input; false to quit.
  bool Command(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb.empty()) return true;
    if (verb == "quit" || verb == "exit") return false;
    if (verb == "status") {
      for (std::size_t i = 0; i < devices_.size(); ++i) {
        const VirtualDevice& d = *devices_[i];
        const auto node = d.plugged() ? d.HidrawNode() : std::nullopt;
        std::printf("%zu %s: %s\n", i + 1, d.profile().serial.c_str(),
                    !d.plugged() ? "unplugged" : node ? node->c_str() : "plugged, no hidraw node");
      }
      return true;
    }
    std::size_t number = 0;
    if ((verb == "unplug" || verb == "replug") && (in >> number) && number >= 1 &&
        number <= devices_.size()) {
      VirtualDevice& d = *devices_[number - 1];
      if (verb == "unplug") {
        const int error = d.Unplug();
        if (error != 0) std::printf("unplug %zu: %s\n", number, std::strerror(error));
        else std::printf("%zu %s: unplugged\n", number, d.profile().serial.c_str());
      } else if (d.plugged()) {
        std::printf("%zu %s: already plugged in\n", number, d.profile().serial.c_str());
      } else if (const int error = d.Plug(); error != 0) {
        std::printf("replug %zu: %s\n", number, PlugError(d, error).c_str());
      } else {
        ReportNodes({number});
      }
      return true;
    }
    std::printf("commands: unplug N, replug N (N from 1 to %zu), status, quit\n",
                devices_.size());
    return true;
  }

  // Follows the plug cycle; returns the milliseconds until its next change.
  int FollowCycle(const tensivo::virtual_device::PlugCycle& cycle, Clock::time_point start) {
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    const auto phase = since % cycle.period;
    const auto present_for = cycle.period - cycle.absent;
    const bool present = phase < present_for;
    VirtualDevice& last = *devices_.back();
    if (present && !last.plugged()) Command("replug " + std::to_string(devices_.size()));
    if (!present && last.plugged()) Command("unplug " + std::to_string(devices_.size()));
    const auto next = present ? present_for - phase : cycle.period - phase;
    return static_cast<int>(next.count()) + 1;
  }

  void UnplugAll() {
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      const bool was_plugged = devices_[i]->plugged();
      devices_[i]->Unplug();
      if (was_plugged) std::printf("%zu %s: unplugged\n", i + 1, devices_[i]->profile().serial.c_str());
    }
    devices_.clear();
  }

 private:
  std::string PlugError(const VirtualDevice& d, int error) const {
    if (road_ == Road::kUsb) return tensivo::virtual_device::UsbPlugError(d.profile().serial, error);
    return "the kernel refused device " + d.profile().serial + ": " + std::strerror(error);
  }

  std::vector<std::unique_ptr<VirtualDevice>> devices_;
  Road road_;
  int signal_fd_;
};

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const auto parsed = tensivo::virtual_device::ParseOptions(args);
  if (!parsed.options) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, parsed.error.c_str(), kProgram);
    return 2;
  }
  const Options& options = *parsed.options;
  if (options.help) {
    std::fputs(tensivo::virtual_device::HelpText(kProgram).c_str(), stdout);
    return 0;
  }

  // Signals arrive through a descriptor, so that no device thread ever takes
  // one and every exit path unplugs the devices.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop_signals, s);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int signal_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC);

  std::vector<std::unique_ptr<VirtualDevice>> devices;
  for (const auto& profile : options.devices) {
    int error = 0;
    std::unique_ptr<VirtualDevice> device;
    if (options.road == Road::kUhid) {
      device = tensivo::virtual_device::UhidDevice::Open(profile, error, options.uhid_path);
      if (!device) {
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     tensivo::virtual_device::UhidOpenError(options.uhid_path, error).c_str());
        return 1;
      }
    } else {
      device = tensivo::virtual_device::UsbDevice::Make(profile, error);
      if (!device) {
        std::fprintf(stderr, "%s: %s\n", kProgram, std::strerror(error));
        return 1;
      }
    }
    devices.push_back(std::move(device));
  }

  Session session(std::move(devices), options.road, signal_fd);
  if (!session.PlugAll()) {
    // A stop signal ends a clean run; a refusal leaves the destructors to
    // unplug what was made.
    if (!StopRequested(signal_fd)) return 1;
    session.UnplugAll();
    return 0;
  }
  bool stop = false;

  const Clock::time_point start = Clock::now();
  bool read_stdin = true;
  std::string pending;
  while (!stop) {
    const int timeout = options.plug_cycle ? session.FollowCycle(*options.plug_cycle, start) : -1;
    if (StopRequested(signal_fd)) break;
    pollfd fds[2] = {{signal_fd, POLLIN, 0}, {read_stdin ? STDIN_FILENO : -1, POLLIN, 0}};
    if (poll(fds, 2, timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) break;
    if (fds[1].revents & (POLLIN | POLLHUP)) {
      char chunk[256];
      const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
      // Without a terminal (a service, a script) the devices stay until a signal.
      if (n <= 0) {
        read_stdin = false;
        continue;
      }
      pending.append(chunk, static_cast<std::size_t>(n));
      for (auto eol = pending.find('\n'); eol != std::string::npos; eol = pending.find('\n')) {
        stop = stop || !session.Command(pending.substr(0, eol));
        pending.erase(0, eol + 1);
      }
    }
  }
  session.UnplugAll();
  return 0;
}
