// Finding, listing and opening devices, one fixture per kind of world.
#include "device/discovery.h"

#include <gtest/gtest.h>

#include "device/device_text.h"
#include "sim/simulated_hid.h"

namespace tensivo::device {
namespace {

using sim::SimulatedHid;

class World : public ::testing::Test {
 protected:
  SimulatedHid::DeviceId Add(std::u16string serial, std::uint16_t version = 0x0101) {
    sim::SimulatedDeviceTraits traits;
    traits.serial = std::move(serial);
    traits.version = version;
    return hid_.AddDevice(traits);
  }

  bool NothingOpen() const { return hid_.open_handles() == 0 && hid_.misuse() == 0; }

  SimulatedHid hid_;
  WindowState state_;
};

TEST_F(World, NoDeviceListsNothingAndOpensNothing) {
  hid_.AddForeign(0x046D, 0xC077);
  state_.FormReady = kTrue;
  EXPECT_TRUE(Scan_USB_devices(hid_, state_).empty());
  EXPECT_EQ(state_.FormReady, kFalse);
  EXPECT_EQ(FindTheHid(hid_, state_, ""), kFalse);
  EXPECT_EQ(state_.DeviceFound, kFalse);
  EXPECT_TRUE(NothingOpen());
}

TEST_F(World, OneDeviceIsListedAndOpenedThroughBothHandles) {
  const auto id = Add(u"SN-0001", 0x0105);
  EXPECT_EQ(Scan_USB_devices(hid_, state_), std::vector<std::string>{"SN-0001"});
  EXPECT_TRUE(NothingOpen());

  EXPECT_EQ(FindTheHid(hid_, state_, "SN-0001"), kTrue);
  EXPECT_EQ(state_.DeviceFound, kTrue);
  EXPECT_TRUE(state_.DeviceHandle.IsOpen());
  EXPECT_TRUE(state_.ReadHandle.IsOpen());
  EXPECT_EQ(hid_.open_handles(id), 2);
  EXPECT_EQ(state_.DevicePathName, hid_.PathOf(id));
  EXPECT_EQ(state_.DeviceAttributes.VersionNumber, 0x0105);
  EXPECT_EQ(state_.DeviceCaps.InputReportByteLength, 17);
  EXPECT_EQ(state_.DeviceCaps.FeatureReportByteLength, 19);
  EXPECT_NE(state_.ReadOverlapped.hEvent, 0u);
  EXPECT_EQ(state_.ReadOverlapped.hEvent, state_.ReadEvent);
}

TEST_F(World, ThreeDevicesAreListedInOrderAndTheSelectedOneOpened) {
  Add(u"A");
  const auto b = Add(u"B");
  const auto c = Add(u"C");
  EXPECT_EQ(Scan_USB_devices(hid_, state_), (std::vector<std::string>{"A", "B", "C"}));
  ASSERT_EQ(FindTheHid(hid_, state_, "C"), kTrue);
  EXPECT_EQ(hid_.open_handles(c), 2);
  EXPECT_EQ(hid_.open_handles(), 2);

  // A switch: close, then find another serial without a new scan.
  state_.DeviceHandle.Close();
  state_.ReadHandle.Close();
  ASSERT_EQ(FindTheHid(hid_, state_, "B"), kTrue);
  EXPECT_EQ(hid_.open_handles(b), 2);
  EXPECT_EQ(hid_.open_handles(), 2);
  EXPECT_EQ(hid_.events_created(), 1) << "the read event is made once and reused";
  EXPECT_EQ(state_.ReadOverlapped.hEvent, state_.ReadEvent);
  EXPECT_EQ(hid_.misuse(), 0);
}

TEST_F(World, SerialsMatchExactlyAndTheFirstOfTwinsWins) {
  const auto first = Add(u"Twin");
  Add(u"Twin");
  Add(u"twin");
  EXPECT_EQ(Scan_USB_devices(hid_, state_), (std::vector<std::string>{"Twin", "Twin", "twin"}));
  EXPECT_EQ(FindTheHid(hid_, state_, "TWIN"), kFalse);
  EXPECT_EQ(FindTheHid(hid_, state_, "Twi"), kFalse);
  EXPECT_TRUE(NothingOpen());
  ASSERT_EQ(FindTheHid(hid_, state_, "Twin"), kTrue);
  EXPECT_EQ(hid_.open_handles(first), 2);
}

TEST_F(World, DeviceWhoseSerialCannotBeReadIsNeitherListedNorOpened) {
  const auto mute = Add(u"MUTE");
  Add(u"OK");
  hid_.FailAlways(SimulatedHid::Op::kGetSerial, mute);
  EXPECT_EQ(Scan_USB_devices(hid_, state_), std::vector<std::string>{"OK"});
  EXPECT_EQ(FindTheHid(hid_, state_, "MUTE"), kFalse);
  EXPECT_EQ(FindTheHid(hid_, state_, ""), kFalse);
  EXPECT_TRUE(NothingOpen());
  EXPECT_EQ(hid_.counters(mute).opens, hid_.counters(mute).closes);
}

TEST_F(World, ForeignInterfaceIsNeverListedAndNeverOpened) {
  const auto keyboard = hid_.AddForeign(0x046D, 0xC31C);
  const auto same_vendor = hid_.AddForeign(0xE31A, 0x0001);
  Add(u"OURS");
  for (int tick = 0; tick < 5; ++tick) {
    EXPECT_EQ(Scan_USB_devices(hid_, state_), std::vector<std::string>{"OURS"});
    EXPECT_EQ(FindTheHid(hid_, state_, "NONE"), kFalse);
  }
  EXPECT_EQ(hid_.counters(keyboard).opens, 0);
  EXPECT_EQ(hid_.counters(same_vendor).opens, 0);
}

TEST_F(World, InterfaceWhoseAttributesCannotBeReadDoesNotMatch) {
  const auto id = Add(u"X");
  hid_.FailAlways(SimulatedHid::Op::kGetAttributes, id);
  EXPECT_TRUE(Scan_USB_devices(hid_, state_).empty());
  EXPECT_EQ(FindTheHid(hid_, state_, "X"), kFalse);
  EXPECT_TRUE(NothingOpen());
}

TEST_F(World, FailedEnumerationListsNothingAndFindsNothing) {
  Add(u"X");
  hid_.FailFromCall(1);
  EXPECT_TRUE(Scan_USB_devices(hid_, state_).empty());
  EXPECT_EQ(FindTheHid(hid_, state_, "X"), kFalse);
  EXPECT_EQ(state_.LastResult, 0);
  EXPECT_TRUE(NothingOpen());
}

TEST_F(World, SerialsAreMatchedOnTheirLowBytes) {
  // U+0141 has low byte 0x41, 'A'; the list and the search both see "A1".
  Add(u"\u01411");
  EXPECT_EQ(Scan_USB_devices(hid_, state_), std::vector<std::string>{"A1"});
  EXPECT_EQ(FindTheHid(hid_, state_, "A1"), kTrue);
}

TEST_F(World, LongAndShortSerialsShareOneBufferWithoutRemnants) {
  const std::u16string fifty(50, u'9');
  Add(fifty);  // fills all 100 bytes offered, no terminator
  Add(u"7");
  // A character whose low byte is 0 ends the text early.
  Add(std::u16string(u"AB") + char16_t{0x0100} + u"CD");
  EXPECT_EQ(Scan_USB_devices(hid_, state_),
            (std::vector<std::string>{std::string(50, '9'), "7", "AB"}));
}

// A listing that hands over serials without an open (udev on Linux) gives the
// same text as the string query, cut at the same length; only the device the
// search keeps is opened.
TEST_F(World, SerialsListedWithoutOpeningReadAsAnOpenReadsThem) {
  Add(std::u16string(60, u'9'));
  Add(std::u16string(49, u'A') + u"\U0001F600");  // the pair does not fit in 100 bytes
  Add(std::u16string{char16_t{0xD800}, u'Z'});
  const auto kept = Add(u"AB\u0100CD");
  const std::vector<std::string> shown = {std::string(50, '9'), std::string(49, 'A'), "", "AB"};
  EXPECT_EQ(Scan_USB_devices(hid_, state_), shown);

  hid_.ListSerials(true);
  hid_.ClearLogs();
  EXPECT_EQ(Scan_USB_devices(hid_, state_), shown);
  ASSERT_EQ(FindTheHid(hid_, state_, "AB"), kTrue);
  for (const SimulatedHid::Call& call : hid_.call_log()) {
    if (call.op != SimulatedHid::Op::kOpen) continue;
    EXPECT_EQ(call.device, kept);
  }
}

TEST_F(World, LengthsThatCannotBeReadAreZeroNotThoseOfTheLastDevice) {
  Add(u"GOOD");
  const auto bad = Add(u"BAD");
  hid_.FailAlways(SimulatedHid::Op::kGetCaps, bad);
  ASSERT_EQ(FindTheHid(hid_, state_, "GOOD"), kTrue);
  ASSERT_EQ(state_.DeviceCaps.FeatureReportByteLength, 19);
  state_.DeviceHandle.Close();
  state_.ReadHandle.Close();
  ASSERT_EQ(FindTheHid(hid_, state_, "BAD"), kTrue);
  EXPECT_EQ(state_.DeviceCaps.InputReportByteLength, 0);
  EXPECT_EQ(state_.DeviceCaps.FeatureReportByteLength, 0);
}

TEST(DeviceText, StringsAreTheLowBytesUpToTheFirstZero) {
  const std::uint8_t text[] = {'T', 0, 'e', 0x01, 0x41, 0x01, 0, 0, 'x', 0};
  EXPECT_EQ(DeviceStringToText(text), "TeA");
  const std::uint8_t unterminated[] = {'a', 0, 'b', 0};
  EXPECT_EQ(DeviceStringToText(unterminated), "ab");
  EXPECT_EQ(DeviceStringToText({}), "");
}

TEST(DeviceText, VersionShowsMajorInDecimalAndMinorInHex) {
  EXPECT_EQ(VersionText(0x0105), " 1.5");
  EXPECT_EQ(VersionText(0x0100), " 1.0");
  EXPECT_EQ(VersionText(0x0210), " 2.10");
  EXPECT_EQ(VersionText(0x021A), " 2.1A");
  EXPECT_EQ(VersionText(0x8001), " 128.1");
}

}  // namespace
}  // namespace tensivo::device
