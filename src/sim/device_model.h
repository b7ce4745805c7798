// What a device of our kind does on its side of the wire: its register bank,
// the replies it hands out on successive feature reads, how it applies a
// write-register report and what its input reports carry. The simulated
// backend and the kernel virtual device both run this one model, so they
// cannot drift apart.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "device/wire.h"

namespace tensivo::sim {

// One value per channel of the channel table, in report order.
using InputValueSet = std::array<std::uint16_t, device::kChannelCount>;

// One reply in the device's feature-read sequence.
struct FeatureReply {
  enum class Kind { kConfigBlock, kInputMask, kRaw };
  Kind kind = Kind::kConfigBlock;
  std::uint8_t start = 0;         // kConfigBlock: first register of the block
  std::vector<std::uint8_t> raw;  // kRaw: data bytes as sent, after the report-id byte

  static FeatureReply ConfigBlock(std::uint8_t start_register) {
    return {Kind::kConfigBlock, start_register, {}};
  }
  static FeatureReply InputMask() { return {Kind::kInputMask, 0, {}}; }
  static FeatureReply Raw(std::vector<std::uint8_t> bytes) {
    return {Kind::kRaw, 0, std::move(bytes)};
  }
};

class DeviceModel {
 public:
  DeviceModel();

  // The bank is 256 registers wide so that any register number a report can
  // carry lands somewhere; the host only uses 0 to 16.
  std::array<std::uint8_t, 256>& registers() { return registers_; }
  const std::array<std::uint8_t, 256>& registers() const { return registers_; }

  // The channel table's mask bits mark inputs as absent from the input report.
  std::uint8_t input_mask() const { return input_mask_; }
  void set_input_mask(std::uint8_t mask) { input_mask_ = mask; }

  // Replaces the reply sequence; successive reads walk it and start over at
  // its end. The default is a configuration block from register 0, then the
  // input mask.
  void SetReplies(std::vector<FeatureReply> replies);
  void RestartReplies() { next_reply_ = 0; }

  // Fills `data` (the report after its id byte) with the next reply, zero
  // padded or cut to its size.
  void NextFeatureReply(std::span<std::uint8_t> data);

  // Applies a report written by the host (again without the id byte).
  // Returns false for a report the device does not understand.
  bool ApplyFeatureWrite(std::span<const std::uint8_t> data);

  // Input values at time t (seconds), in channel order.
  InputValueSet InputValues(double t) const;

  // The input report's data bytes at time t: each channel the mask leaves
  // present, low byte first, zero padded or cut to `data`.
  void InputReport(double t, std::span<std::uint8_t> data) const;

  // Encodes given values the way InputReport does, for scripted reports.
  static void EncodeInputReport(const InputValueSet& values, std::uint8_t mask,
                                std::span<std::uint8_t> data);

 private:
  std::array<std::uint8_t, 256> registers_{};
  std::uint8_t input_mask_ = 0;
  std::vector<FeatureReply> replies_;
  std::size_t next_reply_ = 0;
};

}  // namespace tensivo::sim
