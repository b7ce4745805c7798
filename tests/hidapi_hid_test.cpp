#include "platform/hidapi_hid.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace tensivo::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kUntouched = 0xEE;

// Converts into the first `size` bytes of a larger pre-filled array, so that a
// write past the span shows up as a changed byte.
struct Converted {
  std::size_t written;
  std::array<std::uint8_t, 32> bytes;
};

Converted Convert(std::wstring_view text, std::size_t size) {
  Converted out{};
  out.bytes.fill(kUntouched);
  out.written = detail::WideToUtf16Le(text, std::span(out.bytes).first(size));
  return out;
}

Bytes Prefix(const Converted& c, std::size_t n) {
  const auto prefix = std::span(c.bytes).first(n);
  return Bytes(prefix.begin(), prefix.end());
}

TEST(WideToUtf16Le, ShortStringGetsZeroUnitAfterIt) {
  const Converted c = Convert(L"AB", 10);
  EXPECT_EQ(c.written, 6u);
  EXPECT_EQ(Prefix(c, 7), (Bytes{'A', 0, 'B', 0, 0, 0, kUntouched}));
}

TEST(WideToUtf16Le, StringFillingBufferExactlyHasNoTerminator) {
  const Converted c = Convert(L"ABC", 6);
  EXPECT_EQ(c.written, 6u);
  EXPECT_EQ(Prefix(c, 8), (Bytes{'A', 0, 'B', 0, 'C', 0, kUntouched, kUntouched}));
}

TEST(WideToUtf16Le, LongStringIsCutAtLastWholeUnit) {
  const Converted c = Convert(L"ABCDEF", 6);
  EXPECT_EQ(c.written, 6u);
  EXPECT_EQ(Prefix(c, 7), (Bytes{'A', 0, 'B', 0, 'C', 0, kUntouched}));
}

TEST(WideToUtf16Le, OddLengthBufferNeverGetsHalfAUnit) {
  const Converted cut = Convert(L"ABC", 5);
  EXPECT_EQ(cut.written, 4u);
  EXPECT_EQ(Prefix(cut, 5), (Bytes{'A', 0, 'B', 0, kUntouched}));

  const Converted terminated = Convert(L"A", 5);
  EXPECT_EQ(terminated.written, 4u);
  EXPECT_EQ(Prefix(terminated, 5), (Bytes{'A', 0, 0, 0, kUntouched}));
}

TEST(WideToUtf16Le, BmpCharactersAreLittleEndian) {
  const Converted c = Convert(L"\u00E9\u20AC", 6);
  EXPECT_EQ(Prefix(c, 6), (Bytes{0xE9, 0x00, 0xAC, 0x20, 0, 0}));
}

TEST(WideToUtf16Le, CodePointAboveBmpBecomesSurrogatePair) {
  const Converted c = Convert(L"a\U0001F600b", 12);
  EXPECT_EQ(c.written, 10u);
  EXPECT_EQ(Prefix(c, 10), (Bytes{'a', 0, 0x3D, 0xD8, 0x00, 0xDE, 'b', 0, 0, 0}));
}

TEST(WideToUtf16Le, SurrogatePairThatDoesNotFitIsLeftOutWhole) {
  const Converted room_for_one_unit = Convert(L"a\U0001F600", 4);
  EXPECT_EQ(room_for_one_unit.written, 4u);
  EXPECT_EQ(Prefix(room_for_one_unit, 5), (Bytes{'a', 0, 0, 0, kUntouched}));

  const Converted room_for_three_bytes = Convert(L"a\U0001F600", 5);
  EXPECT_EQ(room_for_three_bytes.written, 4u);
  EXPECT_EQ(Prefix(room_for_three_bytes, 5), (Bytes{'a', 0, 0, 0, kUntouched}));
}

TEST(WideToUtf16Le, EmptyStringIsJustTheTerminator) {
  const Converted c = Convert(L"", 4);
  EXPECT_EQ(c.written, 2u);
  EXPECT_EQ(Prefix(c, 3), (Bytes{0, 0, kUntouched}));
}

TEST(WideToUtf16Le, BuffersTooSmallForAUnitStayUntouched) {
  EXPECT_EQ(Convert(L"A", 0).written, 0u);
  const Converted one_byte = Convert(L"A", 1);
  EXPECT_EQ(one_byte.written, 0u);
  EXPECT_EQ(one_byte.bytes[0], kUntouched);
}

