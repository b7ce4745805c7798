#include "device/protocol.h"

#include <algorithm>

namespace tensivo::device {

GainPosition SplitGainPosition(int position) {
  const int p = std::clamp(position, 0, kGainCount - 1);
  return {p / 256, p % 256};
}

GainRegisters EncodeGain(int position) {
  const auto [e, m] = SplitGainPosition(position);
  const CoarseStep step = kWriterTable[static_cast<std::size_t>(e)];
  return {static_cast<std::uint8_t>(8 + step.amplifier_code), step.shift,
          static_cast<std::uint8_t>(m)};
}

std::optional<int> DecodeGainPosition(std::uint8_t amplifier, std::uint8_t shift,
                                      std::uint8_t fine) {
  const int e = kReaderTable[amplifier & 7u][shift & 3u];
  if (e < 0) return std::nullopt;
  return 256 * e + fine;
}

std::vector<std::uint8_t> NewFeatureBuffer(const WindowState& state) {
  return std::vector<std::uint8_t>(state.DeviceCaps.FeatureReportByteLength, 0);
}

void Write_Register(platform::HidPlatform& hid, WindowState& state, std::span<std::uint8_t> buffer,
                    std::uint8_t reg, std::uint8_t value) {
  if (buffer.size() < 4) {
    state.LastResult = platform::kFailure;
    return;
  }
  buffer[0] = 0;
  buffer[1] = kWriteRegisterCommand;
  buffer[2] = reg;
  buffer[3] = value;
  state.LastResult = hid.SetFeature(state.DeviceHandle, buffer);
}

WriteResults WriteGain(platform::HidPlatform& hid, WindowState& state, LoadCell cell,
                       int position) {
  const GainRegisters& target = kLoadCellRegisters[static_cast<std::size_t>(cell)];
  const GainRegisters values = EncodeGain(position);
  auto buffer = NewFeatureBuffer(state);
  WriteResults results;
  for (const auto& [reg, value] :
       {std::pair{target.amplifier, values.amplifier}, std::pair{target.shift, values.shift},
        std::pair{target.fine, values.fine}}) {
    Write_Register(hid, state, buffer, reg, value);
    results.push_back({reg, value, state.LastResult});
  }
  return results;
}

WriteResults WriteFactoryDefaults(platform::HidPlatform& hid, WindowState& state) {
  auto buffer = NewFeatureBuffer(state);
  WriteResults results;
  for (std::size_t reg = 0; reg < kFactoryValues.size(); ++reg) {
    const auto r = static_cast<std::uint8_t>(reg);
    Write_Register(hid, state, buffer, r, kFactoryValues[reg]);
    results.push_back({r, kFactoryValues[reg], state.LastResult});
  }
  return results;
}

RegisterSet ApplyFeatureReply(std::span<const std::uint8_t> reply, RegisterImage& image,
                              std::uint8_t& input_mask) {
  RegisterSet written;
  if (reply.size() < 3) return written;
  if (reply[1] == kConfigBlockTag) {
    const std::size_t start = reply[2];
    for (std::size_t i = 0; i < kConfigBlockRegisters; ++i) {
      if (3 + i >= reply.size() || start + i >= image.size()) break;
      image[start + i] = reply[3 + i];
      written.set(start + i);
    }
  } else if (reply[1] == kInputMaskTag) {
    input_mask = reply[2];
  }
  return written;
}

RegisterImage ReadConfiguration(platform::HidPlatform& hid, WindowState& state,
                                RegisterSet* registers_read) {
  RegisterImage image{};
  if (registers_read) registers_read->reset();
  auto buffer = NewFeatureBuffer(state);
  // Without a known length there is no report to ask for.
  if (buffer.empty()) {
    state.LastResult = platform::kFailure;
    return image;
  }
  for (int read = 0; read < kReadBackReads; ++read) {
    state.LastResult = hid.GetFeature(state.DeviceHandle, buffer);
    // Examined whatever the result: a failed read leaves the previous reply.
    const RegisterSet written = ApplyFeatureReply(buffer, image, state.InputMask);
    if (registers_read && state.LastResult != 0) *registers_read |= written;
  }
  return image;
}

}  // namespace tensivo::device
