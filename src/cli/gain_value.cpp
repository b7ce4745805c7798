#include "cli/gain_value.h"

#include <array>
#include <charconv>
#include <cmath>

#include "device/device_text.h"
#include "device/protocol.h"

namespace tensivo::cli {

namespace {

const std::array<std::string, device::kGainCount>& ListTexts() {
  static const auto texts = [] {
    std::array<std::string, device::kGainCount> all;
    for (int p = 0; p < device::kGainCount; ++p) all[p] = device::GainText(p);
    return all;
  }();
  return texts;
}

std::optional<double> Number(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::string Entry(int position) {
  return device::GainText(position) + " (position " + std::to_string(position) + ")";
}

}  // namespace

double GainAt(int position) {
  const device::GainPosition split = device::SplitGainPosition(position);
  return std::ldexp(1.0 + split.fine / 256.0, split.coarse);
}

std::optional<int> FindGainPosition(std::string_view text) {
  const auto& texts = ListTexts();
  for (int p = 0; p < device::kGainCount; ++p) {
    if (texts[p] == text) return p;
  }
  // Every gain is a multiple of 1/256 below 1024, so a double holds it exactly.
  if (const auto value = Number(text)) {
    for (int p = 0; p < device::kGainCount; ++p) {
      if (GainAt(p) == *value) return p;
    }
  }
  return std::nullopt;
}

std::string NoGainMessage(std::string_view text) {
  const std::string quoted = "'" + std::string(text) + "'";
  const auto value = Number(text);
  if (!value) {
    return quoted +
           " is no gain; give one as the list writes it (1 to 1022, such as 500 or "
           "8.0312) or use --position 0.." +
           std::to_string(device::kLastGainPosition);
  }
  int above = 0;
  while (above < device::kGainCount && GainAt(above) < *value) ++above;
  std::string nearest;
  if (above == 0) {
    nearest = "the smallest is " + Entry(0);
  } else if (above == device::kGainCount) {
    nearest = "the largest is " + Entry(device::kGainCount - 1);
  } else {
    nearest = "the nearest are " + Entry(above - 1) + " and " + Entry(above);
  }
  return quoted + " is no gain in the list; " + nearest;
}

}  // namespace tensivo::cli
