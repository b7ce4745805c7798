// What the hidapi backend reads from sysfs itself, on any machine.
#include <gtest/gtest.h>

#include "platform/hidapi_hid.h"

namespace tensivo::platform::detail {
namespace {

constexpr std::string_view kUevent =
    "DRIVER=hid-generic\n"
    "HID_ID=0003:0000E31A:00005C07\n"
    "HID_NAME=Tensivo Load Cell Interface\n"
    "HID_PHYS=usb-0000:00:14.0-2/input0\n"
    "HID_UNIQ=24-0017\n"
    "MODALIAS=hid:b0003g0001v0000E31Ap00005C07\n";

TEST(HidSysfs, IdsAndStringsComeFromTheirOwnLinesOfTheUevent) {
  const auto ids = ParseHidId(kUevent);
  ASSERT_TRUE(ids);
  EXPECT_EQ(ids->bus, 3);
  EXPECT_EQ(ids->vendor_id, 0xE31A);
  EXPECT_EQ(ids->product_id, 0x5C07);
  EXPECT_EQ(UeventValue(kUevent, "HID_UNIQ"), "24-0017");
  EXPECT_EQ(UeventValue(kUevent, "HID_NAME"), "Tensivo Load Cell Interface");
  EXPECT_EQ(UeventValue(kUevent, "HID"), std::nullopt) << "a key is matched whole";
  EXPECT_EQ(UeventValue("HID_UNIQ=\n", "HID_UNIQ"), "") << "a device without a serial";
  EXPECT_EQ(UeventValue("A=1\nHID_UNIQ=x=y", "HID_UNIQ"), "x=y") << "last line, '=' in the value";
}

TEST(HidSysfs, MalformedOrMissingHidIdGivesNothing) {
  for (const std::string_view bad :
       {"", "DRIVER=hid-generic\n", "HID_ID=0003:0000E31A\n", "HID_ID=0003:0000E31A:\n",
        "HID_ID=0003:0000E31A:00005C0G\n", "HID_ID=0003:0001E31A:00005C07\n",
        "HID_ID=0003::00005C07\n", "XHID_ID=0003:0000E31A:00005C07\n"}) {
    EXPECT_EQ(ParseHidId(bad), std::nullopt) << bad;
  }
}

TEST(HidSysfs, Utf8BecomesCodePointsAndBrokenBytesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("Tensivo"), L"Tensivo");
  EXPECT_EQ(Utf8ToWide("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80"), L"Gr\u00FC\u00DFe \u20AC \U0001F600");
  EXPECT_EQ(Utf8ToWide("a\xC3"), L"a\uFFFD") << "cut short at the end";
  EXPECT_EQ(Utf8ToWide("\x80z"), L"\uFFFDz") << "a stray continuation byte";
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD") << "an overlong form";
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD") << "a surrogate";
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), L"\uFFFD\uFFFD\uFFFD\uFFFD") << "above U+10FFFF";
}

}  // namespace
}  // namespace tensivo::platform::detail
