#include "cli/help_text.h"

#include "cli/text.h"

namespace tensivo::cli {

namespace {

// Narrower than this, a description column reads worse than starting over
// at the line's indent.
constexpr std::size_t kNarrowestColumn = 24;

std::size_t Indent(std::string_view line) {
  const std::size_t first = line.find_first_not_of(' ');
  return first == std::string_view::npos ? 0 : first;
}

// Where an option's description starts: after the first gap of two spaces
// past the indent; 0 when the line has no such gap.
std::size_t DescriptionColumn(std::string_view line) {
  const std::size_t gap = line.find("  ", Indent(line));
  if (gap == std::string_view::npos) return 0;
  const std::size_t text = line.find_first_not_of(' ', gap);
  return text == std::string_view::npos ? 0 : text;
}

void WrapLine(std::string_view line, std::size_t columns, std::string& out) {
  if (Columns(line) <= columns) {
    out.append(line);
    return;
  }
  std::size_t hang = DescriptionColumn(line);
  if (hang == 0 || hang + kNarrowestColumn > columns) hang = Indent(line);
  // The first line keeps its head (indent, option names, gap) whole.
  std::size_t start = hang > Indent(line) ? hang : Indent(line);
  std::string current(line.substr(0, start));
  std::size_t used = Columns(current);
  bool first_word = true;
  while (start < line.size()) {
    const std::size_t end = std::min(line.find(' ', start), line.size());
    const std::string_view word = line.substr(start, end - start);
    if (!word.empty()) {
      const std::size_t width = Columns(word);
      if (!first_word && used + 1 + width > columns) {
        out.append(current).push_back('\n');
        current.assign(hang, ' ');
        used = hang;
        first_word = true;
      }
      if (!first_word) {
        current.push_back(' ');
        ++used;
      }
      current.append(word);
      used += width;
      first_word = false;
    }
    start = end + 1;
  }
  out.append(current);
}

}  // namespace

std::string WrapHelp(std::string_view help, std::size_t columns) {
  std::string out;
  out.reserve(help.size() + help.size() / 8);
  while (!help.empty()) {
    const std::size_t end = help.find('\n');
    WrapLine(help.substr(0, end), columns, out);
    if (end == std::string_view::npos) break;
    out.push_back('\n');
    help.remove_prefix(end + 1);
  }
  return out;
}

}  // namespace tensivo::cli
