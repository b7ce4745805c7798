#include "cli/number_text.h"

#include <algorithm>

namespace tensivo::cli {

std::optional<std::string> PlainDecimal(std::string_view text) {
  const auto point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
  // Not std::isdigit: it follows the locale, and only ASCII digits are ours.
  const auto digits = [](std::string_view part) {
    return std::ranges::all_of(part, [](char c) { return c >= '0' && c <= '9'; });
  };
  if ((whole.empty() && fraction.empty()) || !digits(whole) || !digits(fraction)) {
    return std::nullopt;
  }
  whole.remove_prefix(std::min(whole.find_first_not_of('0'), whole.size()));
  fraction = fraction.substr(0, fraction.find_last_not_of('0') + 1);
  std::string plain = whole.empty() ? "0" : std::string(whole);
  if (!fraction.empty()) plain += "." + std::string(fraction);
  return plain;
}

}  // namespace tensivo::cli
