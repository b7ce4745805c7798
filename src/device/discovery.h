// Finding the attached devices of our kind and opening the selected one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/window_state.h"
#include "device/wire.h"
#include "platform/hid_platform.h"

namespace tensivo::device {

// One enumerated interface opened plain and asked for its identifiers and
// serial number, as both searches ask every interface.
struct Probe {
  platform::Handle handle;  // not open when the open failed
  // None when the interface is not ours after all or its serial query failed.
  std::optional<std::string> serial;
};
Probe ProbeInterface(platform::HidPlatform& hid, WindowState& state,
                     const platform::InterfaceInfo& info);

// With DeviceHandle open on DevicePathName: reads the report lengths, opens
// ReadHandle and arms the input read, as FindTheHid does for its match.
void FinishOpen(platform::HidPlatform& hid, WindowState& state);

// Clears FormReady and returns the serial numbers of every attached device, in
// enumeration order; the window lists them and selects the last. Interfaces
// whose serial the listing knows are not opened; every interface it opened is
// closed again, and SearchRefused says why one could not be opened. No device
// may be open.
std::vector<std::string> Scan_USB_devices(platform::HidPlatform& hid, WindowState& state);

// Opens the first device whose serial number equals `selected_serial`
// (exactly, case-sensitive) through both handles, reads its report lengths
// and arms the input read. Returns kTrue and sets DeviceFound when it did;
// otherwise kFalse with no handle left open. No device may be open.
Bool16 FindTheHid(platform::HidPlatform& hid, WindowState& state, std::string_view selected_serial);

// The report lengths of the device open on DeviceHandle. Lengths that cannot
// be read are 0, never those of a device shown before.
void Read_Device_Caps(platform::HidPlatform& hid, WindowState& state);

// The read event is made on the first open and reused for every later one.
void Init_Read_Overlapped(platform::HidPlatform& hid, WindowState& state);

}  // namespace tensivo::device
