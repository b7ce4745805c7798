// Steps on the open device that the window and the command line share, so
// that both send and read exactly the same reports in the same order.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "device/channels.h"
#include "device/protocol.h"
#include "device/window_state.h"
#include "platform/hid_platform.h"

namespace tensivo::device {

// The gains the five-read read-back finds in the device.
struct StoredGains {
  // List positions of LC1..LC3; none where the registers name no step.
  std::array<std::optional<int>, kLoadCellCount> positions;
  // All nine gain registers came from reads that succeeded. Otherwise a
  // position may stand on the zeros of reads that failed.
  bool read = false;
  // Every register the read-back found, and which of them it found, so that
  // writes beyond the gains can be held to what the device answers.
  RegisterImage registers{};
  RegisterSet registers_read;
};

// What the details read-back learns of the open device.
struct DeviceDetails {
  std::optional<std::string> manufacturer;  // 8-bit text; none when the query failed
  std::optional<std::string> product;
  std::uint16_t version = 0;
  std::uint16_t feature_length = 0;  // as the capabilities count it, with the id byte
  StoredGains gains;                 // left unread by ReadIdentity
};

// Why a device is shown but not configured; the window and the command line
// refuse the same devices.
enum class Unconfigurable {
  kNoMaker,       // its maker string could not be read
  kMinorZero,     // firmware x.0: only the low byte of the version counts
  kShortReports,  // feature reports too short to carry the gain registers
};
std::optional<Unconfigurable> WhyNotConfigurable(const DeviceDetails& details);
// Whether feature reports of this length (id byte included) can read back
// every register the utility writes.
bool GainsFit(std::uint16_t feature_length);
bool CanConfigure(const DeviceDetails& details);

// The manufacturer and product strings (through ReadHandle, both into one
// buffer of which 100 bytes are offered) and the version; no feature report.
DeviceDetails ReadIdentity(platform::HidPlatform& hid, WindowState& state);

// The five-read configuration read-back, decoded into the three gains; it
// also sets state.InputMask. Nothing is written.
StoredGains ReadStoredGains(platform::HidPlatform& hid, WindowState& state);

// ReadIdentity, then ReadStoredGains: the window's details read.
DeviceDetails ReadDetails(platform::HidPlatform& hid, WindowState& state);

// Closes whichever of the two handles is open; the platform's closes are never
// refused, and a handle that is not open is left alone with LastResult as it
// was.
void CloseDevice(WindowState& state);

}  // namespace tensivo::device
