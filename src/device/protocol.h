// The feature reports of the device: the register map, how a load cell's gain
// is spread over three registers, the factory values, and the write and
// read-back sequences. Every byte that goes to or comes from the device in a
// feature report is fixed here.
#pragma once

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "device/channels.h"
#include "device/window_state.h"
#include "device/wire.h"
#include "platform/hid_platform.h"

namespace tensivo::device {

// The gain list's length; every range of list positions derives from it.
inline constexpr int kGainCount = 2560;
inline constexpr int kLastGainPosition = kGainCount - 1;
inline constexpr int kFactoryGainPosition = 2292;  // gain 500
inline constexpr int kReadBackReads = 5;
inline constexpr std::size_t kRegisterImageSize = 17;
using RegisterImage = std::array<std::uint8_t, kRegisterImageSize>;
// Which registers of an image a read-back filled.
using RegisterSet = std::bitset<kRegisterImageSize>;

// The shortest feature report, id byte included, whose configuration block
// reaches every register the utility writes (the factory settings' twelve):
// id, tag and start byte, then registers 0.. . A shorter one could take
// writes it cannot read back, so such a device is not configured at all.
inline constexpr std::uint16_t kGainFeatureLength =
    static_cast<std::uint16_t>(3 + kFactoryValues.size());

// Indexes the load cells of the channel table.
enum class LoadCell { kLC1 = 0, kLC2 = 1, kLC3 = 2 };
static_assert(static_cast<std::size_t>(LoadCell::kLC3) + 1 == kLoadCellCount);

// Writer's rule: coarse step e -> amplifier code and shift.
struct CoarseStep {
  std::uint8_t amplifier_code;
  std::uint8_t shift;
};
inline constexpr std::array<CoarseStep, 10> kWriterTable = {
    {{0, 0}, {0, 1}, {0, 2}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {7, 1}, {7, 2}}};

// Reader's rule: [amplifier code][shift] -> coarse step, -1 where the
// registers name no step (the list then keeps its position).
inline constexpr std::array<std::array<std::int8_t, 4>, 8> kReaderTable = {{
    {0, 1, 2, -1},
    {-1, -1, -1, -1},
    {-1, -1, -1, -1},
    {3, 3, 3, 3},
    {4, 4, 4, 4},
    {5, 5, 5, 5},
    {6, 6, 6, 6},
    {7, 8, 9, 9},
}};

struct GainPosition {
  int coarse;  // e, 0..9
  int fine;    // m, 0..255
};

// Positions outside the list are clamped into it.
GainPosition SplitGainPosition(int position);

// The three register values that select list position p.
GainRegisters EncodeGain(int position);

// The list position that three register values select, if any.
std::optional<int> DecodeGainPosition(std::uint8_t amplifier, std::uint8_t shift,
                                      std::uint8_t fine);

// A report buffer of the open device's feature length, zero-filled.
std::vector<std::uint8_t> NewFeatureBuffer(const WindowState& state);

// Sends one write-register report through the buffer: 0, 1, register, value,
// the rest as the buffer holds it. A buffer too short for those four bytes
// sends nothing and counts as a failed call.
void Write_Register(platform::HidPlatform& hid, WindowState& state, std::span<std::uint8_t> buffer,
                    std::uint8_t reg, std::uint8_t value);

// One write-register report of a sequence and the platform's result for it.
struct RegisterWrite {
  std::uint8_t reg;
  std::uint8_t value;
  platform::Result result;
};
using WriteResults = std::vector<RegisterWrite>;

// Amplifier, shift and fine register of one load cell, in that order. A
// sequence always runs to its end; the results only tell what went through.
WriteResults WriteGain(platform::HidPlatform& hid, WindowState& state, LoadCell cell, int position);

// Registers 0..11 with the factory values, in ascending order.
WriteResults WriteFactoryDefaults(platform::HidPlatform& hid, WindowState& state);

// Five feature reads, taken in whatever order the device hands out its
// replies: configuration blocks go into a fresh register image, an input-mask
// reply into state.InputMask. Nothing is written to the device.
// `registers_read`, when given, learns which image registers came from reads
// that succeeded, so that a register holding 0 can be told from one that a
// failed read left at 0.
RegisterImage ReadConfiguration(platform::HidPlatform& hid, WindowState& state,
                                RegisterSet* registers_read = nullptr);

// Applies one reply to the image and mask and returns the image registers it
// wrote; bytes outside the reply or the image are never touched.
RegisterSet ApplyFeatureReply(std::span<const std::uint8_t> reply, RegisterImage& image,
                              std::uint8_t& input_mask);

}  // namespace tensivo::device
