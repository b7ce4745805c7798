#include "platform/device_string.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace tensivo::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kUntouched = 0xEE;

// Writes into the first `size` bytes of a larger pre-filled array, so that a
// write past the span shows up as a changed byte.
struct Written {
  std::size_t count;
  Bytes first;  // the first `look` bytes of the array afterwards
};

Written Put(std::u16string_view text, std::size_t size, std::size_t look) {
  std::array<std::uint8_t, 32> bytes;
  bytes.fill(kUntouched);
  const std::size_t count = PutDeviceString(text, std::span(bytes).first(size));
  return {count, Bytes(bytes.begin(), bytes.begin() + look)};
}

TEST(PutDeviceString, WholeUnitsLittleEndianThenAZeroUnitWhenThereIsRoom) {
  constexpr std::uint8_t U = kUntouched;
  const struct {
    const char* scenario;
    std::u16string text;
    std::size_t size;
    std::size_t written;
    Bytes first;
  } cases[] = {
      {"short string, zero unit after it", u"AB", 10, 6, {'A', 0, 'B', 0, 0, 0, U}},
      {"filling the buffer exactly: no terminator", u"ABC", 6, 6, {'A', 0, 'B', 0, 'C', 0, U, U}},
      {"too long: cut at the last whole unit", u"ABCDEF", 6, 6, {'A', 0, 'B', 0, 'C', 0, U}},
      {"odd length never gets half a unit", u"ABC", 5, 4, {'A', 0, 'B', 0, U}},
      {"odd length, room for the terminator", u"A", 5, 4, {'A', 0, 0, 0, U}},
      {"characters of the BMP", u"\u00E9\u20AC", 6, 6, {0xE9, 0x00, 0xAC, 0x20, 0, 0}},
      {"a surrogate pair goes whole", u"a\U0001F600b", 12, 10,
       {'a', 0, 0x3D, 0xD8, 0x00, 0xDE, 'b', 0, 0, 0}},
      {"a pair with room for one unit is left out", u"a\U0001F600", 4, 4, {'a', 0, 0, 0, U}},
      {"a pair with room for three bytes is left out", u"a\U0001F600", 5, 4, {'a', 0, 0, 0, U}},
      {"a lone surrogate passes as the unit it is", std::u16string(1, char16_t{0xD800}), 4, 4,
       {0x00, 0xD8, 0, 0}},
      {"empty string: just the terminator", u"", 4, 2, {0, 0, U}},
      {"no room for a unit: untouched", u"A", 1, 0, {U, U}},
      {"no buffer at all", u"A", 0, 0, {U}},
  };
  for (const auto& c : cases) {
    const Written w = Put(c.text, c.size, c.first.size());
    EXPECT_EQ(w.count, c.written) << c.scenario;
    EXPECT_EQ(w.first, c.first) << c.scenario;
  }
}

TEST(Utf8ToUtf16, CharactersBecomeUnitsAndBrokenBytesBecomeReplacementCharacters) {
  const struct {
    const char* scenario;
    std::string_view utf8;
    std::u16string utf16;
  } cases[] = {
      {"ASCII", "Tensivo", u"Tensivo"},
      {"two, three and four bytes", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80",
       u"Gr\u00FC\u00DFe \u20AC \U0001F600"},
      {"cut short at the end", "a\xC3", u"a\uFFFD"},
      {"a stray continuation byte", "\x80z", u"\uFFFDz"},
      {"an overlong form", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"a surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.scenario;
}

}  // namespace
}  // namespace tensivo::platform
