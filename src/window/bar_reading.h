// What a screen reader is told of a live bar: how full it is, in whole
// percent of full scale, and when to tell it again. The bars move up to 50
// times a second; a reader that spoke each change would say nothing else.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>

#include "device/input_report.h"

namespace tensivo::window {

inline constexpr int kBarMinimum = 0;
inline constexpr int kBarMaximum = 100;
// Said of a bar whose input is absent.
inline constexpr std::string_view kNoInputText = "No input";
// Said of every bar, so that the range of its value is known.
inline constexpr std::string_view kBarRangeText = "Percent of full scale";

// How full a bar `width` twips wide is in its outline `outline_width` twips
// wide, in whole percent; the empty bar's sliver reads 0.
inline int BarPercent(double width, double outline_width) {
  const double full_scale = device::FullScale(outline_width);
  if (full_scale <= 0) return kBarMinimum;
  const double percent = std::lround(width * kBarMaximum / full_scale);
  return static_cast<int>(std::clamp<double>(percent, kBarMinimum, kBarMaximum));
}

// Whether a bar's input is absent: the input mask greys out its caption
// alone. A caption greyed with its whole frame (no device shown, a device
// whose gains cannot be changed, an input mask with no input bit set) says
// nothing of the input: its bar still shows the readings.
constexpr bool InputAbsent(bool caption_enabled, bool frame_enabled) {
  return !caption_enabled && frame_enabled;
}

// "42%", or the absent text.
inline std::string BarValueText(int percent, bool absent) {
  return absent ? std::string(kNoInputText) : std::to_string(percent) + "%";
}

// When to announce a bar's new value: at once where the last announcement
// is a gap ago, else once the gap is over, with the value then current. A
// value back at the one last announced is no news.
template <std::size_t N>
class ValueNotices {
 public:
  using Clock = std::chrono::steady_clock;
  // At most two announcements a second per bar.
  static constexpr Clock::duration kGap = std::chrono::milliseconds(500);

  // A bar's value is now `value`; true when it is to be announced now.
  bool Changed(std::size_t bar, int value, Clock::time_point now) {
    Entry& entry = entries_.at(bar);
    entry.latest = value;
    entry.waiting = value != entry.announced;
    if (!entry.waiting || now - entry.at < kGap) return false;
    Announce(entry, now);
    return true;
  }

  // Whether a bar's change waits for its gap to end.
  bool waiting(std::size_t bar) const { return entries_.at(bar).waiting; }

  // Calls `announce(bar, value)` for each bar whose change waits and whose
  // gap is over. Returns whether any still waits.
  template <typename F>
  bool Flush(Clock::time_point now, F&& announce) {
    bool still = false;
    for (std::size_t bar = 0; bar < N; ++bar) {
      Entry& entry = entries_[bar];
      if (!entry.waiting) continue;
      if (now - entry.at < kGap) {
        still = true;
        continue;
      }
      Announce(entry, now);
      announce(bar, entry.latest);
    }
    return still;
  }

 private:
  struct Entry {
    int announced = kBarMinimum;
    int latest = kBarMinimum;
    Clock::time_point at{};
    bool waiting = false;
  };
  static void Announce(Entry& entry, Clock::time_point now) {
    entry.announced = entry.latest;
    entry.at = now;
    entry.waiting = false;
  }

  std::array<Entry, N> entries_{};
};

}  // namespace tensivo::window
