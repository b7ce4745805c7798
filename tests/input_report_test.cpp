// Turning what one read delivered into the widths of the eight bars.
#include <gtest/gtest.h>

#include "device/input_report.h"
#include "sim/device_model.h"

namespace tensivo::device {
namespace {

constexpr double kF = 4611;  // full scale at the window's design width

using Values = std::array<std::uint16_t, 8>;
using Widths = std::array<std::optional<double>, kBarCount>;

// Reports of `length` bytes (id byte included) back to back, as a read gives them.
std::vector<std::uint8_t> Reports(std::initializer_list<Values> values, std::uint8_t mask,
                                  std::size_t length = 17) {
  std::vector<std::uint8_t> bytes;
  for (const Values& v : values) {
    std::vector<std::uint8_t> report(length, 0);
    sim::DeviceModel::EncodeInputReport(v, mask, std::span(report).subspan(1));
    bytes.insert(bytes.end(), report.begin(), report.end());
  }
  return bytes;
}

Widths Decode(const std::vector<std::uint8_t>& bytes, std::uint8_t mask,
              std::uint16_t length = 17) {
  return NewestReportWidths(bytes, static_cast<std::uint32_t>(bytes.size()), length, mask, kF);
}

TEST(InputReport, ValuesScaleFromNothingToFullScale) {
  const auto widths = Decode(Reports({{0, 65535, 4660, 1, 2, 3, 4, 5}}, 0), 0);
  EXPECT_EQ(widths[0], 0);
  EXPECT_EQ(widths[1], kF);
  EXPECT_EQ(widths[2], 328);  // bytes 0x34, 0x12
  EXPECT_EQ(widths[3], 0);  // 4611 / 65535 rounds down
  EXPECT_EQ(FullScale(4695), kF);
}

TEST(InputReport, HalvesRoundToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(3.4999), 3);
  EXPECT_EQ(RoundHalfEven(-0.5), -0.0);
  // Full scale 2: value 32767.5 would be one; 16384 of 65535 gives 0.50001, so 1.
  const auto bytes = Reports({{16384, 49151, 0, 0, 0, 0, 0, 0}}, 0xF8);
  const auto widths = NewestReportWidths(bytes, 17, 17, 0xF8, 2);
  EXPECT_EQ(widths[0], 1);
  EXPECT_EQ(widths[1], 1);  // 1.49998
  EXPECT_EQ(FullScale(86.5), 2);  // 2.5 -> 2
  EXPECT_EQ(FullScale(87.5), 4);  // 3.5 -> 4
}

TEST(InputReport, TheNewestOfSeveralReportsIsShown) {
  const auto bytes = Reports({{65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535},
                              {0, 0, 0, 0, 0, 0, 0, 0}},
                             0);
  const auto widths = Decode(bytes, 0);
  for (const auto& w : widths) EXPECT_EQ(w, 0);
}

TEST(InputReport, MaskedInputsTakeNoBytesAndKeepTheirBars) {
  // Inputs 4 and 6 absent: 5, 7, 8 follow the load cells at once.
  const Values v = {0, 0, 0, 65535, 13107, 65535, 26214, 39321};
  const auto widths = Decode(Reports({v}, 0x28), 0x28);
  EXPECT_EQ(widths[3], std::nullopt);
  EXPECT_EQ(widths[4], 922);
  EXPECT_EQ(widths[5], std::nullopt);
  EXPECT_EQ(widths[6], 1844);
  EXPECT_EQ(widths[7], 2767);

  const auto only_cells = Decode(Reports({v}, 0xF8), 0xF8);
  for (int n = 3; n < kBarCount; ++n) EXPECT_EQ(only_cells[n], std::nullopt);
  EXPECT_TRUE(only_cells[0] && only_cells[1] && only_cells[2]);

  // Bits 0..2 play no part.
  EXPECT_EQ(Decode(Reports({v}, 0x07), 0x07), Decode(Reports({v}, 0), 0));
}

TEST(InputReport, ReadsWithoutAWholeReportShowNothing) {
  const auto bytes = Reports({{100, 200, 300, 400, 500, 600, 700, 800}}, 0);
  const Widths nothing{};
  EXPECT_EQ(NewestReportWidths(bytes, 16, 17, 0, kF), nothing);
  EXPECT_EQ(NewestReportWidths(bytes, 1, 17, 0, kF), nothing);
  EXPECT_EQ(NewestReportWidths(bytes, 17, 0, 0, kF), nothing);
  std::vector<std::uint8_t> big(1001, 0xFF);
  EXPECT_EQ(NewestReportWidths(big, 1000, 1001, 0, kF), nothing);
  // A count beyond the buffer never reaches past it.
  EXPECT_EQ(NewestReportWidths(std::span(bytes).first(10), 17, 17, 0, kF), nothing);
}

TEST(InputReport, InputsWhoseBytesTheReportDoesNotHoldKeepTheirBars) {
  // A device with a 9-byte report carries the load cells and one input.
  const auto bytes = Reports({{1000, 2000, 3000, 65535, 65535, 65535, 65535, 65535}}, 0, 9);
  const auto widths = Decode(bytes, 0, 9);
  EXPECT_TRUE(widths[0] && widths[1] && widths[2]);
  EXPECT_EQ(widths[3], kF);
  for (int n = 4; n < kBarCount; ++n) EXPECT_EQ(widths[n], std::nullopt) << n;
}

}  // namespace
}  // namespace tensivo::device
