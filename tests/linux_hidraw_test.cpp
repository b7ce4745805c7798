#include "platform/linux_hidraw.h"

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

TEST(HidId, BusVendorAndProductComeFromTheHexFields) {
  const auto ids = detail::ParseHidId("0003:0000E31A:00005C07");
  ASSERT_TRUE(ids);
  EXPECT_EQ(ids->bus, 3);
  EXPECT_EQ(ids->vendor_id, 0xE31A);
  EXPECT_EQ(ids->product_id, 0x5C07);
}

TEST(HidId, MalformedOrMissingHidIdGivesNothing) {
  for (const std::string_view bad :
       {"", "0003:0000E31A", "0003:0000E31A:", "0003:0000E31A:00005C0G", "0003:0001E31A:00005C07",
        "0003::00005C07", " 0003:0000E31A:00005C07", "0003:0000E31A:00005C07\n"}) {
    EXPECT_EQ(detail::ParseHidId(bad), std::nullopt) << bad;
  }
}

TEST(HidId, IdsAndTheKernelsNumberComeFromTheHidDevicesNameInTheNodesPath) {
  const struct {
    std::string_view syspath;
    std::uint16_t bus, vendor, product;
    std::uint32_t instance;
  } good[] = {
      {"/sys/devices/platform/vhci_hcd.0/usb1/1-1/1-1:1.0/0003:E31A:5C07.0001/hidraw/hidraw0", 3,
       0xE31A, 0x5C07, 1},
      {"/sys/devices/virtual/misc/uhid/0005:046D:B01A.00AB/hidraw/hidraw12", 5, 0x046D, 0xB01A, 0xAB},
      {"/sys/devices/virtual/misc/uhid/0003:E31A:5C07.1F3A0/hidraw/hidraw1", 3, 0xE31A, 0x5C07,
       0x1F3A0},
      {"../../devices/pci0000:00/0000:00:14.0/usb3/3-2/3-2:1.0/0003:E31A:5C07.0004/hidraw/hidraw3",
       3, 0xE31A, 0x5C07, 4},
  };
  for (const auto& g : good) {
    const auto hid = detail::HidOfHidrawPath(g.syspath);
    ASSERT_TRUE(hid) << g.syspath;
    EXPECT_EQ(hid->ids.bus, g.bus);
    EXPECT_EQ(hid->ids.vendor_id, g.vendor);
    EXPECT_EQ(hid->ids.product_id, g.product);
    EXPECT_EQ(hid->instance, g.instance);
  }
  for (const std::string_view bad :
       {"", "hidraw0", "/sys/class/hidraw/hidraw0", "/x/0003:E31A:5C07.0001/hidraw0",
        "/x/0003:E31A:5C07/hidraw/hidraw0", "/x/0003:E31A:5C07./hidraw/hidraw0",
        "/x/0003:E31A:5C0G.0001/hidraw/hidraw0", "/x/003:E31A:5C07.0001/hidraw/hidraw0",
        "/x/0003-E31A:5C07.0001/hidraw/hidraw0", "/x/0003:E31A:5C07.00x1/hidraw/hidraw0"}) {
    EXPECT_EQ(detail::HidOfHidrawPath(bad), std::nullopt) << bad;
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

TEST(LinuxHidrawOnThisMachine, EnumeratingOurDeviceSucceedsAndFindsOnlyIt) {
  LinuxHidraw hid;
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

TEST(LinuxHidrawOnThisMachine, EnumeratingEverythingSucceedsEvenWithNoDevices) {
  LinuxHidraw hid;
  std::vector<InterfaceInfo> found;
  EXPECT_EQ(hid.Enumerate(0, 0, found), kSuccess);
  if (!AnyHidrawNode()) {
    EXPECT_TRUE(found.empty());
  }
}

TEST(LinuxHidrawOnThisMachine, OpeningAMissingPathGivesAHandleThatIsNotOpen) {
  LinuxHidraw hid;
  for (const OpenMode mode : {OpenMode::kPlain, OpenMode::kOverlapped}) {
    Handle handle = hid.Open("/dev/hidraw-not-there", mode);
    EXPECT_FALSE(handle.IsOpen());
    EXPECT_EQ(hid.LastOpenError(), OpenError::kGone);
    HidAttributes attributes;
    EXPECT_EQ(hid.GetAttributes(handle, attributes), kFailure);
    EXPECT_EQ(handle.Close(), kFailure);
  }
}

// Whatever path reaches the backend, only a hidraw node becomes a handle:
// files, devices of other kinds, folders, and paths that are no node at all.
TEST(LinuxHidrawOnThisMachine, OpeningSomethingThatIsNoHidrawNodeFailsCleanly) {
  char file[] = "/tmp/linux_hidraw_test_XXXXXX";
  const int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  close(fd);
  LinuxHidraw hid;
  for (const std::string& path :
       {std::string(file), std::string("/dev/null"), std::string("/tmp"), std::string(""),
        std::string("/dev/hidraw"), std::string("/dev/hidraw3/../../../etc/passwd"),
        std::string("hidraw3"), std::string("/dev/hidraw99999999999")}) {
    for (const OpenMode mode : {OpenMode::kPlain, OpenMode::kOverlapped}) {
      EXPECT_FALSE(hid.Open(path, mode).IsOpen()) << path;
    }
  }
  // Nodes that are there but no hidraw node give no reason a user could act on.
  for (const std::string& path : {std::string(file), std::string("/dev/null"), std::string("/tmp")}) {
    EXPECT_FALSE(hid.Open(path, OpenMode::kPlain).IsOpen());
    EXPECT_EQ(hid.LastOpenError(), OpenError::kOther) << path;
  }
  std::remove(file);
}

TEST(LinuxHidrawOnThisMachine, ReadEventsAreDistinctNonZeroTokens) {
  LinuxHidraw hid;
  const EventId first = hid.CreateReadEvent();
  const EventId second = hid.CreateReadEvent();
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, 0u);
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace tensivo::platform
