#include "cli/connection.h"

#include <algorithm>
#include <filesystem>

#include "cli/text.h"
#include "device/device_text.h"
#include "device/discovery.h"
#include "device/protocol.h"

namespace tensivo::cli {

namespace {

using platform::OpenError;

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + Named(item);
  return text;
}

// The first problem of a survey, for a one-line error; `list` shows them all.
std::string FirstProblem(const std::vector<Surveyed>& found) {
  const auto it =
      std::ranges::find_if(found, [](const Surveyed& s) { return s.problem.has_value(); });
  if (it == found.end()) return {};
  const long more =
      std::ranges::count_if(found, [](const Surveyed& s) { return s.problem.has_value(); }) - 1;
  std::string text = Shown(it->path) + ": " + it->problem->reason + "; " + it->problem->fix;
  if (more > 0) text += " (" + std::to_string(more) + " more: tensivo-cli list)";
  return text;
}

}  // namespace

Problem ProblemOf(OpenError error) {
  switch (error) {
    case OpenError::kPermissionDenied:
      return {"permission denied",
              "the package's udev rule (/usr/lib/udev/rules.d/70-tensivo-config.rules) gives "
              "the device to the user at the machine's seat and to the group tensivo: use the "
              "machine at its seat, or add yourself to the group tensivo (sudo adduser $USER "
              "tensivo) and log in again; a device plugged in before the rule was installed "
              "needs sudo udevadm trigger --subsystem-match=hidraw --action=change"};
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
    entry.caps = state.DeviceCaps;
    device::CloseDevice(state);
    found.push_back(std::move(entry));
  }
  return found;
}

std::optional<std::string> ConfigureRefusal(const device::DeviceDetails& details) {
  const auto why = device::WhyNotConfigurable(details);
  if (!why) return std::nullopt;
  return device::UnconfigurableText(*why, details);
}

std::string WithoutHardware(std::string_view program) {
  const std::size_t slash = program.rfind('/');
  if (slash == std::string_view::npos) {
    return "to try without hardware: tensivo-cli --simulate list, or tensivo-config-demo";
  }
  const std::string cli = Printable(program);
  const std::string demo = std::string(program.substr(0, slash + 1)) + "tensivo-config-demo";
  std::error_code error;
  if (!std::filesystem::exists(demo, error)) {
    return "to try without hardware: " + cli + " --simulate list";
  }
  return "to try without hardware: " + cli + " --simulate list, or " + Printable(demo);
}

Connection::Connection(platform::HidPlatform& hid, const std::optional<std::string>& serial,
                       std::string_view program)
    : hid_(hid) {
  const std::vector<std::string> serials = device::Scan_USB_devices(hid_, state_);
  if (serial && std::ranges::find(serials, *serial) == serials.end()) {
    const std::vector<Surveyed> found = Survey(hid_);
    const std::string unusable = FirstProblem(found);
    if (!unusable.empty()) {
      throw Failure(kCannotOpen,
                    "no device with serial " + Named(*serial) + " can be opened; " + unusable);
    }
    throw Failure(kNoDevice,
                  "no device with serial " + Named(*serial) +
                      (serials.empty() ? " (none is attached; " + WithoutHardware(program) + ")"
                                       : " (attached: " + Joined(serials) + ")"));
  }
  if (serials.empty()) {
    const std::string unusable = FirstProblem(Survey(hid_));
    if (!unusable.empty())
      throw Failure(kCannotOpen, "no attached device can be opened: " + unusable);
    throw Failure(kNoDevice, "no device attached; " + WithoutHardware(program));
  }
  serial_ = serial.value_or(serials.back());
  state_.DeviceFound = device::FindTheHid(hid_, state_, serial_);
  if (state_.DeviceFound != device::kTrue) {
    const OpenError why = hid_.LastOpenError();
    if (why != OpenError::kNone && why != OpenError::kGone) {
      const Problem problem = ProblemOf(why);
      throw Failure(kCannotOpen,
                    "device " + Shown(serial_) + ": " + problem.reason + "; " + problem.fix);
    }
    throw Failure(kNoDevice, "device " + Shown(serial_) + " went away; nothing written");
  }
  if (!state_.ReadHandle.IsOpen()) {
    const OpenError why = hid_.LastOpenError();
    if (why == OpenError::kGone) {
      throw Failure(kNoDevice, "device " + Shown(serial_) + " went away; nothing written");
    }
    RequireStillThere();
    const Problem problem = ProblemOf(why);
    throw Failure(kCannotOpen, "device " + Shown(serial_) + " cannot be opened for its inputs: " +
                                   problem.reason + "; " + problem.fix);
  }
}

