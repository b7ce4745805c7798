// Every text the command line writes passes through here: device text is
// 8-bit (the low byte of each character, as the window keeps it) and is shown
// in the code page the window shows it in, Latin-1; what reaches a terminal
// is valid UTF-8 with control characters escaped.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tensivo::cli {

// 8-bit device text as UTF-8, exactly: for JSON and profile files.
std::string Utf8FromDevice(std::string_view eight_bit);

// UTF-8 as the 8-bit text a device holds; none when a character has no
// 8-bit form or the text is no valid UTF-8.
std::optional<std::string> DeviceFromUtf8(std::string_view utf8);

// Text for a terminal: valid UTF-8 is kept, control characters (C0, DEL, C1)
// and bytes that are no UTF-8 become \xNN.
std::string Printable(std::string_view utf8);

// Device text for a terminal.
inline std::string Shown(std::string_view eight_bit) {
  return Printable(Utf8FromDevice(eight_bit));
}

// A serial for a sentence: shown, and "" when it is empty, so that the
// sentence still names something.
inline std::string Named(std::string_view eight_bit) {
  return eight_bit.empty() ? "\"\"" : Shown(eight_bit);
}

// A word from the command line, quoted, for a message.
inline std::string Quoted(std::string_view text) { return "'" + Printable(text) + "'"; }

// Words as a sentence lists them: "LC1, LC2 or LC3" with "or".
std::string Listed(std::span<const char* const> words, std::string_view conjunction);

// Words joined by commas alone: "9, 10, 11".
std::string Commas(const std::vector<std::string>& words);

// Columns a printable text takes: one per character.
std::size_t Columns(std::string_view utf8);

// A JSON document as text, with the C1 controls JSON leaves raw escaped too.
std::string JsonText(const nlohmann::ordered_json& document, int indent = -1);

}  // namespace tensivo::cli
