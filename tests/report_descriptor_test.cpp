#include "platform/report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace tensivo::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Vendor page 0xFF00, usage 1, no report ids: 16-byte input, 18-byte feature.
const Bytes kVendorDescriptor = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x10,        //   Report Count (16)
    0x09, 0x02,        //   Usage (2)
    0x81, 0x02,        //   Input (data, variable)
    0x95, 0x12,        //   Report Count (18)
    0x09, 0x03,        //   Usage (3)
    0xB1, 0x02,        //   Feature (data, variable)
    0xC0,              // End Collection
};

// Wraps `body` in an application collection on vendor page 0xFF00, usage 1.
Bytes InCollection(const Bytes& body) {
  Bytes out = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
  // Appended one by one: g++ 12 warns falsely about a ranged insert here.
  for (const std::uint8_t byte : body) out.push_back(byte);
  out.push_back(0xC0);
  return out;
}

std::optional<DescriptorSummary> Parse(const Bytes& bytes) { return ParseReportDescriptor(bytes); }

TEST(ReportDescriptor, VendorDescriptorWithoutReportIdsStillCountsTheIdByte) {
  const auto summary = Parse(kVendorDescriptor);
  ASSERT_TRUE(summary);
  EXPECT_FALSE(summary->uses_report_ids);
  ASSERT_EQ(summary->collections.size(), 1u);
  const HidCaps& c = summary->collections[0];
  EXPECT_EQ(c.UsagePage, 0xFF00);
  EXPECT_EQ(c.Usage, 0x0001);
  EXPECT_EQ(c.InputReportByteLength, 17);
  EXPECT_EQ(c.OutputReportByteLength, 0);
  EXPECT_EQ(c.FeatureReportByteLength, 19);
}

TEST(ReportDescriptor, WithReportIdsTheLargestReportOfEachTypeWins) {
  const auto summary = Parse(InCollection({
      0x75, 0x08,  // Report Size (8)
      0x85, 0x01,  // Report ID (1)
      0x95, 0x04,  // Report Count (4)
      0x81, 0x02,  // Input: id 1 has 4 bytes
      0x85, 0x02,  // Report ID (2)
      0x95, 0x0A,  // Report Count (10)
      0x81, 0x02,  // Input: id 2 has 10 bytes
      0x85, 0x01,  // Report ID (1)
      0xA1, 0x02,  // Collection (logical)
      0x95, 0x08,  //   Report Count (8)
      0x81, 0x02,  //   Input: id 1 grows to 12 bytes
      0xC0,        // End Collection
      0x85, 0x03,  // Report ID (3)
      0x95, 0x05,  // Report Count (5)
      0x91, 0x02,  // Output: id 3 has 5 bytes
  }));
  ASSERT_TRUE(summary);
  EXPECT_TRUE(summary->uses_report_ids);
  ASSERT_EQ(summary->collections.size(), 1u);
  EXPECT_EQ(summary->collections[0].InputReportByteLength, 13);
  EXPECT_EQ(summary->collections[0].OutputReportByteLength, 6);
  EXPECT_EQ(summary->collections[0].FeatureReportByteLength, 0);
}

TEST(ReportDescriptor, ConstantPaddingCountsAndOddBitsRoundUp) {
  const auto summary = Parse(InCollection({
      0x75, 0x01, 0x95, 0x05, 0x81, 0x02,  // 5 data bits
      0x75, 0x01, 0x95, 0x03, 0x81, 0x03,  // 3 constant bits
      0x75, 0x01, 0x95, 0x01, 0xB1, 0x02,  // a single feature bit
  }));
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->collections[0].InputReportByteLength, 2);
  EXPECT_EQ(summary->collections[0].FeatureReportByteLength, 2);
}

TEST(ReportDescriptor, ReportsWithoutDataBitsGiveZero) {
  const auto summary = Parse(InCollection({
      0x75, 0x08, 0x95, 0x00, 0x81, 0x02,  // count 0
      0x75, 0x00, 0x95, 0x04, 0x91, 0x02,  // size 0
  }));
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->collections[0].InputReportByteLength, 0);
  EXPECT_EQ(summary->collections[0].OutputReportByteLength, 0);
}

