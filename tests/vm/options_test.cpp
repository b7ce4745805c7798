// The command line of tensivo-virtual-device, on any machine.
#include "virtual_device/options.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace tensivo::virtual_device {
namespace {

ParsedOptions Parse(std::vector<std::string_view> args) { return ParseOptions(args); }

TEST(VirtualDeviceOptions, SerialsMakeOneDeviceEachWithTheSharedSettings) {
  const auto parsed = Parse({"--mask", "28", "--version=0100", "A-1", "--rate", "250", "B-2"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  const auto& devices = parsed.options->devices;
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].serial, "A-1");
  EXPECT_EQ(devices[1].serial, "B-2");
  for (const auto& d : devices) {
    EXPECT_EQ(d.input_mask, 0x28);
    EXPECT_EQ(d.version, 0x0100);
    EXPECT_EQ(d.reports_per_second, 250);
    EXPECT_EQ(d.vendor_id, 0xE31A);
    EXPECT_EQ(d.product_id, 0x5C07);
  }
}

TEST(VirtualDeviceOptions, NoSerialGivesOneDefaultDevice) {
  const auto parsed = Parse({});
  ASSERT_TRUE(parsed.options);
  ASSERT_EQ(parsed.options->devices.size(), 1u);
  EXPECT_EQ(parsed.options->devices[0].serial, "TV-0001");
  EXPECT_EQ(parsed.options->uhid_path, "/dev/uhid");
}

TEST(VirtualDeviceOptions, MalformedSerialsAreRefusedByName) {
  const std::string too_long(64, 'S');
  for (const std::string_view bad : {std::string_view("with blank"), std::string_view("caf\xc3\xa9"),
                                     std::string_view(too_long), std::string_view("tab\there")}) {
    const auto parsed = Parse({"OK-1", bad});
    EXPECT_FALSE(parsed.options) << bad;
    EXPECT_NE(parsed.error.find("malformed serial '" + std::string(bad) + "'"), std::string::npos)
        << parsed.error;
  }
  EXPECT_TRUE(Parse({std::string_view(too_long).substr(1)}).options) << "63 characters fit";
  EXPECT_TRUE(Parse({"--", "-dash-first"}).options) << "after --, a serial may start with -";
}

TEST(VirtualDeviceOptions, BadOptionsAndValuesSayWhatIsWrong) {
  const struct {
    std::vector<std::string_view> args;
    std::string says;
  } cases[] = {
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"-x"}, "unknown option '-x'"},
      {{"--mask"}, "needs a value"},
      {{"--mask", "1FF"}, "'--mask 1FF'"},
      {{"--version", "0x101"}, "'--version 0x101'"},
      {{"--rate", "-5"}, "'--rate -5'"},
      {{"--rate", "10001"}, "'--rate 10001'"},
      {{"--plug-cycle", "1000"}, "PERIOD,ABSENT"},
      {{"--plug-cycle", "1000,1000"}, "PERIOD,ABSENT"},
      {{"A", "A"}, "serial 'A' is given twice"},
  };
  for (const auto& c : cases) {
    const auto parsed = Parse(c.args);
    EXPECT_FALSE(parsed.options) << c.says;
    EXPECT_NE(parsed.error.find(c.says), std::string::npos) << parsed.error;
  }
  const auto cycle = Parse({"--plug-cycle", "3000,1000"});
  ASSERT_TRUE(cycle.options && cycle.options->plug_cycle);
  EXPECT_EQ(cycle.options->plug_cycle->period.count(), 3000);
  EXPECT_EQ(cycle.options->plug_cycle->absent.count(), 1000);
}

TEST(VirtualDeviceOptions, UsbByDefaultAndUhidOnlyWhenAskedWithItsPathInAnyForm) {
  const struct {
    std::vector<std::string_view> args;
    Transport transport;
    std::string path;
    std::vector<std::string> serials;
  } cases[] = {
      {{"A-1"}, Transport::kUsb, "/dev/uhid", {"A-1"}},
      {{"--uhid", "A-1"}, Transport::kUhid, "/dev/uhid", {"A-1"}},
      {{"--uhid", "/dev/null", "A-1"}, Transport::kUhid, "/dev/null", {"A-1"}},
      {{"--uhid=/tmp/x"}, Transport::kUhid, "/tmp/x", {"TV-0001"}},
  };
  for (const auto& c : cases) {
    const auto parsed = Parse(c.args);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->transport, c.transport) << c.path;
    EXPECT_EQ(parsed.options->uhid_path, c.path);
    std::vector<std::string> serials;
    for (const auto& d : parsed.options->devices) serials.push_back(d.serial);
    EXPECT_EQ(serials, c.serials);
  }
}

TEST(VirtualDeviceOptions, NamesWithControlCharactersAreRefusedAndShownEscaped) {
  for (const std::string_view option : {"--name", "--maker"}) {
    for (const std::string_view bad : {std::string_view("two\nlines"), std::string_view("tab\there"),
                                       std::string_view("del\x7F")}) {
      const auto parsed = Parse({option, bad, "A-1"});
      EXPECT_FALSE(parsed.options) << option << " " << bad;
      EXPECT_NE(parsed.error.find("no control characters"), std::string::npos) << parsed.error;
      EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << "the message stays one line";
    }
  }
  const auto good = Parse({"--maker", "Gr\xC3\xBC\xC3\x9F AG", "--name", "Box", "A-1"});
  ASSERT_TRUE(good.options) << good.error;
  EXPECT_EQ(good.options->devices[0].manufacturer, "Gr\xC3\xBC\xC3\x9F AG");
  EXPECT_EQ(HidName(good.options->devices[0]), "Gr\xC3\xBC\xC3\x9F AG Box");
  EXPECT_FALSE(Parse({"--name", std::string(127, 'n')}).options) << "127 bytes do not fit";
}

TEST(VirtualDeviceOptions, OpenErrorsTellTheUserWhatToDo) {
  EXPECT_NE(UhidOpenError("/dev/uhid", ENOENT).find("sudo modprobe uhid"), std::string::npos);
  EXPECT_NE(UhidOpenError("/dev/uhid", EACCES).find("root or write access to /dev/uhid"),
            std::string::npos);
  EXPECT_NE(UhidOpenError("/dev/zero", kNotUhid).find("/dev/zero is not the uhid device"),
            std::string::npos);
  EXPECT_NE(UsbPlugError("A-1", ENOENT).find("sudo modprobe vhci-hcd"), std::string::npos);
  EXPECT_NE(UsbPlugError("A-1", EACCES).find("run it with sudo"), std::string::npos);
  EXPECT_NE(UsbPlugError("A-1", kNoFreePort).find("every port"), std::string::npos);
}

}  // namespace
}  // namespace tensivo::virtual_device
