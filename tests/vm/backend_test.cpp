// The Linux backend against devices in the kernel: USB devices behind the
// USB HID driver, and uhid devices where a device without a USB parent matters.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "device/discovery.h"
#include "kernel_world.h"
#include "platform/linux_hidraw.h"

namespace tensivo::vm {
namespace {

using platform::LinuxHidraw;
using platform::OpenMode;

constexpr std::size_t kInputLength = 17;
constexpr std::size_t kFeatureLength = 19;
constexpr std::size_t kReadBytes = 1000;

std::vector<std::string> EnumeratedPaths(platform::HidPlatform& hid, std::uint16_t vendor,
                                         std::uint16_t product) {
  std::vector<platform::InterfaceInfo> found;
  EXPECT_NE(hid.Enumerate(vendor, product, found), 0);
  std::vector<std::string> paths;
  for (const auto& info : found) paths.push_back(info.path);
  return paths;
}

struct Read {
  platform::Result result = 0;
  Bytes bytes;
};

Read ReadInput(platform::HidPlatform& hid, const platform::Handle& handle) {
  std::array<std::uint8_t, kReadBytes> buffer{};
  std::uint32_t count = 0;
  const platform::Result result =
      hid.ReadInput(handle, platform::ReadOverlapped{0, 0, 1}, buffer, count);
  return {result, Bytes(buffer.begin(), buffer.begin() + std::min<std::size_t>(count, kReadBytes))};
}

// Checks a read as whole reports with the 0 id byte in front, consecutive in
// the device's stream, and returns their sequence numbers.
std::vector<std::uint64_t> CheckWholeReports(const VirtualDevice& device, const Bytes& read) {
  std::vector<std::uint64_t> sequences;
  const auto reports = SplitReports(read, kInputLength);
  EXPECT_TRUE(reports) << read.size() << " bytes are no whole number of 17-byte reports";
  if (!reports) return sequences;
  for (const Bytes& report : *reports) {
    EXPECT_EQ(report[0], 0) << "report-id byte";
    const auto sequence = SequenceOf(device, std::span(report).subspan(1));
    EXPECT_TRUE(sequence) << "a report the device never sent";
    if (!sequence) return {};
    if (!sequences.empty()) {
      EXPECT_EQ(*sequence, sequences.back() + 1) << "not consecutive";
    }
    sequences.push_back(*sequence);
  }
  return sequences;
}

TEST(KernelBackend, EnumerationFindsOurDevicesInPlugOrderAndASearchNeverOpensAForeignOne) {
  auto foreign = PlugIn(ForeignDevice("FOREIGN-1"));
  auto first = PlugIn(OurDevice("KB-0001"));
  auto second = PlugIn(OurDevice("KB-0002"));
  ASSERT_TRUE(foreign && first && second);
  LinuxHidraw hid;

  EXPECT_EQ(EnumeratedPaths(hid, device::kVendorId, device::kProductId),
            (std::vector<std::string>{first->node, second->node}));
  const auto all = EnumeratedPaths(hid, 0, 0);
  EXPECT_NE(std::ranges::find(all, foreign->node), all.end()) << "the foreign device is present";

  device::WindowState state;
  EXPECT_EQ(device::Scan_USB_devices(hid, state), (std::vector<std::string>{"KB-0001", "KB-0002"}));
  EXPECT_EQ(device::FindTheHid(hid, state, "KB-0002"), device::kTrue);
  EXPECT_EQ(state.DevicePathName, second->node);

  // The kernel tells a device of its first reader asynchronously.
  EXPECT_TRUE(WaitUntil([&] { return second->device->activity().opens > 0; }, 2000));
  EXPECT_FALSE(WaitUntil([&] { return foreign->device->activity().opens > 0; }, 200))
      << "the search opened the foreign device";
  EXPECT_EQ(first->device->activity().opens, 0) << "the search opened a device it did not keep";
}

// udev's copy of a serial is device data as much as the string query's: read
// without opening, it must give the same text, cut at the same length, with
// bytes that are no UTF-8 replaced alike.
TEST(KernelBackend, SerialsListedWithoutOpeningReadAsAnOpenReadsThem) {
  const std::vector<std::pair<std::string, std::string>> serials = {
      {"\xff\xfe\x41", "\xfd\xfd\x41"},  // \x41: 'A', which would extend a hex escape
      {"AB\xc3", "AB\xfd"},
      {std::string(63, 'S'), std::string(50, 'S')},  // more than the 100 bytes asked for
      {"\xc5\x81\x31", "A1"},                         // U+0141, by its low byte
  };
  std::vector<Plugged> plugged;
  std::vector<std::string> shown;
  for (const auto& [uniq, text] : serials) {
    auto device = PlugIn(OurDevice(uniq), Transport::kUhid);
    ASSERT_TRUE(device);
    plugged.push_back(std::move(*device));
    shown.push_back(text);
  }
  LinuxHidraw hid;
  device::WindowState state;
  EXPECT_EQ(device::Scan_USB_devices(hid, state), shown);

  std::vector<platform::InterfaceInfo> interfaces;
  ASSERT_NE(hid.Enumerate(device::kVendorId, device::kProductId, interfaces), 0);
  std::vector<std::string> opened;
  for (platform::InterfaceInfo info : interfaces) {
    info.serial_listed = platform::ListedSerial::kUnknown;
    const device::Probe probe = device::ProbeInterface(hid, state, info);
    opened.push_back(probe.serial.value_or("(none)"));
  }
  EXPECT_EQ(opened, shown);

  EXPECT_EQ(device::FindTheHid(hid, state, "\xfd\xfd\x41"), device::kTrue);
  EXPECT_EQ(state.DevicePathName, plugged[0].node);
}

// The window searches several times a second; any HID device, ours or not,
// may go away in the middle of a search. The kernel's listing of hidraw nodes
// can then skip a device that stays (seen about once in 2500 searches), so
// the steady devices are required in most searches, not in all. A USB device
// takes half a second to come back, a uhid one a moment: both churn.
TEST(KernelBackend, SearchesSurviveDevicesGoingAwayWhileTheyRun) {
  auto first = PlugIn(OurDevice("KB-STAY1"));
  auto second = PlugIn(OurDevice("KB-STAY2"));
  auto coming = PlugIn(OurDevice("KB-GOING"));
  auto foreign = PlugIn(ForeignDevice("FOREIGN-GOING"), Transport::kUhid);
  ASSERT_TRUE(first && second && coming && foreign);
  const std::vector<std::string> steady = {"KB-STAY1", "KB-STAY2"};

  std::atomic<bool> stop{false};
  std::atomic<int> usb_unplugs{0}, uhid_unplugs{0};
  std::thread usb_churn([&] {
    while (!stop) {
      coming->device->Unplug();
      ++usb_unplugs;
      coming->device->Plug();
      coming->device->WaitForNode(kNodeTimeoutMs);
      SleepMs(20);
    }
  });
  std::thread uhid_churn([&] {
    while (!stop) {
      foreign->device->Unplug();
      ++uhid_unplugs;
      SleepMs(3);
      foreign->device->Plug();
      SleepMs(15);
    }
  });
  LinuxHidraw hid;
  int searches = 0, complete = 0, out_of_order = 0;
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
    device::WindowState state;
    auto serials = device::Scan_USB_devices(hid, state);
    ++searches;
    // In plug order: the device that keeps coming back is always the last.
    if (!serials.empty() && serials.back() == "KB-GOING") serials.pop_back();
    if (serials == steady) ++complete;
    if (serials != steady && serials != std::vector{steady[0]} &&
        serials != std::vector{steady[1]}) {
      ++out_of_order;
    }
  }
  stop = true;
  usb_churn.join();
  uhid_churn.join();
  std::printf("  %d searches during %d USB and %d uhid unplugs, %d listed both steady devices\n",
              searches, usb_unplugs.load(), uhid_unplugs.load(), complete);
  EXPECT_GE(usb_unplugs.load(), 3);
  EXPECT_GT(uhid_unplugs.load(), 20);
  // Every probe of a USB device submits an interrupt transfer on open and
  // cancels it on close, which makes a search under emulation take tens of ms.
  EXPECT_GE(searches, 5);
  EXPECT_GE(complete * 10, searches * 9);
  EXPECT_EQ(out_of_order, 0);
}

Bytes Utf16(std::string_view text) {
  Bytes units;
  for (const char c : text) units.insert(units.end(), {static_cast<std::uint8_t>(c), 0});
  units.insert(units.end(), {0, 0});
  return units;
}

// A USB device has a USB parent with maker, product and release; a device
// without one (uhid here, Bluetooth elsewhere) has no maker, its HID name as
// the product and release 0.
TEST(KernelBackend, AttributesStringsAndReportLengthsComeFromTheKernel) {
  const struct {
    Transport transport;
    std::uint16_t version;
    std::string manufacturer;
    std::string product;
  } transports[] = {
      {Transport::kUsb, 0x0101, "Tensivo", "Load Cell Interface"},
      {Transport::kUhid, 0, "", "Tensivo Load Cell Interface"},
  };
  for (const auto& expected : transports) {
    SCOPED_TRACE(expected.transport == Transport::kUsb ? "USB" : "uhid");
    auto dev = PlugIn(OurDevice("KB-LEN"), expected.transport);
    ASSERT_TRUE(dev);
    LinuxHidraw hid;
    const platform::Handle handle = hid.Open(dev->node, OpenMode::kPlain);
    ASSERT_TRUE(handle.IsOpen());

    platform::HidCaps caps;
    ASSERT_NE(hid.GetCaps(handle, caps), 0);
    EXPECT_EQ(caps.InputReportByteLength, kInputLength);
    EXPECT_EQ(caps.FeatureReportByteLength, kFeatureLength);
    EXPECT_EQ(caps.OutputReportByteLength, 0);
    EXPECT_EQ(caps.UsagePage, 0xFF00);
    EXPECT_EQ(caps.Usage, 0x0001);

    platform::HidAttributes attributes;
    ASSERT_NE(hid.GetAttributes(handle, attributes), 0);
    EXPECT_EQ(attributes.VendorID, 0xE31A);
    EXPECT_EQ(attributes.ProductID, 0x5C07);
    EXPECT_EQ(attributes.VersionNumber, expected.version);

    std::array<std::uint8_t, 100> text{};
    const auto units = [&](std::size_t n) { return Bytes(text.begin(), text.begin() + n); };
    text.fill(0xFF);
    ASSERT_NE(hid.GetSerialNumberString(handle, text), 0);
    EXPECT_EQ(units(14), Utf16("KB-LEN"));
    text.fill(0xFF);
    ASSERT_NE(hid.GetManufacturerString(handle, text), 0);
    EXPECT_EQ(units(Utf16(expected.manufacturer).size()), Utf16(expected.manufacturer));
    text.fill(0xFF);
    ASSERT_NE(hid.GetProductString(handle, text), 0);
    EXPECT_EQ(units(Utf16(expected.product).size()), Utf16(expected.product));
  }
}

// One device of ours, opened as the window opens its feature handle.
struct OpenedPlain {
  explicit OpenedPlain(DeviceTraits traits) {
    dev = PlugIn(std::move(traits));
    if (dev) handle = hid.Open(dev->node, OpenMode::kPlain);
    EXPECT_TRUE(handle.IsOpen());
  }