TEST(WideToUtf16Le, ValuesThatAreNoCharacterBecomeReplacementCharacter) {
  const std::wstring text{static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000),
                          static_cast<wchar_t>(-1)};
  const Converted c = Convert(text, 8);
  EXPECT_EQ(Prefix(c, 8), (Bytes{0xFD, 0xFF, 0xFD, 0xFF, 0xFD, 0xFF, 0, 0}));
}

TEST(SysfsDescriptorPath, HidrawNodesMapToTheirSysfsDescriptor) {
  EXPECT_EQ(detail::SysfsDescriptorPath("/dev/hidraw3"),
            "/sys/class/hidraw/hidraw3/device/report_descriptor");
  EXPECT_EQ(detail::SysfsDescriptorPath("/dev/hidraw12"),
            "/sys/class/hidraw/hidraw12/device/report_descriptor");
}

TEST(SysfsDescriptorPath, OtherPathsAreRejected) {
  for (const char* path : {"", "/dev/hidraw", "/dev/hidraw3x", "/dev/hidraw/3", "/dev/hidraw-1",
                           "/dev/hidraw3/../../../etc/passwd", "hidraw3", "/dev/hiddev0",
                           "/tmp/dev/hidraw3", "1-1:1.0", "/dev/hidraw99999999999"}) {
    EXPECT_EQ(detail::SysfsDescriptorPath(path), std::nullopt) << path;
  }
}

Bytes Report(std::initializer_list<std::uint8_t> bytes) { return Bytes(bytes); }

TEST(ReportWindow, UnnumberedReportsGetZeroIdAndLieBackToBack) {
  Bytes buffer(12, kUntouched);
  detail::ReportWindow window(buffer);
  EXPECT_TRUE(window.Append(Report({1, 2, 3}), true));
  EXPECT_TRUE(window.Append(Report({4, 5, 6}), true));
  EXPECT_EQ(window.reports(), 2u);
  EXPECT_EQ(window.bytes(), 8u);
  EXPECT_EQ(buffer,
            (Bytes{0, 1, 2, 3, 0, 4, 5, 6, kUntouched, kUntouched, kUntouched, kUntouched}));
}

TEST(ReportWindow, NumberedReportsArePlacedAsRead) {
  Bytes buffer(8, kUntouched);
  detail::ReportWindow window(buffer);
  EXPECT_TRUE(window.Append(Report({7, 1, 2}), false));
  EXPECT_TRUE(window.Append(Report({9, 3}), false));
  EXPECT_EQ(window.bytes(), 5u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), (Bytes{7, 1, 2, 9, 3, kUntouched}));
}

TEST(ReportWindow, OverflowKeepsNewestWholeReports) {
  // Room for two reports of our device (16 data bytes plus the id byte) and a bit.
  Bytes buffer(40);
  detail::ReportWindow window(buffer);
  for (std::uint8_t n = 1; n <= 5; ++n) {
    EXPECT_TRUE(window.Append(Bytes(16, n), true));
  }
  EXPECT_EQ(window.reports(), 2u);
  ASSERT_EQ(window.bytes(), 34u);
  Bytes expected{0};
  expected.insert(expected.end(), 16, 4);
  expected.push_back(0);
  expected.insert(expected.end(), 16, 5);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 34), expected);
}

TEST(ReportWindow, OverflowDropsAsManyOlderReportsOfMixedLengthsAsNeeded) {
  Bytes buffer(8);
  detail::ReportWindow window(buffer);
  EXPECT_TRUE(window.Append(Report({1}), true));        // 2 bytes
  EXPECT_TRUE(window.Append(Report({2, 2}), true));     // 3 bytes
  EXPECT_TRUE(window.Append(Report({3, 3}), true));     // 3 bytes, buffer full
  EXPECT_TRUE(window.Append(Report({4, 4, 4}), true));  // 4 bytes: both older short ones go
  EXPECT_EQ(window.reports(), 2u);
  ASSERT_EQ(window.bytes(), 7u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 7), (Bytes{0, 3, 3, 0, 4, 4, 4}));
}

