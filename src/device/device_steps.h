// Steps on the open device that the window and the command line share, so
// that both send and read exactly the same reports in the same order.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "device/channels.h"
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
};

// What the details read-back learns of the open device.
struct DeviceDetails {
  std::optional<std::string> manufacturer;  // 8-bit text; none when the query failed
  std::optional<std::string> product;
  std::uint16_t version = 0;
  // List positions of LC1..LC3; none where the registers name no step.
  std::array<std::optional<int>, kLoadCellCount> gain_positions;
  bool gains_read = false;  // as StoredGains::read
};

// Devices before minor version 1 cannot be configured (only the low byte
// counts), nor can one whose maker string could not be read.
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
