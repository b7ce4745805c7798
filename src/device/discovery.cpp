#include "device/discovery.h"

#include <array>

#include "device/device_text.h"

namespace tensivo::device {

namespace {

constexpr std::size_t kSerialRequestBytes = 100;

// Walks the present interfaces of our kind as both searches do. Only
// interfaces whose enumerated identifiers are ours are ever opened: opening
// other people's devices on every tick disturbs them. `take` sees the serial
// of each match whose serial could be read, and returns true to keep that
// interface open in DeviceHandle and end the walk.
template <typename Take>
void ProbeInterfaces(platform::HidPlatform& hid, WindowState& state, Take&& take) {
  std::vector<platform::InterfaceInfo> interfaces;
  const platform::Result listed = hid.Enumerate(kVendorId, kProductId, interfaces);
  state.LastResult = listed;
  state.SearchRefused = platform::OpenError::kNone;

  for (const platform::InterfaceInfo& info : interfaces) {
    if (info.vendor_id != kVendorId || info.product_id != kProductId) continue;
    Probe probe = ProbeInterface(hid, state, info);
    // Gone meanwhile is no reason to tell anyone: it was unplugged.
    if (!probe.handle.IsOpen() && hid.LastOpenError() != platform::OpenError::kGone) {
      state.SearchRefused = hid.LastOpenError();
    }
    if (probe.serial && take(*probe.serial)) {
      state.DeviceHandle = std::move(probe.handle);
      break;
    }
    probe.handle.Close();
  }
  state.LastResult = listed;
}

}  // namespace

Probe ProbeInterface(platform::HidPlatform& hid, WindowState& state,
                     const platform::InterfaceInfo& info) {
  Probe probe;
  state.DevicePathName = info.path;
  probe.handle = hid.Open(info.path, platform::OpenMode::kPlain);
  state.DeviceAttributes.VendorID = 0;
  state.DeviceAttributes.ProductID = 0;
  state.LastResult = hid.GetAttributes(probe.handle, state.DeviceAttributes);
  if (state.DeviceAttributes.VendorID != kVendorId ||
      state.DeviceAttributes.ProductID != kProductId) {
    return probe;
  }
  // Every query writes its own terminator, and the bytes past the 100
  // offered stay zero, so no text runs past them.
  std::array<std::uint8_t, 201> serial_buffer{};
  state.LastResult =
      hid.GetSerialNumberString(probe.handle, std::span(serial_buffer).first(kSerialRequestBytes));
  if (state.LastResult != 0) probe.serial = DeviceStringToText(serial_buffer);
  return probe;
}

std::vector<std::string> Scan_USB_devices(platform::HidPlatform& hid, WindowState& state) {
  state.FormReady = kFalse;
  std::vector<std::string> serials;
  ProbeInterfaces(hid, state, [&](std::string serial) {
    serials.push_back(std::move(serial));
    return false;
  });
  return serials;
}

Bool16 FindTheHid(platform::HidPlatform& hid, WindowState& state,
                  std::string_view selected_serial) {
  Bool16 result = kFalse;
  state.DeviceFound = kFalse;
  ProbeInterfaces(hid, state, [&](const std::string& serial) {
    if (serial != selected_serial) return false;
    state.DeviceFound = kTrue;
    return true;
  });
  if (state.DeviceFound == kTrue) {
    result = kTrue;
    FinishOpen(hid, state);
  }
  return result;
}

void FinishOpen(platform::HidPlatform& hid, WindowState& state) {
  Read_Device_Caps(hid, state);
  state.ReadHandle = hid.Open(state.DevicePathName, platform::OpenMode::kOverlapped);
  Init_Read_Overlapped(hid, state);
}

void Read_Device_Caps(platform::HidPlatform& hid, WindowState& state) {
  platform::HidCaps caps;
  state.LastResult = hid.GetCaps(state.DeviceHandle, caps);
  state.DeviceCaps = state.LastResult != 0 ? caps : platform::HidCaps{};
}

void Init_Read_Overlapped(platform::HidPlatform& hid, WindowState& state) {
  if (state.ReadEvent == 0) state.ReadEvent = hid.CreateReadEvent();
  state.ReadOverlapped = platform::ReadOverlapped{0, 0, state.ReadEvent};
}

}  // namespace tensivo::device
