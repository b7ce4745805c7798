// Any feature length from 0 to 1000 and any reply bytes, configuration
// blocks with any start register included: the read-back stays inside its
// buffer and image and never writes to the device.
#include <cstdlib>

#include "device/discovery.h"
#include "device/protocol.h"
#include "sim/simulated_hid.h"

using namespace tensivo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  sim::SimulatedHid hid;
  sim::SimulatedDeviceTraits traits;
  traits.serial = u"F";
  traits.feature_length = static_cast<std::uint16_t>((data[0] | data[1] << 8) % 1001);
  const auto device = hid.AddDevice(traits);

  // The rest is cut into up to five replies at the separators the input names.
  std::vector<sim::FeatureReply> replies;
  const std::uint8_t separator = data[2];
  std::vector<std::uint8_t> current;
  for (std::size_t i = 3; i < size; ++i) {
    if (data[i] == separator && replies.size() < 4) {
      replies.push_back(sim::FeatureReply::Raw(current));
      current.clear();
    } else {
      current.push_back(data[i]);
    }
  }
  replies.push_back(sim::FeatureReply::Raw(current));
  hid.model(device).SetReplies(replies);

  device::WindowState state;
  device::Scan_USB_devices(hid, state);
  if (device::FindTheHid(hid, state, "F") != device::kTrue) std::abort();
  const auto image = device::ReadConfiguration(hid, state);
  for (const auto& regs : device::kLoadCellRegisters) {
    const auto p =
        device::DecodeGainPosition(image[regs.amplifier], image[regs.shift], image[regs.fine]);
    if (p && (*p < 0 || *p >= device::kGainCount)) std::abort();
  }
  if (!hid.write_log().empty()) std::abort();
  return 0;
}