TEST(ReportDescriptor, EachTopLevelCollectionKeepsItsOwnReportsAndUsage) {
  const Bytes descriptor = {
      0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,                    // keyboard
      0x85, 0x01, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02, 0xC0,  //   8-byte input
      0x06, 0x00, 0xFF, 0x0A, 0x34, 0x12, 0xA1, 0x01,        // vendor 0xFF00 usage 0x1234
      0x85, 0x02, 0x95, 0x03, 0x81, 0x02,                    //   3-byte input
      0x95, 0x3F, 0xB1, 0x02, 0xC0,                          //   63-byte feature
      0x05, 0x01, 0x0B, 0x02, 0x00, 0x0C, 0x00, 0xA1, 0x01,  // usage 0x000C:0x0002, 4 bytes
      0xC0,                                                  //   no reports
  };
  const auto summary = Parse(descriptor);
  ASSERT_TRUE(summary);
  ASSERT_EQ(summary->collections.size(), 3u);
  EXPECT_EQ(summary->collections[0].UsagePage, 0x0001);
  EXPECT_EQ(summary->collections[0].Usage, 0x0006);
  EXPECT_EQ(summary->collections[0].InputReportByteLength, 9);
  EXPECT_EQ(summary->collections[0].FeatureReportByteLength, 0);
  EXPECT_EQ(summary->collections[1].UsagePage, 0xFF00);
  EXPECT_EQ(summary->collections[1].Usage, 0x1234);
  EXPECT_EQ(summary->collections[1].InputReportByteLength, 4);
  EXPECT_EQ(summary->collections[1].FeatureReportByteLength, 64);
  EXPECT_EQ(summary->collections[2].UsagePage, 0x000C);
  EXPECT_EQ(summary->collections[2].Usage, 0x0002);
  EXPECT_EQ(summary->collections[2].InputReportByteLength, 0);

  const HidCaps caps = InterfaceCaps(*summary);
  EXPECT_EQ(caps.UsagePage, 0x0001);
  EXPECT_EQ(caps.Usage, 0x0006);
  EXPECT_EQ(caps.InputReportByteLength, 9);
  EXPECT_EQ(caps.OutputReportByteLength, 0);
  EXPECT_EQ(caps.FeatureReportByteLength, 64);
}

TEST(ReportDescriptor, InterfaceWithoutCollectionsReportsNothing) {
  const auto summary = Parse({});
  ASSERT_TRUE(summary);
  EXPECT_TRUE(summary->collections.empty());
  const HidCaps caps = InterfaceCaps(*summary);
  EXPECT_EQ(caps.Usage, 0);
  EXPECT_EQ(caps.UsagePage, 0);
  EXPECT_EQ(caps.InputReportByteLength, 0);
  EXPECT_EQ(caps.OutputReportByteLength, 0);
  EXPECT_EQ(caps.FeatureReportByteLength, 0);
}

TEST(ReportDescriptor, PopRestoresSizeCountAndReportId) {
  const auto summary = Parse(InCollection({
      0x85, 0x01, 0x75, 0x08, 0x95, 0x02,  // id 1, 2 bytes
      0xA4,                                // Push
      0x85, 0x02, 0x95, 0x20, 0x91, 0x02,  // id 2: 32-byte output
      0xB4,                                // Pop
      0x81, 0x02,                          // id 1: 2-byte input
      0x91, 0x02,                          // id 1: 2-byte output
  }));
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->collections[0].InputReportByteLength, 3);
  EXPECT_EQ(summary->collections[0].OutputReportByteLength, 33);
}

TEST(ReportDescriptor, LargestLengthThatFitsSixteenBitsIsAccepted) {
  // 65534 data bytes plus the id byte is exactly 0xFFFF.
  const auto fits = Parse(InCollection({0x75, 0x08, 0x96, 0xFE, 0xFF, 0x81, 0x02}));
  ASSERT_TRUE(fits);
  EXPECT_EQ(fits->collections[0].InputReportByteLength, 0xFFFF);
  EXPECT_FALSE(Parse(InCollection({0x75, 0x08, 0x96, 0xFF, 0xFF, 0x81, 0x02})));
}

