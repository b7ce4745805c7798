#include "device/device_steps.h"

#include <span>

#include "device/device_text.h"
#include "device/protocol.h"

namespace tensivo::device {

bool CanConfigure(const DeviceDetails& details) {
  return details.manufacturer.has_value() && (details.version & 0xFF) >= 1;
}

DeviceDetails ReadIdentity(platform::HidPlatform& hid, WindowState& state) {
  DeviceDetails details;
  details.version = state.DeviceAttributes.VersionNumber;

  // Only the first 100 bytes are offered, so a text always ends inside.
  std::array<std::uint8_t, 201> strings{};
  const auto request = std::span(strings).first(100);
  state.LastResult = hid.GetManufacturerString(state.ReadHandle, request);
  if (state.LastResult != 0) details.manufacturer = DeviceStringToText(strings);
  state.LastResult = hid.GetProductString(state.ReadHandle, request);
  if (state.LastResult != 0) details.product = DeviceStringToText(strings);
  return details;
}

StoredGains ReadStoredGains(platform::HidPlatform& hid, WindowState& state) {
  RegisterSet registers_read;
  const RegisterImage image = ReadConfiguration(hid, state, &registers_read);
  StoredGains gains;
  gains.read = true;
  for (std::size_t cell = 0; cell < kLoadCellRegisters.size(); ++cell) {
    const GainRegisters& regs = kLoadCellRegisters[cell];
    gains.positions[cell] =
        DecodeGainPosition(image[regs.amplifier], image[regs.shift], image[regs.fine]);
    for (const std::uint8_t reg : {regs.amplifier, regs.shift, regs.fine}) {
      gains.read = gains.read && registers_read.test(reg);
    }
  }
  return gains;
}

DeviceDetails ReadDetails(platform::HidPlatform& hid, WindowState& state) {
  DeviceDetails details = ReadIdentity(hid, state);
  details.gains = ReadStoredGains(hid, state);
  return details;
}

void CloseDevice(WindowState& state) {
  for (platform::Handle* handle : {&state.DeviceHandle, &state.ReadHandle}) {
    if (handle->IsOpen()) state.LastResult = handle->Close();
  }
}

}  // namespace tensivo::device
