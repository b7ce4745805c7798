#include "virtual_device/device_console.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "virtual_device/uhid_device.h"
#include "virtual_device/usb_device.h"

namespace tensivo::virtual_device {

namespace {

using Clock = std::chrono::steady_clock;

// A USB device needs about half a second to be enumerated and bound, several
// times that under emulation.
constexpr auto kNodeWait = std::chrono::seconds(5);

}  // namespace

std::unique_ptr<VirtualDevice> MakeDevice(DeviceTraits traits, Transport transport,
                                          const std::string& uhid_path, int& error_number) {
  if (transport == Transport::kUhid) {
    return UhidDevice::Open(std::move(traits), error_number, uhid_path);
  }
  return UsbDevice::Make(std::move(traits), error_number);
}

CyclePhase PhaseOf(const PlugCycle& cycle, std::chrono::milliseconds since) {
  const auto phase = since % cycle.period;
  const auto present_for = cycle.period - cycle.absent;
  const bool present = phase < present_for;
  return {present, present ? present_for - phase : cycle.period - phase};
}

DeviceConsole::DeviceConsole(std::vector<std::unique_ptr<VirtualDevice>> devices,
                             Transport transport, int stop_fd, std::FILE* out, std::FILE* err)
    : devices_(std::move(devices)),
      transport_(transport),
      stop_fd_(stop_fd),
      out_(out),
      err_(err) {}

bool DeviceConsole::StopRequested() const {
  pollfd fd = {stop_fd_, POLLIN, 0};
  return poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

bool DeviceConsole::PlugAll() {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (const int error = devices_[i]->Plug(); error != 0) {
      std::fprintf(err_, "%s: %s\n", kProgram, PlugError(*devices_[i], error).c_str());
      return false;
    }
    if (!ReportNodes({i + 1})) return false;
  }
  return true;
}

bool DeviceConsole::ReportNodes(std::vector<std::size_t> numbers) {
  const auto deadline = Clock::now() + kNodeWait;
  while (!numbers.empty()) {
    for (auto it = numbers.begin(); it != numbers.end();) {
      const VirtualDevice& d = *devices_[*it - 1];
      if (const auto node = d.HidrawNode()) {
        std::fprintf(out_, "%zu %s: plugged in as %s\n", *it, d.traits().serial.c_str(),
                     node->c_str());
        it = numbers.erase(it);
      } else {
        ++it;
      }
    }
    if (numbers.empty()) break;
    if (Clock::now() >= deadline) {
      for (const std::size_t n : numbers) {
        std::fprintf(
            out_,
            "%zu %s: plugged in, but no driver took it within %lld s and it has no "
            "hidraw node; %s\n",
            n, devices_[n - 1]->traits().serial.c_str(), static_cast<long long>(kNodeWait.count()),
            transport_ == Transport::kUsb ? "is usbhid loaded? (sudo modprobe usbhid)"
                                          : "is hid-generic loaded? (sudo modprobe hid-generic)");
      }
      break;
    }
    pollfd fd = {stop_fd_, POLLIN, 0};
    if (poll(&fd, 1, 5) > 0) return false;
  }
  return true;
}

bool DeviceConsole::Command(const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  if (verb.empty()) return true;
  if (verb == "quit" || verb == "exit") return false;
  if (verb == "status") {
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      const VirtualDevice& d = *devices_[i];
      const auto node = d.plugged() ? d.HidrawNode() : std::nullopt;
      std::fprintf(out_, "%zu %s: %s\n", i + 1, d.traits().serial.c_str(),
                   !d.plugged() ? "unplugged"
                   : node       ? node->c_str()
                                : "plugged, no hidraw node");
    }
    return true;
  }
  std::size_t number = 0;
  if ((verb == "unplug" || verb == "replug") && (in >> number) && number >= 1 &&
      number <= devices_.size()) {
    VirtualDevice& d = *devices_[number - 1];
    if (verb == "unplug") {
      const int error = d.Unplug();
      if (error != 0)
        std::fprintf(out_, "unplug %zu: %s\n", number, std::strerror(error));
      else
        std::fprintf(out_, "%zu %s: unplugged\n", number, d.traits().serial.c_str());
    } else if (d.plugged()) {
      std::fprintf(out_, "%zu %s: already plugged in\n", number, d.traits().serial.c_str());
    } else if (const int error = d.Plug(); error != 0) {
      std::fprintf(out_, "replug %zu: %s\n", number, PlugError(d, error).c_str());
    } else {
      ReportNodes({number});
    }
    return true;
  }
  std::fprintf(out_, "commands: unplug N, replug N (N from 1 to %zu), status, quit\n",
               devices_.size());
  return true;
}

int DeviceConsole::FollowCycle(const PlugCycle& cycle, Clock::time_point start) {
  const auto phase =
      PhaseOf(cycle, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start));
  VirtualDevice& last = *devices_.back();
  if (phase.present && !last.plugged()) Command("replug " + std::to_string(devices_.size()));
  if (!phase.present && last.plugged()) Command("unplug " + std::to_string(devices_.size()));
  return static_cast<int>(phase.next_change.count()) + 1;
}

void DeviceConsole::Serve(int input_fd, const std::optional<PlugCycle>& cycle) {
  const Clock::time_point start = Clock::now();
  bool reading = true;
  std::string pending;
  for (bool stop = false; !stop;) {
    const int timeout = cycle ? FollowCycle(*cycle, start) : -1;
    if (StopRequested()) break;
    pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {reading ? input_fd : -1, POLLIN, 0}};
    if (poll(fds, 2, timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) break;
    if (!(fds[1].revents & (POLLIN | POLLHUP))) continue;
    char chunk[256];
    const ssize_t n = read(input_fd, chunk, sizeof chunk);
    // Without a terminal (a service, a script) the devices stay until a signal.
    if (n <= 0) {
      reading = false;
      continue;
    }
    pending.append(chunk, static_cast<std::size_t>(n));
    for (auto eol = pending.find('\n'); eol != std::string::npos; eol = pending.find('\n')) {
      stop = stop || !Command(pending.substr(0, eol));
      pending.erase(0, eol + 1);
    }
  }
}

void DeviceConsole::UnplugAll() {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    const bool was_plugged = devices_[i]->plugged();
    devices_[i]->Unplug();
    if (was_plugged) {
      std::fprintf(out_, "%zu %s: unplugged\n", i + 1, devices_[i]->traits().serial.c_str());
    }
  }
  devices_.clear();
}

std::string DeviceConsole::PlugError(const VirtualDevice& d, int error) const {
  if (transport_ == Transport::kUsb) return UsbPlugError(d.traits().serial, error);
  return "the kernel refused device " + d.traits().serial + ": " + std::strerror(error);
}

}  // namespace tensivo::virtual_device
