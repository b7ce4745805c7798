// The one way the command line reads a number, for every numeric argument.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tensivo::cli {

// A number in decimal: ASCII digits with at most one point and a digit on
// either side of it or both ("500", "0.5", ".5", "1.", "0500"). No sign,
// blank, digit separator, exponent, other base, NaN or infinity.
// Returns it in its shortest form, leading zeros and the fraction's trailing
// zeros dropped, and the point with them when nothing follows it ("0500.0" is
// "500", ".50" is "0.5"), so that equal numbers read as equal texts; none when
// `text` is no such number.
std::optional<std::string> PlainDecimal(std::string_view text);

}  // namespace tensivo::cli
