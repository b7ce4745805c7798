// Help as a terminal shows it: lines wrapped to its width, each option's
// description kept in its own column.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tensivo::cli {

// Columns help is wrapped to where standard output is no terminal, or one
// that does not say its width.
inline constexpr std::size_t kHelpColumns = 80;

// `help` with every line longer than `columns` broken at spaces. A line's
// continuation starts under its description (the text after the first gap
// of two spaces or more), or under its first word where it has none or the
// description would be left too narrow; a word longer than the room stays
// whole.
std::string WrapHelp(std::string_view help, std::size_t columns);

}  // namespace tensivo::cli
