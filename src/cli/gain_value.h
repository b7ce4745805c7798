// Gains as a user writes them on the command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tensivo::cli {

// The exact gain at a list position, 2^e (1 + m/256).
double GainAt(int position);

// The list position of a gain written as the list shows it ("8.0312") or as
// its exact value ("8.03125"), in decimal as PlainDecimal reads it ("500.0",
// "8.03120"); none when it is no entry.
std::optional<int> FindGainPosition(std::string_view text);

// Why `text` is no gain, naming the entries nearest to it when it is a number.
std::string NoGainMessage(std::string_view text);

}  // namespace tensivo::cli