TEST(ReportDescriptor, MalformedDescriptorsAreRejected) {
  const struct {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"item announces 4 data bytes, 1 remains", {0x05, 0x01, 0x09, 0x01, 0xA1, 0x01, 0x97, 0x01}},
      {"long item", InCollection({0xFE, 0x02, 0x10, 0x00, 0x00})},
      {"reserved item type", InCollection({0x0C})},
      {"pop without push", InCollection({0xB4})},
      {"end collection without collection", {0x09, 0x01, 0xC0}},
      {"one end collection too many", InCollection({0xC0})},
      {"unterminated collection", {0x09, 0x01, 0xA1, 0x01, 0xA1, 0x00, 0xC0}},
      {"report count 0xFFFFFFFF",
       InCollection({0x75, 0x01, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02})},
      {"size times count overflows 32 bits",
       InCollection({0x77, 0x00, 0x00, 0x01, 0x00, 0x97, 0x00, 0x00, 0x01, 0x00, 0x81, 0x02})},
      {"size and count both 0xFFFFFFFF",
       InCollection({0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0xB1, 0x02})},
      {"items of one id add up past 16 bits",
       InCollection({0x75, 0x08, 0x96, 0x00, 0x80, 0x91, 0x02, 0x91, 0x02})},
      {"report id 0", InCollection({0x85, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02})},
      {"report id wider than a byte", InCollection({0x86, 0x01, 0x01, 0x81, 0x02})},
      {"push stack overflow", InCollection(Bytes(1000, 0xA4))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(Parse(c.bytes));
  }
}

TEST(ReportDescriptor, TruncationsAreRejectedUnlessTheyEndBeforeTheFirstCollection) {
  for (std::size_t length = 1; length < kVendorDescriptor.size(); ++length) {
    SCOPED_TRACE(length);
    // A copy of exactly `length` bytes, so that any read past the end is a real overrun.
    const Bytes cut(kVendorDescriptor.begin(), kVendorDescriptor.begin() + length);
    const auto summary = Parse(cut);
    // Cut right after Usage Page or Usage: whole items, no collection yet.
    if (length == 3 || length == 5) {
      ASSERT_TRUE(summary);
      EXPECT_TRUE(summary->collections.empty());
    } else {
      EXPECT_FALSE(summary);
    }
  }
}

// --- real devices -----------------------------------------------------------

std::optional<Bytes> ReadHex(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  Bytes bytes;
  std::string token;
  while (in >> token) bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
  return bytes;
}

TEST(ReportDescriptor, RealDevicesGiveTheLengthsWindowsReported) {
  const std::filesystem::path dir = std::filesystem::path(TENSIVO_TESTDATA_DIR) / "descriptors";
  std::ifstream table(dir / "lengths.tsv");
  ASSERT_TRUE(table) << "no descriptor test data at " << dir;

  std::string line;
  std::getline(table, line);  // header
  int rows = 0;
  while (std::getline(table, line)) {
    if (line.empty()) continue;
    std::istringstream fields(line);
    std::string name;
    int input = -1, output = -1, feature = -1;
    ASSERT_TRUE(fields >> name >> input >> output >> feature) << line;
    SCOPED_TRACE(name);
    ++rows;

    const auto bytes = ReadHex(dir / (name + ".hex"));
    ASSERT_TRUE(bytes) << "missing " << name << ".hex";
    const auto summary = ParseReportDescriptor(*bytes);
    ASSERT_TRUE(summary);

    // Name is VVVV_PPPP_UUUU_GGGG: usage UUUU on page GGGG.
    const auto usage = static_cast<std::uint16_t>(std::stoul(name.substr(10, 4), nullptr, 16));
    const auto page = static_cast<std::uint16_t>(std::stoul(name.substr(15, 4), nullptr, 16));
    const HidCaps* found = nullptr;
    for (const HidCaps& c : summary->collections) {
      if (c.Usage == usage && c.UsagePage == page) {
        found = &c;
        break;
      }
    }
    ASSERT_NE(found, nullptr) << "no collection " << name.substr(15, 4) << ":"
                              << name.substr(10, 4);
    EXPECT_EQ(found->InputReportByteLength, input);
    EXPECT_EQ(found->OutputReportByteLength, output);
    EXPECT_EQ(found->FeatureReportByteLength, feature);
  }
  EXPECT_GT(rows, 0) << "lengths.tsv has no rows";
}

}  // namespace
}  // namespace tensivo::platform
