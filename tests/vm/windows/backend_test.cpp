// The Windows backend on wine's hid.dll and setupapi against a USB device in
// the guest's kernel, which wine's HID bus reaches through hidraw as it would
// reach the hardware.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "device/device_steps.h"
#include "device/device_text.h"
#include "device/discovery.h"
#include "device/input_report.h"
#include "device/protocol.h"
#include "platform/windows_hid.h"
#include "remote_device.h"

namespace tensivo::vm::windows {
namespace {

using device::LoadCell;
using device::WindowState;
using platform::HidPlatform;
using platform::kFailure;
using platform::WindowsHid;

bool Listed(HidPlatform& hid, const std::string& serial) {
  WindowState state;
  const auto serials = device::Scan_USB_devices(hid, state);
  return std::ranges::find(serials, serial) != serials.end();
}

// Plugged in and listed by wine, or nothing with a test failure.
std::optional<RemoteDevice> PlugAndList(HidPlatform& hid, const std::string& serial) {
  auto device = RemoteDevice::Plug(serial);
  if (!device) return std::nullopt;
  const auto took = WaitUntil([&] { return Listed(hid, serial); }, kWineSeesItMs);
  if (!took) {
    ADD_FAILURE() << "wine never listed " << serial;
    return std::nullopt;
  }
  std::printf("wine listed %s %d ms after the kernel had it\n", serial.c_str(), *took);
  return device;
}

TEST(WineKernelBackend, TheUsbDeviceIsListedWithItsAttributesStringsAndReportLengths) {
  WindowsHid hid;
  auto dev = PlugAndList(hid, "WV-LIST");
  ASSERT_TRUE(dev);
  std::vector<platform::InterfaceInfo> ours;
  ASSERT_NE(hid.Enumerate(device::kVendorId, device::kProductId, ours), kFailure);
  ASSERT_EQ(ours.size(), 1u);
  std::printf("path %s\n", ours[0].path.c_str());
  EXPECT_TRUE(ours[0].path.starts_with("\\\\?\\hid#vid_e31a&pid_5c07")) << ours[0].path;

  const platform::Handle handle = hid.Open(ours[0].path, platform::OpenMode::kPlain);
  ASSERT_TRUE(handle.IsOpen());
  platform::HidAttributes attributes;
  ASSERT_NE(hid.GetAttributes(handle, attributes), kFailure);
  std::printf("attributes %04X:%04X version %04X\n", attributes.VendorID, attributes.ProductID,
              attributes.VersionNumber);
  EXPECT_EQ(attributes.VendorID, device::kVendorId);
  EXPECT_EQ(attributes.ProductID, device::kProductId);
  EXPECT_EQ(attributes.VersionNumber, 0x0101) << "the release number of the USB device";

  using Query = platform::Result (HidPlatform::*)(const platform::Handle&, std::span<std::uint8_t>);
  const std::pair<Query, std::string_view> strings[] = {
      {&HidPlatform::GetSerialNumberString, "WV-LIST"},
      {&HidPlatform::GetManufacturerString, kWineMaker},
      {&HidPlatform::GetProductString, kWineProduct},
  };
  for (const auto& [query, expected] : strings) {
    std::array<std::uint8_t, 200> text{};
    EXPECT_NE((hid.*query)(handle, text), kFailure) << expected;
    std::printf("string \"%s\"\n", device::DeviceStringToText(text).c_str());
    EXPECT_EQ(device::DeviceStringToText(text), expected);
  }

  platform::HidCaps caps;
  ASSERT_NE(hid.GetCaps(handle, caps), kFailure);
  std::printf("caps usage page %04X usage %u input %u output %u feature %u\n", caps.UsagePage,
              caps.Usage, caps.InputReportByteLength, caps.OutputReportByteLength,
              caps.FeatureReportByteLength);
  EXPECT_EQ(caps.UsagePage, 0xFF00);
  EXPECT_EQ(caps.Usage, 1);
  EXPECT_EQ(caps.InputReportByteLength, 17);
  EXPECT_EQ(caps.OutputReportByteLength, 0);
  EXPECT_EQ(caps.FeatureReportByteLength, 19);
}

constexpr int kLc1Position = 3 * 256 + 17;

TEST(WineKernelBackend, FeatureReadsGiveTheStoredGainsAndAGainWriteChangesTheRegisters) {
  WindowsHid hid;
  auto dev = PlugAndList(hid, "WV-GAIN");
  ASSERT_TRUE(dev);
  ASSERT_TRUE(dev->StoreGain(LoadCell::kLC1, kLc1Position));
  WindowState state;
  device::Scan_USB_devices(hid, state);
  ASSERT_EQ(device::FindTheHid(hid, state, "WV-GAIN"), device::kTrue);

  const device::StoredGains stored = device::ReadStoredGains(hid, state);
  EXPECT_TRUE(stored.read);
  EXPECT_EQ(stored.positions,
            (std::array<std::optional<int>, 3>{kLc1Position, device::kFactoryGainPosition,
                                               device::kFactoryGainPosition}));

  const auto before = dev->ReadRegisters();
  const auto sets_before = dev->FeatureSets();
  ASSERT_TRUE(before && sets_before);
  constexpr int kPosition = 1000;
  for (const device::RegisterWrite& write :
       device::WriteGain(hid, state, LoadCell::kLC2, kPosition)) {
    EXPECT_NE(write.result, kFailure) << "register " << int{write.reg};
  }
  EXPECT_EQ(dev->FeatureSets(), *sets_before + 3);
  const auto after = dev->ReadRegisters();
  ASSERT_TRUE(after);
  EXPECT_EQ(*after, WithGain(*before, LoadCell::kLC2, kPosition));
  std::printf("registers 2, 3, 7: %d %d %d -> %d %d %d\n", (*before)[2], (*before)[3], (*before)[7],
              (*after)[2], (*after)[3], (*after)[7]);
  EXPECT_EQ(device::ReadStoredGains(hid, state).positions[1], kPosition);
  device::CloseDevice(state);
}

TEST(WineKernelBackend, UnplugDropsTheDeviceAndReplugFindsItAgain) {
  WindowsHid hid;
  auto dev = PlugAndList(hid, "WV-PLUG");
  ASSERT_TRUE(dev);
  WindowState state;
  device::Scan_USB_devices(hid, state);
  ASSERT_EQ(device::FindTheHid(hid, state, "WV-PLUG"), device::kTrue);
  std::array<std::uint8_t, device::kReadRequestBytes> buffer{};
  std::uint32_t count = 0;
  const auto read = [&] {
    return hid.ReadInput(state.ReadHandle, state.ReadOverlapped, buffer, count) != kFailure;
  };
  ASSERT_TRUE(WaitUntil(read, 5000)) << "no input report came";
  std::vector<std::uint8_t> feature(state.DeviceCaps.FeatureReportByteLength);
  ASSERT_NE(hid.GetFeature(state.DeviceHandle, feature), kFailure);

  ASSERT_TRUE(dev->Unplug());
  const auto gone = WaitUntil([&] { return !Listed(hid, "WV-PLUG"); }, kWineSeesItMs);
  ASSERT_TRUE(gone) << "wine still lists the unplugged device";
  std::printf("unplug: gone from the list after %d ms\n", *gone);
  EXPECT_EQ(hid.GetFeature(state.DeviceHandle, feature), kFailure);
  device::CloseDevice(state);
  EXPECT_EQ(device::FindTheHid(hid, state, "WV-PLUG"), device::kFalse);

  ASSERT_TRUE(dev->Replug());
  const auto back = WaitUntil([&] { return Listed(hid, "WV-PLUG"); }, kWineSeesItMs);
  ASSERT_TRUE(back) << "wine never listed the device again";
  std::printf("replug: listed again after %d ms\n", *back);
  device::Scan_USB_devices(hid, state);
  ASSERT_EQ(device::FindTheHid(hid, state, "WV-PLUG"), device::kTrue);
  EXPECT_NE(hid.GetFeature(state.DeviceHandle, feature), kFailure);
  EXPECT_TRUE(WaitUntil(read, 5000)) << "no input report came after the replug";
  device::CloseDevice(state);
}

}  // namespace
}  // namespace tensivo::vm::windows
