// What a screen reader hears of the bars: how full each is, and how often.
#include "window/bar_reading.h"

#include <gtest/gtest.h>

#include "device/input_report.h"
#include "window/layout.h"

namespace tensivo::window {
namespace {

TEST(BarReading, PercentFollowsTheReadingAndAnEmptyBarReadsZero) {
  const double outline = FindPlace("LC1_frame")->width;
  const double full = device::FullScale(outline);
  const std::pair<double, int> cases[] = {
      {0, 0},
      {kEmptyBarWidth, 0},  // the sliver shown before any report
      {full * 13107 / 65535, 20},
      {full * 32768 / 65535, 50},
      {full, 100},
      {full + 200, 100},  // never past full scale
  };
  for (const auto& [width, percent] : cases) {
    EXPECT_EQ(BarPercent(width, outline), percent) << width;
  }
  EXPECT_EQ(BarValueText(42, false), "42%");
  EXPECT_EQ(BarValueText(42, true), "No input");
}

// A bar that moves on every 20 ms tick for two seconds, then settles: the
// first move is heard at once, then one value per gap, and the settled
// value once the gap is over; another bar keeps its own pace.
TEST(BarReading, AnnouncementsKeepAPaceAScreenReaderCanFollow) {
  using Notices = ValueNotices<2>;
  using std::chrono::milliseconds;
  Notices notices;
  Notices::Clock::time_point now{milliseconds(10'000)};
  std::vector<std::pair<std::size_t, int>> heard;
  auto hear = [&heard](std::size_t bar, int value) { heard.emplace_back(bar, value); };

  int value = 0;
  for (int tick = 0; tick < 100; ++tick, now += milliseconds(20)) {
    value = (value + 7) % 101;
    if (notices.Changed(0, value, now)) hear(0, value);
    notices.Flush(now, hear);
  }
  EXPECT_EQ(heard.front(), std::make_pair(std::size_t{0}, 7)) << "the first move, at once";
  EXPECT_GE(heard.size(), 4u);
  EXPECT_LE(heard.size(), 5u) << "two a second at most";

  heard.clear();
  bool waiting = true;
  for (int tick = 0; waiting; ++tick, now += milliseconds(20)) {
    ASSERT_LT(tick, 50) << "the settled value never went out";
    waiting = notices.Flush(now, hear);
  }
  EXPECT_EQ(heard, (std::vector<std::pair<std::size_t, int>>{{0, value}}));

  heard.clear();
  now += milliseconds(600);
  EXPECT_FALSE(notices.Changed(0, value, now)) << "no news: the value last heard";
  EXPECT_TRUE(notices.Changed(1, 3, now)) << "each bar has its own pace";
  EXPECT_FALSE(notices.Flush(now, hear));
  EXPECT_TRUE(heard.empty());
}

}  // namespace
}  // namespace tensivo::window
