// Decoding the device's input reports into bar widths.
//
// A report is the id byte, then the values of the channel table's inputs
// that the input mask leaves in (channels.h).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "device/channels.h"

namespace tensivo::device {

inline constexpr std::size_t kReadRequestBytes = 1000;
inline constexpr std::size_t kReadBufferBytes = 1001;
inline constexpr int kBarCount = static_cast<int>(kChannelCount);  // one bar per channel
inline constexpr double kOutlineMargin = 84;
inline constexpr double kFullScaleValue = 65535;  // the largest 16-bit value

// Whole number nearest to x, an exact half going to the even neighbour.
double RoundHalfEven(double x);

// Full-scale bar width (twips) for an outline of the given width.
double FullScale(double outline_width);

// The input values, in channel order, of the newest whole
// report among the `count` bytes read, or none for an input the read cannot
// give: masked out, past the bytes read, or no whole report at all. No byte
// past `count` is ever used.
std::array<std::optional<std::uint16_t>, kBarCount> NewestReportValues(
    std::span<const std::uint8_t> buffer, std::uint32_t count, std::uint16_t report_length,
    std::uint8_t input_mask);

// New widths of the bars, in channel order, from the newest whole report among the
// `count` bytes read, or none for a bar the read cannot set. Nothing is shown
// when the read holds no whole report or the report length is unusable, and no
// byte past `count` is ever used.
std::array<std::optional<double>, kBarCount> NewestReportWidths(
    std::span<const std::uint8_t> buffer, std::uint32_t count, std::uint16_t report_length,
    std::uint8_t input_mask, double full_scale);

}  // namespace tensivo::device
