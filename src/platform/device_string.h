// Device strings as the platform's string queries hand them out: UTF-16LE code
// units in a byte buffer. The one place where text becomes such units, for the
// real backends, the simulated one and the virtual devices alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tensivo::platform {

// The character that starts at byte `at` of UTF-8 text, and its length in
// bytes; none where no valid UTF-8 character starts (cut short, stray,
// overlong, a surrogate, above U+10FFFF).
struct Utf8Char {
  std::uint32_t code_point = 0;
  std::size_t length = 0;
};
std::optional<Utf8Char> DecodeUtf8At(std::string_view text, std::size_t at);

// UTF-8 as the kernel and the command line hand it over, as UTF-16 code units;
// bytes that are no valid UTF-8 (cut short, stray, overlong, surrogates, above
// U+10FFFF) become U+FFFD, one per byte that cannot start a character.
std::u16string Utf8ToUtf16(std::string_view text);

// Writes UTF-16 code units little-endian into a byte buffer the way the
// platform's string queries fill it: as many whole units as fit, a surrogate
// pair only when both halves fit, then a zero unit only when there is room for
// it. Returns the number of bytes written; the rest of the buffer is left as
// it was.
std::size_t PutDeviceString(std::u16string_view text, std::span<std::uint8_t> buffer);

}  // namespace tensivo::platform
