#include "device/input_report.h"

#include <algorithm>
#include <cmath>

namespace tensivo::device {

double RoundHalfEven(double x) {
  const double floor = std::floor(x);
  const double diff = x - floor;
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

double FullScale(double outline_width) { return RoundHalfEven(outline_width - kOutlineMargin); }

std::array<std::optional<std::uint16_t>, kBarCount> NewestReportValues(
    std::span<const std::uint8_t> buffer, std::uint32_t count, std::uint16_t report_length,
    std::uint8_t input_mask) {
  std::array<std::optional<std::uint16_t>, kBarCount> values;
  const std::size_t read = std::min<std::size_t>(count, buffer.size());
  if (report_length == 0 || report_length > kReadRequestBytes || read < report_length) {
    return values;
  }
  const std::size_t p = read - report_length + 1;  // first data byte of the newest report
  auto value_at = [&](std::size_t offset) -> std::optional<std::uint16_t> {
    if (p + offset + 1 >= read) return std::nullopt;
    return static_cast<std::uint16_t>(buffer[p + offset] | buffer[p + offset + 1] << 8);
  };

  const auto offsets = ValueOffsets(input_mask);
  for (std::size_t i = 0; i < kChannelCount; ++i) {
    if (offsets[i]) values[i] = value_at(*offsets[i]);
  }
  return values;
}

std::array<std::optional<double>, kBarCount> NewestReportWidths(
    std::span<const std::uint8_t> buffer, std::uint32_t count, std::uint16_t report_length,
    std::uint8_t input_mask, double full_scale) {
  std::array<std::optional<double>, kBarCount> widths;
  const auto values = NewestReportValues(buffer, count, report_length, input_mask);
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i]) widths[i] = RoundHalfEven(full_scale * *values[i] / kFullScaleValue);
  }
  return widths;
}

}  // namespace tensivo::device
