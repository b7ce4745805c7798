#include "device/device_steps.h"

#include <span>

#include "device/device_text.h"
#include "device/protocol.h"

namespace tensivo::device {

std::optional<Unconfigurable> WhyNotConfigurable(const DeviceDetails& details) {
  if (!details.manufacturer) return Unconfigurable::kNoMaker;
  if ((details.version & 0xFF) == 0) return Unconfigurable::kMinorZero;
  if (!GainsFit(details.feature_length)) return Unconfigurable::kShortReports;
  return std::nullopt;
}

bool GainsFit(std::uint16_t feature_length) { return feature_length >= kGainFeatureLength; }

bool CanConfigure(const DeviceDetails& details) { return !WhyNotConfigurable(details); }

DeviceDetails ReadIdentity(platform::HidPlatform& hid, WindowState& state) {
  DeviceDetails details;
  details.version = state.DeviceAttributes.VersionNumber;
  details.feature_length = state.DeviceCaps.FeatureReportByteLength;

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
  gains.registers = image;
  gains.registers_read = registers_read;
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
