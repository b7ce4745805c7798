// Writes the window's icon as a Windows .ico file (16 and 32 pixels, 32-bit
// colour) for the executables' resources and the installer. Runs on the
// build machine, so it uses the standard library only.
//
//   render-ico OUT.ico
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

#include "window/icon_design.h"

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// One image: a BITMAPINFOHEADER of twice the height (colour and mask), the
// colour rows bottom-up in BGRA, then an all-opaque 1-bit mask with rows
// padded to 32 bits.
std::vector<std::uint8_t> Image(int size) {
  std::vector<std::uint32_t> argb(static_cast<std::size_t>(size * size), 0);
  const int unit = size / 16;
  for (const tensivo::window::IconRect& r : tensivo::window::kIconRects) {
    const std::uint32_t colour =
        0xFF000000u | (std::uint32_t{r.red} << 16) | (std::uint32_t{r.green} << 8) | r.blue;
    for (int y = r.top * unit; y < (r.top + r.height) * unit; ++y) {
      for (int x = r.left * unit; x < (r.left + r.width) * unit; ++x) {
        argb[static_cast<std::size_t>(y * size + x)] = colour;
      }
    }
  }
  const int mask_row = (size + 31) / 32 * 4;
  std::vector<std::uint8_t> out;
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(size));
  Put32(out, static_cast<std::uint32_t>(size * 2));
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, 0);  // BI_RGB
  Put32(out, static_cast<std::uint32_t>(size * size * 4 + mask_row * size));
  for (int i = 0; i < 4; ++i) Put32(out, 0);
  for (int y = size - 1; y >= 0; --y) {
    for (int x = 0; x < size; ++x) Put32(out, argb[static_cast<std::size_t>(y * size + x)]);
  }
  out.resize(out.size() + static_cast<std::size_t>(mask_row * size), 0);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.ico\n", argv[0]);
    return 2;
  }
  const int sizes[] = {16, 32};
  std::vector<std::vector<std::uint8_t>> images;
  for (const int size : sizes) images.push_back(Image(size));
  std::vector<std::uint8_t> file;
  Put16(file, 0);
  Put16(file, 1);  // icon
  Put16(file, static_cast<std::uint32_t>(images.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    file.push_back(static_cast<std::uint8_t>(sizes[i]));
    file.push_back(static_cast<std::uint8_t>(sizes[i]));
    file.push_back(0);  // no palette
    file.push_back(0);
    Put16(file, 1);
    Put16(file, 32);
    Put32(file, static_cast<std::uint32_t>(images[i].size()));
    Put32(file, offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& image : images) file.insert(file.end(), image.begin(), image.end());
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
