#include "device/discovery.h"

#include <array>

#include "device/device_text.h"
#include "platform/device_string.h"

namespace tensivo::device {

namespace {

constexpr std::size_t kSerialRequestBytes = 100;

// The serial as text from what a serial query leaves in its buffer: 100 bytes
// offered, and every byte past them zero, so no text runs past them.
template <typename Query>
std::optional<std::string> SerialText(Query&& query) {
  std::array<std::uint8_t, 201> serial_buffer{};
  if (!query(std::span(serial_buffer).first(kSerialRequestBytes))) return std::nullopt;
  return DeviceStringToText(serial_buffer);
}

// Walks the present interfaces of our kind as both searches do. Only
// interfaces whose enumerated identifiers are ours are ever opened: opening
// other people's devices on every tick disturbs them. Where the listing knows
// the serial, an interface is opened only when `wanted` keeps it, and asked
// again once open, in case its node went to another device meanwhile.
// Returns whether an interface was kept open in DeviceHandle.
template <typename Wanted>
bool ProbeInterfaces(platform::HidPlatform& hid, WindowState& state, Wanted&& wanted) {
  std::vector<platform::InterfaceInfo> interfaces;
  const platform::Result listed = hid.Enumerate(kVendorId, kProductId, interfaces);
  state.LastResult = listed;
  state.SearchRefused = platform::OpenError::kNone;

  bool kept = false;
  for (const platform::InterfaceInfo& info : interfaces) {
    if (info.vendor_id != kVendorId || info.product_id != kProductId) continue;
    if (info.serial_listed == platform::ListedSerial::kNone) continue;
    if (info.serial_listed == platform::ListedSerial::kKnown) {
      const std::optional<std::string> serial = SerialText([&](std::span<std::uint8_t> buffer) {
        platform::PutDeviceString(info.serial, buffer);
        return true;
      });
      if (!wanted(*serial)) continue;
    }
    Probe probe = ProbeInterface(hid, state, info);
    // Gone meanwhile is no reason to tell anyone: it was unplugged.
    if (!probe.handle.IsOpen() && hid.LastOpenError() != platform::OpenError::kGone) {
      state.SearchRefused = hid.LastOpenError();
    }
    if (probe.serial && wanted(*probe.serial)) {
      state.DeviceHandle = std::move(probe.handle);
      kept = true;
      break;
    }
    probe.handle.Close();
  }
  state.LastResult = listed;
  return kept;
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
  probe.serial = SerialText([&](std::span<std::uint8_t> buffer) {
    state.LastResult = hid.GetSerialNumberString(probe.handle, buffer);
    return state.LastResult != 0;
  });
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
  state.DeviceFound = kFalse;
  if (!ProbeInterfaces(hid, state,
                       [&](const std::string& serial) { return serial == selected_serial; })) {
    return kFalse;
  }
  state.DeviceFound = kTrue;
  FinishOpen(hid, state);
  return kTrue;
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