  std::optional<Plugged> dev;
  LinuxHidraw hid;
  platform::Handle handle;
};

TEST(KernelBackend, FeatureReadsGiveTheWholeReportWithTheIdByteFirstInTheReplyOrder) {
  OpenedPlain opened(OurDevice("KB-GET"));
  ASSERT_TRUE(opened.handle.IsOpen());
  auto& [dev, hid, handle] = opened;
  dev->device->WithModel([](sim::DeviceModel& model) {
    for (std::size_t r = 0; r < 17; ++r) model.registers()[r] = static_cast<std::uint8_t>(0x40 + r);
    model.set_input_mask(0x28);
  });

  Bytes block(kFeatureLength, 0xAA);
  block[0] = 0;
  ASSERT_NE(hid.GetFeature(handle, block), 0);
  Bytes expected = {0, 0xEE, 0};
  for (std::uint8_t r = 0; r < 16; ++r) expected.push_back(0x40 + r);
  EXPECT_EQ(block, expected);

  Bytes mask(kFeatureLength, 0xAA);
  mask[0] = 0;
  ASSERT_NE(hid.GetFeature(handle, mask), 0);
  expected.assign(kFeatureLength, 0);
  expected[1] = 0xCC;
  expected[2] = 0x28;
  EXPECT_EQ(mask, expected);

  ASSERT_NE(hid.GetFeature(handle, block), 0);
  EXPECT_EQ(block[1], 0xEE) << "the replies start over";
  EXPECT_EQ(dev->device->activity().feature_gets, 3);
}

TEST(KernelBackend, FeatureWriteDeliversExactlyTheEighteenDataBytes) {
  OpenedPlain opened(OurDevice("KB-SET"));
  ASSERT_TRUE(opened.handle.IsOpen());
  auto& [dev, hid, handle] = opened;

  Bytes report(kFeatureLength, 0);
  report[1] = 1, report[2] = 7, report[3] = 200, report[18] = 0x5A;
  ASSERT_NE(hid.SetFeature(handle, report), 0);

  const auto sets = dev->device->activity().feature_sets;
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0], Bytes(report.begin() + 1, report.end()));
  std::uint8_t stored = 0;
  dev->device->WithModel([&](sim::DeviceModel& model) { stored = model.registers()[7]; });
  EXPECT_EQ(stored, 200);

  Bytes block(kFeatureLength, 0);
  ASSERT_NE(hid.GetFeature(handle, block), 0);
  EXPECT_EQ(block[3 + 7], 200) << "the configuration block shows the written register";
}

