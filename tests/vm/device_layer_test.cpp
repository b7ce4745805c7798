// Discovery and the feature-report protocol end to end, through the Linux
// backend and the kernel's USB HID driver, checked against the simulated
// device where the two must agree.
#include <algorithm>

#include "device/discovery.h"
#include "device/input_report.h"
#include "device/protocol.h"
#include "kernel_world.h"
#include "platform/linux_hidraw.h"
#include "sim/simulated_hid.h"

namespace tensivo::vm {
namespace {

using device::Bool16;
using device::LoadCell;
using device::WindowState;
using platform::LinuxHidraw;
using sim::SimulatedHid;

constexpr std::size_t kInputLength = 17;

// The same device on the simulated backend, opened the way the window does.
struct SimulatedTwin {
  SimulatedHid hid;
  SimulatedHid::DeviceId id;
  WindowState state;

  explicit SimulatedTwin(const std::u16string& serial, const std::string& text_serial) {
    sim::SimulatedDeviceTraits traits;
    traits.serial = serial;
    id = hid.AddDevice(traits);
    device::Scan_USB_devices(hid, state);
    EXPECT_EQ(device::FindTheHid(hid, state, text_serial), device::kTrue);
  }
};

std::array<std::uint8_t, 17> FirstRegisters(sim::DeviceModel& model) {
  std::array<std::uint8_t, 17> registers{};
  std::copy_n(model.registers().begin(), registers.size(), registers.begin());
  return registers;
}

std::array<std::uint8_t, 17> KernelRegisters(VirtualDevice& device) {
  std::array<std::uint8_t, 17> registers{};
  device.WithModel([&](sim::DeviceModel& model) { registers = FirstRegisters(model); });
  return registers;
}

TEST(KernelDeviceLayer, ScanListsThreeDevicesInPlugOrderAndFindOpensTheLastOnly) {
  auto a = PlugIn(OurDevice("DL-0001"));
  auto foreign = PlugIn(ForeignDevice("DL-FOREIGN"));
  auto b = PlugIn(OurDevice("DL-0002"));
  auto c = PlugIn(OurDevice("DL-0003"));
  ASSERT_TRUE(a && foreign && b && c);
  LinuxHidraw hid;
  WindowState state;

  const auto serials = device::Scan_USB_devices(hid, state);
  ASSERT_EQ(serials, (std::vector<std::string>{"DL-0001", "DL-0002", "DL-0003"}));
  EXPECT_EQ(state.FormReady, device::kFalse);
  EXPECT_FALSE(state.DeviceHandle.IsOpen());

  ASSERT_EQ(device::FindTheHid(hid, state, serials.back()), device::kTrue);
  EXPECT_EQ(state.DeviceFound, device::kTrue);
  EXPECT_EQ(state.DevicePathName, c->node);
  EXPECT_TRUE(state.DeviceHandle.IsOpen());
  EXPECT_TRUE(state.ReadHandle.IsOpen());
  EXPECT_EQ(state.DeviceCaps.InputReportByteLength, kInputLength);
  EXPECT_EQ(state.DeviceCaps.FeatureReportByteLength, 19);
  EXPECT_NE(state.ReadOverlapped.hEvent, 0u);

  EXPECT_TRUE(OnlyOpen(*c->device, {a->device.get(), b->device.get()}))
      << "only the selected device stays open";
  EXPECT_FALSE(WaitUntil([&] { return foreign->device->activity().opens > 0; }, 200))
      << "the search opened the foreign device";
}

TEST(KernelDeviceLayer, ReadBackGivesTheRegistersAndMaskTheDeviceHolds) {
  auto dev = PlugIn(OurDevice("DL-READ"));
  ASSERT_TRUE(dev);
  SimulatedTwin twin(u"DL-READ", "DL-READ");
  const auto configure = [](sim::DeviceModel& model) {
    for (std::size_t r = 0; r < 17; ++r)
      model.registers()[r] = static_cast<std::uint8_t>(3 * r + 1);
    model.set_input_mask(0xF8);
    model.SetReplies({sim::FeatureReply::ConfigBlock(0), sim::FeatureReply::InputMask(),
                      sim::FeatureReply::ConfigBlock(1)});
  };
  dev->device->WithModel(configure);
  configure(twin.hid.model(twin.id));
  LinuxHidraw hid;
  WindowState state;
  device::Scan_USB_devices(hid, state);
  ASSERT_EQ(device::FindTheHid(hid, state, "DL-READ"), device::kTrue);

  const device::RegisterImage image = device::ReadConfiguration(hid, state);
  EXPECT_NE(state.LastResult, 0);
  EXPECT_EQ(image, KernelRegisters(*dev->device));
  EXPECT_EQ(state.InputMask, 0xF8);
  EXPECT_EQ(dev->device->activity().feature_gets, device::kReadBackReads);
  EXPECT_TRUE(dev->device->activity().feature_sets.empty()) << "a read-back writes nothing";

  const device::RegisterImage simulated = device::ReadConfiguration(twin.hid, twin.state);
  EXPECT_EQ(image, simulated);
  EXPECT_EQ(state.InputMask, twin.state.InputMask);
}

TEST(KernelDeviceLayer, GainWritesAndFactorySequenceChangeTheDeviceAsOnTheSimulatedOne) {
  auto dev = PlugIn(OurDevice("DL-WRITE"));
  ASSERT_TRUE(dev);
  SimulatedTwin twin(u"DL-WRITE", "DL-WRITE");
  LinuxHidraw hid;
  WindowState state;
  device::Scan_USB_devices(hid, state);
  ASSERT_EQ(device::FindTheHid(hid, state, "DL-WRITE"), device::kTrue);

  const auto gains = [](platform::HidPlatform& on, WindowState& s) {
    device::WriteGain(on, s, LoadCell::kLC2, device::kFactoryGainPosition);
    device::WriteGain(on, s, LoadCell::kLC1, 300);
    device::WriteGain(on, s, LoadCell::kLC3, 2559);
  };
  gains(hid, state);
  EXPECT_NE(state.LastResult, 0);
  gains(twin.hid, twin.state);

  const auto sets = dev->device->activity().feature_sets;
  ASSERT_EQ(sets.size(), 9u);
  const auto padded = [](Bytes head) {
    head.resize(18, 0);
    return head;
  };
  EXPECT_EQ(sets[0], padded({1, 2, 15}));
  EXPECT_EQ(sets[1], padded({1, 3, 1}));
  EXPECT_EQ(sets[2], padded({1, 7, 244}));
  EXPECT_EQ(KernelRegisters(*dev->device), FirstRegisters(twin.hid.model(twin.id)));

  device::WriteFactoryDefaults(hid, state);
  device::WriteFactoryDefaults(twin.hid, twin.state);
  const auto all = dev->device->activity().feature_sets;
  const auto& logged = twin.hid.write_log();
  ASSERT_EQ(all.size(), logged.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    ASSERT_FALSE(logged[i].bytes.empty());
    EXPECT_EQ(logged[i].bytes[0], 0);
    EXPECT_EQ(all[i], Bytes(logged[i].bytes.begin() + 1, logged[i].bytes.end())) << "write " << i;
  }
  const auto registers = KernelRegisters(*dev->device);
  const std::array<std::uint8_t, 12> factory = {15, 1, 15, 1, 15, 1, 244, 244, 244, 128, 128, 128};
  EXPECT_TRUE(std::equal(factory.begin(), factory.end(), registers.begin()));
  EXPECT_EQ(registers, FirstRegisters(twin.hid.model(twin.id)));
}

TEST(KernelDeviceLayer, PollDecodesTheNewestReportTheDeviceSent) {
  DeviceTraits traits = OurDevice("DL-POLL");
  traits.input_mask = 0x28;
  auto dev = PlugIn(traits);
  ASSERT_TRUE(dev);
  LinuxHidraw hid;
  WindowState state;
  device::Scan_USB_devices(hid, state);
  ASSERT_EQ(device::FindTheHid(hid, state, "DL-POLL"), device::kTrue);
  device::ReadConfiguration(hid, state);
  ASSERT_EQ(state.InputMask, 0x28);
  ASSERT_TRUE(WaitUntil([&] { return dev->device->inputs_sent() > 5; }, 2000));

  const std::uint64_t before = dev->device->inputs_sent();
  ASSERT_TRUE(WaitUntil([&] { return dev->device->inputs_sent() >= before + 3; }, 3000));
  std::array<std::uint8_t, device::kReadBufferBytes> buffer{};
  std::uint32_t count = 0;
  state.LastResult = hid.ReadInput(state.ReadHandle, state.ReadOverlapped,
                                   std::span(buffer).first(device::kReadRequestBytes), count);
  ASSERT_NE(state.LastResult, 0);
  ASSERT_GE(count, 2 * kInputLength);
  ASSERT_EQ(count % kInputLength, 0u);

  const double full_scale = device::FullScale(4000);
  const auto widths = device::NewestReportWidths(
      buffer, count, state.DeviceCaps.InputReportByteLength, state.InputMask, full_scale);
  const auto newest = std::span(buffer).subspan(count - kInputLength + 1, kInputLength - 1);
  const auto sequence = SequenceOf(*dev->device, newest);
  ASSERT_TRUE(sequence);
  const auto values = sim::DeviceModel().InputValues(StreamTime(*dev->device, *sequence));
  for (std::size_t i = 0; i < widths.size(); ++i) {
    const bool absent = i >= 3 && (0x28 & (0x08u << (i - 3)));
    if (absent) {
      EXPECT_FALSE(widths[i]) << "input " << i + 1 << " is not fitted";
    } else {
      ASSERT_TRUE(widths[i]) << "bar " << i;
      EXPECT_EQ(*widths[i], device::RoundHalfEven(full_scale * values[i] / 65535)) << "bar " << i;
    }
  }
}

TEST(KernelDeviceLayer, UnplugDropsTheDeviceAndReplugReconnects) {
  auto dev = PlugIn(OurDevice("DL-PLUG"));
  ASSERT_TRUE(dev);
  LinuxHidraw hid;
  WindowState state;
  device::Scan_USB_devices(hid, state);
  ASSERT_EQ(device::FindTheHid(hid, state, "DL-PLUG"), device::kTrue);

  ASSERT_EQ(dev->device->Unplug(), 0);
  std::array<std::uint8_t, device::kReadRequestBytes> buffer{};
  std::uint32_t count = 0;
  state.LastResult = hid.ReadInput(state.ReadHandle, state.ReadOverlapped, buffer, count);
  EXPECT_EQ(state.LastResult, 0) << "the window drops a device on a failed read";
  EXPECT_EQ(count, 0u);
  state.DeviceHandle.Close();
  state.ReadHandle.Close();
  EXPECT_TRUE(device::Scan_USB_devices(hid, state).empty());
  EXPECT_EQ(device::FindTheHid(hid, state, "DL-PLUG"), device::kFalse);

  ASSERT_EQ(dev->device->Plug(), 0);
  const auto node = dev->device->WaitForNode(kNodeTimeoutMs);
  ASSERT_TRUE(node);
  EXPECT_EQ(device::Scan_USB_devices(hid, state), std::vector<std::string>{"DL-PLUG"});
  ASSERT_EQ(device::FindTheHid(hid, state, "DL-PLUG"), device::kTrue);
  EXPECT_EQ(state.DevicePathName, *node);
  EXPECT_TRUE(WaitUntil(
      [&] { return hid.ReadInput(state.ReadHandle, state.ReadOverlapped, buffer, count) != 0; },
      2000));
}

}  // namespace
}  // namespace tensivo::vm
