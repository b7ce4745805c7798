#include "kernel_world.h"

#include <algorithm>
#include <thread>

#include "virtual_device/device_console.h"

namespace tensivo::vm {

DeviceTraits OurDevice(std::string serial) {
  DeviceTraits traits;
  traits.serial = std::move(serial);
  traits.reports_per_second = kStreamRate;
  return traits;
}

DeviceTraits ForeignDevice(std::string serial) {
  DeviceTraits traits = OurDevice(std::move(serial));
  traits.manufacturer = "Other Maker";
  traits.product = "Receiver";
  traits.vendor_id = kForeignVendor;
  traits.product_id = kForeignProduct;
  return traits;
}

std::optional<Plugged> PlugIn(DeviceTraits traits, Transport transport) {
  int error = 0;
  const std::string serial = traits.serial;
  std::unique_ptr<VirtualDevice> device =
      virtual_device::MakeDevice(std::move(traits), transport, virtual_device::kUhidPath, error);
  if (!device) {
    ADD_FAILURE() << "cannot make " << serial << ": errno " << error;
    return std::nullopt;
  }
  if (const int plug = device->Plug(); plug != 0) {
    ADD_FAILURE() << "the kernel refused " << serial << ": errno " << plug;
    return std::nullopt;
  }
  const auto node = device->WaitForNode(kNodeTimeoutMs);
  if (!node) {
    ADD_FAILURE() << serial << " got no hidraw node within " << kNodeTimeoutMs << " ms";
    return std::nullopt;
  }
  return Plugged{std::move(device), *node};
}

std::optional<std::string> Replug(VirtualDevice& device) {
  EXPECT_EQ(device.Unplug(), 0);
  EXPECT_EQ(device.Plug(), 0);
  auto node = device.WaitForNode(kNodeTimeoutMs);
  if (!node) ADD_FAILURE() << device.traits().serial << " got no hidraw node after replug";
  return node;
}

bool WaitUntil(const std::function<bool()>& done, int timeout_ms,
               const std::function<void()>& between) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (between) {
      between();
    } else {
      SleepMs(2);
    }
  }
  return true;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool OnlyOpen(const VirtualDevice& kept, std::initializer_list<const VirtualDevice*> others,
              int timeout_ms) {
  return WaitUntil(
      [&] {
        return kept.activity().open &&
               std::none_of(others.begin(), others.end(),
                            [](const VirtualDevice* d) { return d->activity().open; });
      },
      timeout_ms);
}

double StreamTime(const VirtualDevice& device, std::uint64_t sequence) {
  return static_cast<double>(sequence) / std::max(device.traits().reports_per_second, 1);
}

std::optional<std::uint64_t> SequenceOf(const VirtualDevice& device,
                                        std::span<const std::uint8_t> data) {
  const auto sent = device.SentInputs();
  for (auto it = sent.rbegin(); it != sent.rend(); ++it) {
    if (std::ranges::equal(it->data, data)) return it->sequence;
  }
  return std::nullopt;
}

std::optional<std::vector<Bytes>> SplitReports(std::span<const std::uint8_t> read,
                                               std::size_t length) {
  if (length == 0 || read.size() % length != 0) return std::nullopt;
  std::vector<Bytes> reports;
  for (std::size_t at = 0; at < read.size(); at += length) {
    const auto one = read.subspan(at, length);
    reports.emplace_back(one.begin(), one.end());
  }
  return reports;
}

}  // namespace tensivo::vm