TEST(KernelBackend, FailedFeatureReadOnTheDeviceIsAFailedCall) {
  OpenedPlain opened(OurDevice("KB-ERR"));
  ASSERT_TRUE(opened.handle.IsOpen());
  auto& [dev, hid, handle] = opened;
  dev->device->FailNextGets(1, EPIPE);
  Bytes report(kFeatureLength, 0);
  EXPECT_EQ(hid.GetFeature(handle, report), 0);
  EXPECT_NE(hid.GetFeature(handle, report), 0);
  EXPECT_EQ(report[1], 0xEE);
}

// A device of ours open for input reads once it has sent more than `sent`
// reports; `ready` says whether it came to that (else the test has failed).
struct Reading {
  explicit Reading(DeviceTraits traits, std::uint64_t sent) {
    dev = PlugIn(std::move(traits));
    if (!dev) return;
    handle = hid.Open(dev->node, OpenMode::kOverlapped);
    EXPECT_TRUE(handle.IsOpen());
    ready = handle.IsOpen() && WaitUntil([&] { return dev->device->inputs_sent() > sent; }, 2000);
    EXPECT_TRUE(ready) << "the device sent no reports";
  }

  std::optional<Plugged> dev;
  LinuxHidraw hid;
  platform::Handle handle;
  bool ready = false;
};

