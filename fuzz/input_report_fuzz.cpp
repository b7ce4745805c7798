// Any read count, report length and input mask over any bytes: bar widths
// stay between empty and full scale, and no byte past the read is used.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/input_report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::uint32_t count = (data[0] | data[1] << 8) % 1200;
  const std::uint16_t length = static_cast<std::uint16_t>(data[2] | data[3] << 8);
  const std::uint8_t mask = data[4];
  // Exactly the bytes read, so that reading past them is caught.
  std::vector<std::uint8_t> bytes(data + 5, data + size);
  bytes.resize(std::min<std::size_t>(bytes.size(), tensivo::device::kReadBufferBytes));
  constexpr double kFull = 4611;
  const auto widths = tensivo::device::NewestReportWidths(bytes, count, length, mask, kFull);
  for (const auto& w : widths) {
    if (w && (*w < 0 || *w > kFull)) std::abort();
  }
  return 0;
}
