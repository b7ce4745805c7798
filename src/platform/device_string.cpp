#include "platform/device_string.h"

#include <array>

namespace tensivo::platform {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::optional<Utf8Char> DecodeUtf8At(std::string_view text, std::size_t at) {
  // The smallest code point each sequence length may carry; anything below is
  // an overlong form.
  constexpr std::array<std::uint32_t, 5> kSmallest = {0, 0, 0x80, 0x800, 0x10000};
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  std::uint32_t code_point = 0;
  if (lead < 0x80) {
    length = 1, code_point = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, code_point = lead & 0x1Fu;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code_point = lead & 0x0Fu;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code_point = lead & 0x07u;
  }
  if (length == 0 || at + length > text.size()) return std::nullopt;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    code_point = (code_point << 6) | (next & 0x3Fu);
  }
  if (code_point < kSmallest[length] || code_point > 0x10FFFF ||
      (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    return std::nullopt;
  }
  return Utf8Char{code_point, length};
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto decoded = DecodeUtf8At(text, i);
    if (!decoded) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    const std::uint32_t code_point = decoded->code_point;
    if (code_point > 0xFFFF) {
      const std::uint32_t offset = code_point - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code_point));
    }
    i += decoded->length;
  }
  return out;
}

std::size_t PutDeviceString(std::u16string_view text, std::span<std::uint8_t> buffer) {
  std::size_t at = 0;
  const auto put = [&](char16_t unit) {
    buffer[at] = static_cast<std::uint8_t>(unit & 0xFF);
    buffer[at + 1] = static_cast<std::uint8_t>(unit >> 8);
    at += 2;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool pair =
        IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]);
    if (buffer.size() - at < (pair ? 4u : 2u)) break;
    put(text[i]);
    if (pair) put(text[++i]);
  }
  if (buffer.size() - at >= 2) put(u'\0');
  return at;
}

}  // namespace tensivo::platform