TEST(KernelBackend, InputReadsGiveWholeReportsEachWithItsIdByteNewestLast) {
  Reading reading(OurDevice("KB-IN"), 5);
  ASSERT_TRUE(reading.ready);
  auto& [dev, hid, handle, ready] = reading;
  ReadInput(hid, handle);

  const std::uint64_t before = dev->device->inputs_sent();
  ASSERT_TRUE(WaitUntil([&] { return dev->device->inputs_sent() >= before + 6; }, 3000));
  const Read read = ReadInput(hid, handle);
  const std::uint64_t sent = dev->device->inputs_sent();
  EXPECT_NE(read.result, 0);
  const auto sequences = CheckWholeReports(*dev->device, read.bytes);
  EXPECT_GE(sequences.size(), 5u) << "several reports per read after a pause";
  ASSERT_FALSE(sequences.empty());
  EXPECT_LT(sent - sequences.back(), 50u) << "the last report of a read is the newest";
}

TEST(KernelBackend, EmptyQueueGivesZeroWithoutBlocking) {
  Reading reading(OurDevice("KB-IDLE"), 0);
  ASSERT_TRUE(reading.ready);
  auto& [dev, hid, handle, ready] = reading;
  dev->device->SetStreaming(false);
  SleepMs(50);
  ReadInput(hid, handle);

  const auto start = std::chrono::steady_clock::now();
  const Read read = ReadInput(hid, handle);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(read.result, 0);
  EXPECT_TRUE(read.bytes.empty());
  EXPECT_LT(took, std::chrono::milliseconds(100));

  dev->device->SetStreaming(true);
  EXPECT_TRUE(WaitUntil([&] { return ReadInput(hid, handle).result != 0; }, 2000));
}

