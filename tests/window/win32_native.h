// What the Win32 checks read off the native controls.
#pragma once

#include <windows.h>

namespace tensivo::window::testing {

// A control's rectangle in its parent's client pixels.
inline RECT InParent(HWND hwnd) {
  RECT rect;
  GetWindowRect(hwnd, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

}  // namespace tensivo::window::testing