Connection::~Connection() { device::CloseDevice(state_); }

void Connection::RequireConfigurable() {
  const device::DeviceDetails identity = device::ReadIdentity(hid_, state_);
  if (const auto refusal = ConfigureRefusal(identity)) {
    // A string or length that could not be read may only mean it is gone.
    RequireStillThere();
    throw Failure(kRefused, "device " + Shown(serial_) + " cannot be configured: " + *refusal +
                                "; nothing written");
  }
}

void Connection::RequireGainsFit() {
  device::DeviceDetails reports;
  reports.feature_length = state_.DeviceCaps.FeatureReportByteLength;
  if (device::GainsFit(reports.feature_length)) return;
  // A length that could not be read may only mean it is gone.
  RequireStillThere();
  throw Failure(kRefused,
                "device " + Shown(serial_) + ": its gains cannot be read: " +
                    device::UnconfigurableText(device::Unconfigurable::kShortReports, reports));
}

device::StoredGains Connection::ReadBackGains() {
  RequireGainsFit();
  const device::StoredGains gains = device::ReadStoredGains(hid_, state_);
  if (!gains.read) {
    RequireStillThere();
    throw Failure(kDeviceFailed, "device " + Shown(serial_) +
                                     " did not answer the read-back of its gain registers");
  }
  return gains;
}

void Connection::RequireWritten(const device::WriteResults& done,
                                const std::vector<std::uint8_t>& skipped) {
  std::vector<std::string> failed, not_sent;
  // `done` holds every write of the command so far.
  written_.clear();
  for (const device::RegisterWrite& w : done) {
    (w.result != 0 ? written_ : failed).push_back(std::to_string(w.reg));
  }
  if (failed.empty()) return;
  for (const std::uint8_t reg : skipped) not_sent.push_back(std::to_string(reg));
  std::vector<std::string> unwritten = failed;
  unwritten.insert(unwritten.end(), not_sent.begin(), not_sent.end());
  RequireStillThere(unwritten);
  std::string message = "device " + Shown(serial_) + ": writing register" +
                        std::string(failed.size() > 1 ? "s " : " ") + Commas(failed) +
                        " failed; registers written: " +
                        (written_.empty() ? "none" : Commas(written_));
  if (!not_sent.empty()) message += "; not sent: " + Commas(not_sent);
  throw Failure(kDeviceFailed, message);
}

void Connection::RequireStillThere(const std::vector<std::string>& unsent) {
  std::vector<platform::InterfaceInfo> interfaces;
  // A list that cannot be had says nothing about the device.
  if (hid_.Enumerate(device::kVendorId, device::kProductId, interfaces) == 0) return;
  if (std::ranges::any_of(interfaces, [&](const platform::InterfaceInfo& info) {
        return info.path == state_.DevicePathName;
      })) {
    return;
  }
  if (written_.empty()) {
    throw Failure(kNoDevice, "device " + Shown(serial_) + " went away; nothing written");
  }
  std::string message =
      "device " + Shown(serial_) + " went away; registers written: " + Commas(written_);
  message += unsent.empty() ? "; not read back" : "; not written: " + Commas(unsent);
  throw Failure(kDeviceFailed, message);
}

}  // namespace tensivo::cli
