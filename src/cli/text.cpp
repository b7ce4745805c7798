#include "cli/text.h"

#include <cstdint>
#include <nlohmann/json.hpp>

#include "platform/device_string.h"

namespace tensivo::cli {

namespace {

// A Latin-1 character, the only kind device text holds, as UTF-8.
void AppendLatin1(std::string& out, std::uint8_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendEscaped(std::string& out, std::uint8_t byte) {
  constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

}  // namespace

std::string Utf8FromDevice(std::string_view eight_bit) {
  std::string out;
  out.reserve(eight_bit.size());
  for (const char ch : eight_bit) AppendLatin1(out, static_cast<std::uint8_t>(ch));
  return out;
}

std::optional<std::string> DeviceFromUtf8(std::string_view utf8) {
  std::string out;
  for (std::size_t at = 0; at < utf8.size();) {
    const auto decoded = platform::DecodeUtf8At(utf8, at);
    if (!decoded || decoded->code_point > 0xFF) return std::nullopt;
    out += static_cast<char>(decoded->code_point);
    at += decoded->length;
  }
  return out;
}

std::string Printable(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    const auto decoded = platform::DecodeUtf8At(utf8, at);
    if (!decoded) {
      AppendEscaped(out, static_cast<std::uint8_t>(utf8[at]));
      ++at;
      continue;
    }
    const std::uint32_t c = decoded->code_point;
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      AppendEscaped(out, static_cast<std::uint8_t>(c));
    } else {
      out.append(utf8.substr(at, decoded->length));
    }
    at += decoded->length;
  }
  return out;
}

std::string Listed(std::span<const char* const> words, std::string_view conjunction) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? " " + std::string(conjunction) + " " : ", ";
    text += words[i];
  }
  return text;
}

std::string Commas(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
  return text;
}

std::size_t Columns(std::string_view utf8) {
  std::size_t columns = 0;
  for (const char ch : utf8) columns += (static_cast<std::uint8_t>(ch) & 0xC0) != 0x80;
  return columns;
}

std::string JsonText(const nlohmann::ordered_json& document, int indent) {
  const std::string text = document.dump(indent);
  // U+0080..U+009F are C2 80..C2 9F; outside strings JSON is ASCII, so each
  // one found is inside a string, where \u0080 means the same.
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto lead = static_cast<std::uint8_t>(text[at]);
    if (lead == 0xC2 && at + 1 < text.size() && static_cast<std::uint8_t>(text[at + 1]) < 0xA0) {
      constexpr char kHex[] = "0123456789abcdef";
      const auto c = static_cast<std::uint8_t>(text[at + 1]);
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
      ++at;
    } else {
      out += text[at];
    }
  }
  return out;
}

}  // namespace tensivo::cli
