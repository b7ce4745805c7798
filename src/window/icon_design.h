// The window's icon: filled rectangles on a 16-unit grid, so that every
// front-end and the packaging draw the same picture at 16 and 32 pixels.
#pragma once

#include <array>
#include <cstdint>

namespace tensivo::window {

struct IconRect {
  int left, top, width, height;  // in sixteenths of the icon's side
  std::uint8_t red, green, blue;
};

// Painted in order: a navy border, a white face, three green bars.
inline constexpr std::array<IconRect, 5> kIconRects = {{
    {0, 0, 16, 16, 0, 0, 128},
    {1, 1, 14, 14, 255, 255, 255},
    {2, 3, 10, 2, 0, 128, 0},
    {2, 7, 6, 2, 0, 128, 0},
    {2, 11, 12, 2, 0, 128, 0},
}};

}  // namespace tensivo::window
