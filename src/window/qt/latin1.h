// The window's 8-bit texts and Qt's strings: the window keeps its texts in
// Latin-1, as it makes them from device strings, and so do the names of the
// layout table.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tensivo::window::qt {

inline QString FromText(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToText(const QString& text) { return text.toLatin1().toStdString(); }

// The window's own words beyond Latin-1 (a list's placeholder) come in UTF-8.
inline QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace tensivo::window::qt
