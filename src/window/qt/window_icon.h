#pragma once

#include <QIcon>

namespace tensivo::window::qt {

// The window's icon at 16 and 32 pixels: three bars of different lengths in
// an outline, as the window shows its load cells.
QIcon WindowIcon();

}  // namespace tensivo::window::qt
