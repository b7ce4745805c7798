#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tensivo::platform {

// Writes UTF-16 code units little-endian into a byte buffer the way the
// platform's string queries fill it: as many whole units as fit, then a zero
// unit only when there is room for it.
void PutDeviceString(std::u16string_view text, std::span<std::uint8_t> buffer);

}  // namespace tensivo::platform
