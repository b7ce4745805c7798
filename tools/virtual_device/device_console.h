// What tensivo-virtual-device does once its command line is read: makes the
// devices, plugs them in, says where they show up, and unplugs and replugs
// them on command or on a plug cycle, until it is stopped.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "virtual_device/options.h"
#include "virtual_device/virtual_device.h"

namespace tensivo::virtual_device {

inline constexpr const char* kProgram = "tensivo-virtual-device";

// A device of `traits` on `transport`, not yet plugged; null with
// `error_number` set when it cannot be made.
std::unique_ptr<VirtualDevice> MakeDevice(DeviceTraits traits, Transport transport,
                                          const std::string& uhid_path, int& error_number);

// Where a plug cycle stands `since` its start: whether the last device is in,
// and how long until that changes.
struct CyclePhase {
  bool present;
  std::chrono::milliseconds next_change;
};
CyclePhase PhaseOf(const PlugCycle& cycle, std::chrono::milliseconds since);

class DeviceConsole {
 public:
  // `stop_fd` becomes readable when the tool is to stop (a signalfd); what it
  // says goes to `out`, why a device cannot be plugged to `err`.
  DeviceConsole(std::vector<std::unique_ptr<VirtualDevice>> devices, Transport transport,
                int stop_fd, std::FILE* out = stdout, std::FILE* err = stderr);

  // Plugs the devices in one after the other, each once the one before has
  // its node, so that the kernel lists them in the order given. False when
  // the kernel refuses one (with a message) or a stop signal comes.
  bool PlugAll();
  // One command line ("unplug N", "replug N", "status", "quit"); false to quit.
  bool Command(const std::string& line);
  // Takes commands from `input_fd` and follows `cycle`, until a quit command
  // or the stop descriptor. Without input (end of file) it waits for the stop.
  void Serve(int input_fd, const std::optional<PlugCycle>& cycle);
  void UnplugAll();
  // Whether a stop signal is waiting; it stays queued.
  bool StopRequested() const;

 private:
  // Says where each of the numbered devices showed up, as each does. False
  // when a stop signal came first: nothing more is waited for.
  bool ReportNodes(std::vector<std::size_t> numbers);
  // Follows the plug cycle; the milliseconds until its next change.
  int FollowCycle(const PlugCycle& cycle, std::chrono::steady_clock::time_point start);
  std::string PlugError(const VirtualDevice& d, int error) const;

  std::vector<std::unique_ptr<VirtualDevice>> devices_;
  Transport transport_;
  int stop_fd_;
  std::FILE* out_;
  std::FILE* err_;
};

}  // namespace tensivo::virtual_device
