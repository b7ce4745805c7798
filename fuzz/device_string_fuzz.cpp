// Any 100 bytes as a device string, terminated or not.
#include <array>
#include <cstdlib>
#include <cstring>

#include "device/device_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first 100 bytes of the 201 the window hands the platform.
  std::array<std::uint8_t, 201> buffer{};
  std::memcpy(buffer.data(), data, std::min<std::size_t>(size, 100));
  const std::string text = tensivo::device::DeviceStringToText(buffer);
  if (text.size() > 50 || text.find('\0') != std::string::npos) std::abort();
  // Only the bytes given can end up in the text.
  const std::string direct = tensivo::device::DeviceStringToText(
      std::span(buffer).first(std::min<std::size_t>(size, 100)));
  if (direct != text) std::abort();
  return 0;
}
