#include "cli/completion_words.h"

#include <algorithm>
#include <ostream>
#include <vector>

#include "cli/connection.h"
#include "cli/text.h"
#include "device/device_steps.h"
#include "device/discovery.h"
#include "device/window_state.h"

namespace tensivo::cli {

namespace {

// C0, DEL and C1, as 8-bit device text holds them.
bool HasControl(std::string_view eight_bit) {
  return std::ranges::any_of(eight_bit, [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || (byte >= 0x7F && byte <= 0x9F);
  });
}

}  // namespace

int PrintCompletionWords(platform::HidPlatform& hid, const std::string& topic, Console& console) {
  if (topic != "serials") {
    throw Failure(kUsage, "no completion words for " + Quoted(topic) + "; there are for 'serials'");
  }
  // The serials --serial accepts: those the search that FindTheHid follows lists.
  device::WindowState state;
  const std::vector<std::string> serials = device::Scan_USB_devices(hid, state);
  device::CloseDevice(state);
  std::vector<std::string> printed;
  for (const std::string& serial : serials) {
    if (HasControl(serial) || std::ranges::find(printed, serial) != printed.end()) continue;
    printed.push_back(serial);
    console.out << Utf8FromDevice(serial) << '\n';
  }
  return kOk;
}

}  // namespace tensivo::cli
