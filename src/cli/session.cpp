#include "cli/session.h"

#include <algorithm>

#include "device/device_text.h"
#include "device/discovery.h"

namespace tensivo::cli {

namespace {

using platform::OpenError;

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// The first problem of a survey, for a one-line error; `list` shows them all.
std::string FirstProblem(const std::vector<Surveyed>& found) {
  const auto it =
      std::ranges::find_if(found, [](const Surveyed& s) { return s.problem.has_value(); });
  if (it == found.end()) return {};
  const long more =
      std::ranges::count_if(found, [](const Surveyed& s) { return s.problem.has_value(); }) - 1;
  std::string text = it->path + ": " + it->problem->reason + "; " + it->problem->fix;
  if (more > 0) text += " (" + std::to_string(more) + " more: tensivo-cli list)";
  return text;
}

}  // namespace

Problem ProblemOf(OpenError error) {
  switch (error) {
    case OpenError::kPermissionDenied:
      return {"permission denied",
              "install the udev rule and reload udev (sudo install -m 644 "
              "packaging/70-tensivo-config.rules /etc/udev/rules.d/ && sudo udevadm control "
              "--reload-rules && sudo udevadm trigger; the package installs the rule itself), "
              "and run this as the user logged in at the machine's seat, not over SSH"};
    case OpenError::kBusy:
      return {"busy", "another program holds it; close that program and try again"};
    case OpenError::kGone:
      return {"gone", "it was unplugged while being opened; plug it in and try again"};
    case OpenError::kNone:
    case OpenError::kOther:
      break;
  }
  return {"the system refused to open it",
          "unplug it and plug it in again; the kernel log (journalctl -k) may say more"};
}

Problem UnreadableSerial() {
  return {"its serial number cannot be read", "unplug it and plug it in again"};
}

std::vector<Surveyed> Survey(platform::HidPlatform& hid) {
  std::vector<Surveyed> found;
  std::vector<platform::InterfaceInfo> interfaces;
  hid.Enumerate(device::kVendorId, device::kProductId, interfaces);
  for (const platform::InterfaceInfo& info : interfaces) {
    if (info.vendor_id != device::kVendorId || info.product_id != device::kProductId) continue;
    Surveyed entry;
    entry.path = info.path;
    device::WindowState state;
    device::Probe probe = device::ProbeInterface(hid, state, info);
    entry.serial = probe.serial;
    if (!probe.handle.IsOpen()) {
      entry.problem = ProblemOf(hid.LastOpenError());
    } else if (!probe.serial) {
      entry.problem = UnreadableSerial();
    } else {
      state.DeviceHandle = std::move(probe.handle);
      device::FinishOpen(hid, state);
      if (state.ReadHandle.IsOpen()) {
        entry.details = device::ReadIdentity(hid, state);
      } else {
        entry.problem = ProblemOf(hid.LastOpenError());
      }
    }
    device::CloseDevice(state);
    found.push_back(std::move(entry));
  }
  return found;
}

std::optional<std::string> ConfigureRefusal(const device::DeviceDetails& details) {
  if (device::CanConfigure(details)) return std::nullopt;
  if (!details.manufacturer) return "its maker string cannot be read";
  return "its firmware version" + device::VersionText(details.version) + " is older than x.1";
}

Session::Session(platform::HidPlatform& hid, const std::optional<std::string>& serial) : hid_(hid) {
  const std::vector<std::string> serials = device::Scan_USB_devices(hid_, state_);
  if (serial && std::ranges::find(serials, *serial) == serials.end()) {
    const std::vector<Surveyed> found = Survey(hid_);
    const std::string unusable = FirstProblem(found);
    if (!unusable.empty()) {
      throw Failure(kCannotOpen,
                    "no device with serial " + *serial + " can be opened; " + unusable);
    }
    throw Failure(kNoDevice, "no device with serial " + *serial +
                                 (serials.empty() ? " (none is attached)"
                                                  : " (attached: " + Joined(serials) + ")"));
  }
  if (serials.empty()) {
    const std::string unusable = FirstProblem(Survey(hid_));
    if (!unusable.empty())
      throw Failure(kCannotOpen, "no attached device can be opened: " + unusable);
    throw Failure(kNoDevice, "no device attached");
  }
  serial_ = serial.value_or(serials.back());
  state_.DeviceFound = device::FindTheHid(hid_, state_, serial_);
  if (state_.DeviceFound != device::kTrue) {
    const OpenError why = hid_.LastOpenError();
    if (why != OpenError::kNone && why != OpenError::kGone) {
      const Problem problem = ProblemOf(why);
      throw Failure(kCannotOpen, "device " + serial_ + ": " + problem.reason + "; " + problem.fix);
    }
    throw Failure(kNoDevice, "device " + serial_ + " went away before it could be opened");
  }
  if (!state_.ReadHandle.IsOpen()) {
    const Problem problem = ProblemOf(hid_.LastOpenError());
    throw Failure(kCannotOpen, "device " + serial_ + " cannot be opened for its inputs: " +
                                   problem.reason + "; " + problem.fix);
  }
}

Session::~Session() { device::CloseDevice(state_); }

void Session::RequireConfigurable() {
  const device::DeviceDetails identity = device::ReadIdentity(hid_, state_);
  if (const auto refusal = ConfigureRefusal(identity)) {
    throw Failure(kRefused,
                  "device " + serial_ + " cannot be configured: " + *refusal + "; nothing written");
  }
}

device::StoredGains Session::ReadBackGains() {
  const device::StoredGains gains = device::ReadStoredGains(hid_, state_);
  if (!gains.read) {
    throw Failure(kDeviceFailed,
                  "device " + serial_ + " did not answer the read-back of its gain registers");
  }
  return gains;
}

void RequireWritten(const device::WriteResults& done, const std::vector<std::uint8_t>& skipped) {
  std::vector<std::string> written, failed, not_sent;
  for (const device::RegisterWrite& w : done) {
    (w.result != 0 ? written : failed).push_back(std::to_string(w.reg));
  }
  if (failed.empty()) return;
  for (const std::uint8_t reg : skipped) not_sent.push_back(std::to_string(reg));
  std::string message = "writing register" + std::string(failed.size() > 1 ? "s " : " ") +
                        Joined(failed) +
                        " failed (was the device unplugged?); registers written: " +
                        (written.empty() ? "none" : Joined(written));
  if (!not_sent.empty()) message += "; not sent: " + Joined(not_sent);
  throw Failure(kDeviceFailed, message);
}

}  // namespace tensivo::cli
