#include "device/device_text.h"

#include <cstdio>

#include "device/protocol.h"

namespace tensivo::device {

std::string DeviceStringToText(std::span<const std::uint8_t> buffer) {
  std::string text;
  for (std::size_t i = 0; i < buffer.size() && buffer[i] != 0; i += 2) {
    text.push_back(static_cast<char>(buffer[i]));
  }
  return text;
}

std::string VersionText(std::uint16_t version) {
  char text[16];
  std::snprintf(text, sizeof text, " %u.%X", version >> 8, version & 0xFFu);
  return text;
}

std::string UnconfigurableText(Unconfigurable why, const DeviceDetails& details) {
  switch (why) {
    case Unconfigurable::kNoMaker:
      return "its maker string cannot be read";
    case Unconfigurable::kMinorZero:
      return "its firmware version" + VersionText(details.version) +
             " is an x.0 version, which cannot be configured";
    case Unconfigurable::kShortReports:
      if (details.feature_length == 0) return "the length of its feature reports cannot be read";
      return "its feature reports are " + std::to_string(details.feature_length) +
             " bytes long, too short to read back the registers it is written (" + std::to_string(kGainFeatureLength) +
             " at least)";
  }
  return {};
}

std::string ExactGainText(int position, char decimal_point) {
  const auto [e, m] = SplitGainPosition(position);
  // 2^e (256 + m) / 256 is a multiple of 1/256, so eight decimals hold it
  // exactly: scale by 10^8 / 2^8 = 390625 and print as a fixed-point number.
  const std::uint64_t scaled = (std::uint64_t{256} + m) * (std::uint64_t{1} << e) * 390625;
  const std::uint64_t whole = scaled / 100'000'000;
  std::uint64_t fraction = scaled % 100'000'000;

  std::string text = std::to_string(whole);
  if (fraction != 0) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08llu", static_cast<unsigned long long>(fraction));
    std::string tail(digits);
    tail.erase(tail.find_last_not_of('0') + 1);
    text += decimal_point;
    text += tail;
  }
  return text;
}

std::string GainText(int position, char decimal_point) {
  std::string text = ExactGainText(position, decimal_point);
  if (text.size() > 6) text.resize(6);
  return text;
}

}  // namespace tensivo::device