// hidraw queues 63 reports per reader and drops the newest once full, so the
// first read after a long pause is stale, and the next one is fresh again.
TEST(KernelBackend, AfterALongPauseTheFirstReadHoldsTheOldestQueuedReports) {
  DeviceTraits traits = OurDevice("KB-OVER");
  traits.reports_per_second = 1000;  // a queue overrun within a second
  Reading reading(traits, 0);
  ASSERT_TRUE(reading.ready);
  auto& [dev, hid, handle, ready] = reading;
  ReadInput(hid, handle);
  const std::uint64_t pause_start = dev->device->inputs_sent();

  ASSERT_TRUE(WaitUntil([&] { return dev->device->inputs_sent() > pause_start + 200; }, 5000));
  // Stopped, so that no report can slip into the queue while it drains.
  dev->device->SetStreaming(false);
  const Read stale = ReadInput(hid, handle);
  const std::uint64_t sent = dev->device->inputs_sent();
  const auto sequences = CheckWholeReports(*dev->device, stale.bytes);
  EXPECT_EQ(stale.bytes.size(), 58 * kInputLength)
      << "the newest whole reports that fit 1000 bytes";
  ASSERT_FALSE(sequences.empty());
  EXPECT_LT(sequences.back() - pause_start, 64u) << "the queue kept the oldest reports";
  EXPECT_GT(sent - sequences.back(), 100u);

  dev->device->SetStreaming(true);
  const std::uint64_t resumed = dev->device->inputs_sent();
  ASSERT_TRUE(WaitUntil([&] { return dev->device->inputs_sent() > resumed + 10; }, 3000));
  const Read fresh = ReadInput(hid, handle);
  const auto next = CheckWholeReports(*dev->device, fresh.bytes);
  ASSERT_FALSE(next.empty());
  EXPECT_LT(dev->device->inputs_sent() - next.back(), 50u);
}

// A device of ours opened both ways, as the window opens it: a plain handle
// for feature reports and an overlapped one for input reads.
struct OpenedBothWays {
  explicit OpenedBothWays(DeviceTraits traits) {
    dev = PlugIn(std::move(traits));
    if (!dev) return;
    plain = hid.Open(dev->node, OpenMode::kPlain);
    input = hid.Open(dev->node, OpenMode::kOverlapped);
    open = plain.IsOpen() && input.IsOpen();
    EXPECT_TRUE(open);
  }

  std::optional<Plugged> dev;
  LinuxHidraw hid;
  platform::Handle plain;
  platform::Handle input;
  bool open = false;
};

TEST(KernelBackend, UnplugGivesFailedReadAndFeatureCalls) {
  OpenedBothWays opened(OurDevice("KB-GONE"));
  ASSERT_TRUE(opened.open);
  auto& [dev, hid, plain, input, open] = opened;
  ASSERT_TRUE(WaitUntil([&] { return dev->device->inputs_sent() > 10; }, 2000));

  ASSERT_EQ(dev->device->Unplug(), 0);
  const Read read = ReadInput(hid, input);
  EXPECT_EQ(read.result, 0);
  EXPECT_TRUE(read.bytes.empty());
  Bytes report(kFeatureLength, 0);
  EXPECT_EQ(hid.GetFeature(plain, report), 0);
  report[1] = 1;
  EXPECT_EQ(hid.SetFeature(plain, report), 0);
  EXPECT_TRUE(EnumeratedPaths(hid, device::kVendorId, device::kProductId).empty());
}

TEST(KernelBackend, ReplugIsFoundAgainUnderANewNodeWhileOldHandlesStayDead) {
  OpenedBothWays opened(OurDevice("KB-BACK"));
  ASSERT_TRUE(opened.open);
  auto& [dev, hid, old_plain, old_input, open] = opened;

  const auto node = Replug(*dev->device);
  ASSERT_TRUE(node);
  EXPECT_NE(*node, dev->node) << "the old node stays taken while its handles are open";
  EXPECT_EQ(EnumeratedPaths(hid, device::kVendorId, device::kProductId),
            std::vector<std::string>{*node});

  Bytes report(kFeatureLength, 0);
  EXPECT_EQ(hid.GetFeature(old_plain, report), 0);
  EXPECT_EQ(ReadInput(hid, old_input).result, 0);

  const platform::Handle fresh = hid.Open(*node, OpenMode::kPlain);
  ASSERT_TRUE(fresh.IsOpen());
  EXPECT_NE(hid.GetFeature(fresh, report), 0);
  EXPECT_EQ(report[1], 0xEE) << "a replugged device starts its replies over";
}

TEST(KernelBackend, HandlesAreCloseOnExec) {
  OpenedBothWays opened(OurDevice("KB-EXEC"));
  ASSERT_TRUE(opened.open);
  auto& [dev, hid, plain, input, open] = opened;

  int checked = 0;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(fd.path(), error) != dev->node) continue;
    std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
    std::string key;
    unsigned long flags = 0;
    while (info >> key && key != "flags:") info.ignore(256, '\n');
    info >> std::oct >> flags;
    EXPECT_NE(flags & O_CLOEXEC, 0u)
        << "fd " << fd.path().filename() << " flags " << std::oct << flags;
    ++checked;
  }
  EXPECT_EQ(checked, 2) << "one descriptor per handle";
}

}  // namespace
}  // namespace tensivo::vm
