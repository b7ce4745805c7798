#include "cli/gain_value.h"

#include <array>
#include <charconv>
#include <cmath>

#include "cli/number_text.h"
#include "cli/text.h"
#include "device/device_text.h"
#include "device/protocol.h"

namespace tensivo::cli {

namespace {

// Each entry as the list writes it and as its exact value, in the form
// PlainDecimal gives, so that "1.039" finds the list's "1.0390" and "500.0"
// finds "500".
struct EntryTexts {
  std::string listed;
  std::string exact;
};

const std::array<EntryTexts, device::kGainCount>& Entries() {
  static const auto entries = [] {
    std::array<EntryTexts, device::kGainCount> all;
    for (int p = 0; p < device::kGainCount; ++p) {
      all[p] = {PlainDecimal(device::GainText(p)).value_or(""),
                PlainDecimal(device::ExactGainText(p)).value_or("")};
    }
    return all;
  }();
  return entries;
}

std::optional<double> Number(std::string_view text) {
  const auto plain = PlainDecimal(text);
  if (!plain) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(plain->data(), plain->data() + plain->size(), value,
                                            std::chars_format::fixed);
  if (error != std::errc() || !std::isfinite(value)) return std::nullopt;
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
  const auto plain = PlainDecimal(text);
  if (!plain) return std::nullopt;
  const auto& entries = Entries();
  for (int p = 0; p < device::kGainCount; ++p) {
    if (entries[p].listed == *plain) return p;
  }
  // Compared as text: a double would take 8.031250000000000001 for 8.03125.
  for (int p = 0; p < device::kGainCount; ++p) {
    if (entries[p].exact == *plain) return p;
  }
  return std::nullopt;
}

std::string NoGainMessage(std::string_view text) {
  const std::string quoted = Quoted(text);
  const auto value = Number(text);
  if (!value) {
    return quoted +
           " is no gain; give one in decimal as the list writes it (1 to 1022, such as 500 or "
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
