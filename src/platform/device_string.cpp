#include "platform/device_string.h"

namespace tensivo::platform {

void PutDeviceString(std::u16string_view text, std::span<std::uint8_t> buffer) {
  std::size_t at = 0;
  auto put = [&](char16_t unit) {
    buffer[at] = static_cast<std::uint8_t>(unit & 0xFF);
    buffer[at + 1] = static_cast<std::uint8_t>(unit >> 8);
    at += 2;
  };
  for (char16_t unit : text) {
    if (at + 2 > buffer.size()) return;
    put(unit);
  }
  if (at + 2 <= buffer.size()) put(u'\0');
}

}  // namespace tensivo::platform
