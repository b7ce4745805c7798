// Choosing and opening a device the way the window does, and what went wrong
// when that is not possible, in words a user can act on.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "device/channels.h"
#include "device/device_steps.h"
#include "device/protocol.h"
#include "device/window_state.h"
#include "platform/hid_platform.h"

namespace tensivo::cli {

// A command that cannot go on: the one line for stderr and the exit code.
class Failure : public std::runtime_error {
 public:
  Failure(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

// The load cells as the command line names them, in channel order.
inline constexpr auto kCellNames = [] {
  std::array<const char*, device::kLoadCellCount> names{};
  for (std::size_t c = 0; c < names.size(); ++c) names[c] = device::kChannels[c].name;
  return names;
}();

// Said wherever no device is found, naming the commands as `program` (this
// one, as the user ran it) can run them: by the same folder when it was run
// by its path, as from a build tree, and by name when found on PATH.
std::string WithoutHardware(std::string_view program);

// Why an interface of ours cannot be used, and how to mend it.
struct Problem {
  std::string reason;
  std::string fix;
};
Problem ProblemOf(platform::OpenError error);
Problem UnreadableSerial();

// One interface of ours as `list` finds it: opened through both handles as
// the window opens a device, asked for its identity, and closed again.
struct Surveyed {
  std::string path;
  std::optional<Problem> problem;  // none: the window could open and show it
  std::optional<std::string> serial;
  device::DeviceDetails details;  // identity only; filled when there is no problem
  platform::HidCaps caps;         // the report lengths read at open
};
std::vector<Surveyed> Survey(platform::HidPlatform& hid);

// Why a device cannot be configured, or none: what the window refuses.
std::optional<std::string> ConfigureRefusal(const device::DeviceDetails& details);

// One device opened as the window opens it: the search lists the attached
// serials, and FindTheHid opens the one asked for or, without one, the last
// listed. Closed when the connection ends.
class Connection {
 public:
  // Throws Failure (kNoDevice, kCannotOpen) when that device cannot be opened.
  // `program` as for WithoutHardware.
  Connection(platform::HidPlatform& hid, const std::optional<std::string>& serial,
             std::string_view program = "tensivo-cli");
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  platform::HidPlatform& hid() { return hid_; }
  device::WindowState& state() { return state_; }
  const std::string& serial() const { return serial_; }

  // Throws Failure(kRefused) unless the window would let the user configure
  // this device.
  void RequireConfigurable();

  // Throws Failure(kRefused) when its feature reports cannot carry the gains.
  void RequireGainsFit();

  // The read-back after a write; throws Failure(kDeviceFailed) when the
  // device did not answer it.
  device::StoredGains ReadBackGains();

  // Throws Failure naming the registers written and those not, when any
  // write of `done` failed. `skipped` are registers of the same command that
  // were never sent.
  void RequireWritten(const device::WriteResults& done,
                      const std::vector<std::uint8_t>& skipped = {});

  // Throws Failure when the device is no longer listed where it was opened:
  // kNoDevice while nothing was written to it, and kDeviceFailed naming the
  // registers written once something was. `unsent` are registers of the
  // command that were not written.
  void RequireStillThere(const std::vector<std::string>& unsent = {});

 private:
  platform::HidPlatform& hid_;
  device::WindowState state_;
  std::string serial_;
  std::vector<std::string> written_;  // registers this connection wrote, in order
};

}  // namespace tensivo::cli
