// The device's inputs, once: the three load cells and the five potentiometer
// inputs, in the order the input report carries them. Everything that counts,
// names, loops over or decodes an input derives it from this table.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tensivo::device {

// The three registers that together hold one load cell's gain.
struct GainRegisters {
  std::uint8_t amplifier;
  std::uint8_t shift;
  std::uint8_t fine;
};

struct Channel {
  const char* name;      // as a person reads it
  const char* json_key;  // in the command line's JSON
  int number;            // LC1..LC3 are 1..3; the window's control arrays index 4..8
  bool load_cell;        // has a gain, in `gain`
  GainRegisters gain;
  // The input-mask bit that leaves the input out of the input report; 0 for
  // an input that is always in it.
  std::uint8_t mask_bit;
};

// Report order. An input report holds one 16-bit value, low byte first, for
// each channel in this order, skipping those the input mask leaves out.
inline constexpr std::array<Channel, 8> kChannels = {{
    {"LC1", "LC1", 1, true, {0, 1, 6}, 0},
    {"LC2", "LC2", 2, true, {2, 3, 7}, 0},
    {"LC3", "LC3", 3, true, {4, 5, 8}, 0},
    {"Input 4", "Input4", 4, false, {}, 0x08},
    {"Input 5", "Input5", 5, false, {}, 0x10},
    {"Input 6", "Input6", 6, false, {}, 0x20},
    {"Input 7", "Input7", 7, false, {}, 0x40},
    {"Input 8", "Input8", 8, false, {}, 0x80},
}};

inline constexpr std::size_t kChannelCount = kChannels.size();
inline constexpr std::size_t kLoadCellCount = static_cast<std::size_t>(
    std::ranges::count_if(kChannels, [](const Channel& c) { return c.load_cell; }));
inline constexpr std::size_t kInputCount = kChannelCount - kLoadCellCount;
inline constexpr std::size_t kValueBytes = 2;

// Load cells come first, so channel i < kLoadCellCount is load cell i.
static_assert(std::ranges::all_of(kChannels.begin(), kChannels.begin() + kLoadCellCount,
                                  [](const Channel& c) { return c.load_cell; }));

// The potentiometer inputs, numbered kFirstInput.. in table order.
inline constexpr int kFirstInput = kChannels[kLoadCellCount].number;

inline constexpr std::array<Channel, kLoadCellCount> LoadCells() {
  std::array<Channel, kLoadCellCount> cells{};
  std::copy_n(kChannels.begin(), kLoadCellCount, cells.begin());
  return cells;
}
inline constexpr std::array<Channel, kInputCount> Inputs() {
  std::array<Channel, kInputCount> inputs{};
  std::copy_n(kChannels.begin() + kLoadCellCount, kInputCount, inputs.begin());
  return inputs;
}

// Which registers each load cell owns, in the order LC1, LC2, LC3.
inline constexpr std::array<GainRegisters, kLoadCellCount> kLoadCellRegisters = [] {
  std::array<GainRegisters, kLoadCellCount> regs{};
  for (std::size_t i = 0; i < kLoadCellCount; ++i) regs[i] = kChannels[i].gain;
  return regs;
}();

// Every bit of the input mask that marks an input absent.
inline constexpr std::uint8_t kInputMaskBits = [] {
  std::uint8_t bits = 0;
  for (const Channel& c : kChannels) bits |= c.mask_bit;
  return bits;
}();

constexpr bool Present(const Channel& channel, std::uint8_t input_mask) {
  return (input_mask & channel.mask_bit) == 0;
}

// Where each channel's value starts in an input report's data bytes (after
// the id byte); none for a channel the mask leaves out.
constexpr std::array<std::optional<std::size_t>, kChannelCount> ValueOffsets(
    std::uint8_t input_mask) {
  std::array<std::optional<std::size_t>, kChannelCount> offsets{};
  std::size_t at = 0;
  for (std::size_t i = 0; i < kChannelCount; ++i) {
    if (!Present(kChannels[i], input_mask)) continue;
    offsets[i] = at;
    at += kValueBytes;
  }
  return offsets;
}

// The load cell named `name` exactly ("LC2"), as an index into LoadCells().
constexpr std::optional<std::size_t> LoadCellNamed(std::string_view name) {
  for (std::size_t i = 0; i < kLoadCellCount; ++i) {
    if (std::string_view(kChannels[i].name) == name) return i;
  }
  return std::nullopt;
}

}  // namespace tensivo::device