TEST(ReportWindow, ReportLongerThanBufferIsNeverPlaced) {
  Bytes buffer(6, kUntouched);
  detail::ReportWindow window(buffer);
  EXPECT_TRUE(window.Append(Report({1, 1}), true));
  EXPECT_FALSE(window.Append(Report({2, 2, 2, 2, 2, 2}), true));
  EXPECT_FALSE(window.Append(Report({9, 2, 2, 2, 2, 2, 2}), false));
  EXPECT_EQ(window.reports(), 1u);
  EXPECT_EQ(window.bytes(), 3u);
  EXPECT_EQ(buffer, (Bytes{0, 1, 1, kUntouched, kUntouched, kUntouched}));
  EXPECT_TRUE(window.Append(Report({3, 3}), true));
  EXPECT_EQ(buffer, (Bytes{0, 1, 1, 0, 3, 3}));
}

TEST(ReportWindow, ReportFillingTheWholeBufferReplacesEverything) {
  Bytes buffer(4);
  detail::ReportWindow window(buffer);
  EXPECT_TRUE(window.Append(Report({1}), true));
  EXPECT_TRUE(window.Append(Report({5, 6, 7}), true));
  EXPECT_EQ(window.reports(), 1u);
  EXPECT_EQ(buffer, (Bytes{0, 5, 6, 7}));
}

TEST(ReportWindow, EmptyBufferTakesNothing) {
  detail::ReportWindow window(std::span<std::uint8_t>{});
  EXPECT_FALSE(window.Append(Report({1}), true));
  EXPECT_FALSE(window.Append(Report({}), false));
  EXPECT_EQ(window.bytes(), 0u);
}

constexpr std::uint16_t kVendorId = 0xE31A;
constexpr std::uint16_t kProductId = 0x5C07;

bool AnyHidrawNode() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
    if (entry.path().filename().string().starts_with("hidraw")) return true;
  }
  return false;
}

TEST(HidapiHidOnThisMachine, EnumeratingOurDeviceSucceedsAndFindsOnlyIt) {
  HidapiHid hid;
  std::vector<InterfaceInfo> found{{"stale", 1, 2}};
  EXPECT_EQ(hid.Enumerate(kVendorId, kProductId, found), kSuccess);
  for (const InterfaceInfo& info : found) {
    EXPECT_FALSE(info.path.empty());
    EXPECT_EQ(info.vendor_id, kVendorId);
    EXPECT_EQ(info.product_id, kProductId);
  }
  if (!AnyHidrawNode()) {
    EXPECT_TRUE(found.empty());
  }
}

TEST(HidapiHidOnThisMachine, EnumeratingEverythingSucceedsEvenWithNoDevices) {
  HidapiHid hid;
  std::vector<InterfaceInfo> found;
  EXPECT_EQ(hid.Enumerate(0, 0, found), kSuccess);
  if (!AnyHidrawNode()) {
    EXPECT_TRUE(found.empty());
  }
}

TEST(HidapiHidOnThisMachine, OpeningAMissingPathGivesAHandleThatIsNotOpen) {
  HidapiHid hid;
  for (const OpenMode mode : {OpenMode::kPlain, OpenMode::kOverlapped}) {
    Handle handle = hid.Open("/dev/hidraw-not-there", mode);
    EXPECT_FALSE(handle.IsOpen());
    HidAttributes attributes;
    EXPECT_EQ(hid.GetAttributes(handle, attributes), kFailure);
    EXPECT_EQ(handle.Close(), kFailure);
  }
}

// hidapi 0.13.1 frees the device and then writes to it when the path opens
// but is no hidraw node; these would crash or corrupt the heap if they got
// through to it.
TEST(HidapiHidOnThisMachine, OpeningSomethingThatIsNoHidrawNodeFailsCleanly) {
  char file[] = "/tmp/hidapi_hid_test_XXXXXX";
  const int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  close(fd);
  HidapiHid hid;
  for (const std::string& path :
       {std::string(file), std::string("/dev/null"), std::string("/tmp")}) {
    for (const OpenMode mode : {OpenMode::kPlain, OpenMode::kOverlapped}) {
      EXPECT_FALSE(hid.Open(path, mode).IsOpen()) << path;
    }
  }
  std::remove(file);
}

TEST(HidapiHidOnThisMachine, ReadEventsAreDistinctNonZeroTokens) {
  HidapiHid hid;
  const EventId first = hid.CreateReadEvent();
  const EventId second = hid.CreateReadEvent();
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, 0u);
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace tensivo::platform
