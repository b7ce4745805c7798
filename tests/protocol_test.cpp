// The feature-report protocol: the bytes of every write, the gain encoding in
// both directions, and the five-read read-back against a scripted device.
#include "device/protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "device/device_text.h"
#include "device/discovery.h"
#include "sim/simulated_hid.h"

namespace tensivo::device {
namespace {

using sim::FeatureReply;
using sim::SimulatedHid;
using Bytes = std::vector<std::uint8_t>;

Bytes Padded(std::initializer_list<std::uint8_t> head, std::size_t length) {
  Bytes bytes(head);
  bytes.resize(length, 0);
  return bytes;
}

TEST(GainEncoding, EveryListPositionReadsBackAsItself) {
  for (int p = 0; p < kGainCount; ++p) {
    const GainRegisters regs = EncodeGain(p);
    // Amplifier registers always carry bit 3 and nothing above it.
    ASSERT_EQ(regs.amplifier & 0xF8, 0x08) << "position " << p;
    ASSERT_EQ(DecodeGainPosition(regs.amplifier, regs.shift, regs.fine), p) << "position " << p;
  }
}

TEST(GainEncoding, WriterGivesTheKnownRegisterValues) {
  struct Case {
    int position;
    GainRegisters expected;
  };
  for (const Case& c : {Case{0, {8, 0, 0}}, Case{300, {8, 1, 44}}, Case{2292, {15, 1, 244}},
                        Case{2559, {15, 2, 255}}, Case{769, {11, 0, 1}}}) {
    const GainRegisters regs = EncodeGain(c.position);
    EXPECT_EQ(regs.amplifier, c.expected.amplifier) << c.position;
    EXPECT_EQ(regs.shift, c.expected.shift) << c.position;
    EXPECT_EQ(regs.fine, c.expected.fine) << c.position;
  }
}

TEST(GainEncoding, ReaderIsLenientOnlyWhereTheDeviceMayDiffer) {
  // Bits above the code and above the shift are ignored.
  EXPECT_EQ(DecodeGainPosition(0xFF, 0xFD, 7), 256 * 8 + 7);
  // The shift next to codes 3..6 plays no part.
  EXPECT_EQ(DecodeGainPosition(4, 3, 0), 256 * 4);
  EXPECT_EQ(DecodeGainPosition(6, 2, 9), 256 * 6 + 9);
  // Shift 3 next to code 7 is step 9, like shift 2.
  EXPECT_EQ(DecodeGainPosition(15, 3, 255), 2559);
  // No step at all: codes 1 and 2, and code 0 with shift 3.
  EXPECT_EQ(DecodeGainPosition(1, 0, 5), std::nullopt);
  EXPECT_EQ(DecodeGainPosition(10, 2, 5), std::nullopt);
  EXPECT_EQ(DecodeGainPosition(8, 3, 5), std::nullopt);
}

TEST(GainText, ListEntriesAreTheValueCutToSixCharacters) {
  const std::pair<int, const char*> known[] = {
      {0, "1"},         {1, "1.0039"}, {128, "1.5"},  {255, "1.9960"}, {769, "8.0312"},
      {1025, "16.062"}, {2048, "256"}, {2292, "500"}, {2559, "1022"},
  };
  for (const auto& [position, text] : known) EXPECT_EQ(GainText(position), text) << position;
  EXPECT_EQ(GainText(1, ','), "1,0039");
}

TEST(GainText, EveryEntryIsAPrefixOfItsExactValue) {
  for (int p = 0; p < kGainCount; ++p) {
    const std::string text = GainText(p);
    ASSERT_LE(text.size(), 6u);
    const double exact = std::ldexp(1.0 + (p % 256) / 256.0, p / 256);
    const double shown = std::strtod(text.c_str(), nullptr);
    const auto dot = text.find('.');
    const int decimals = dot == std::string::npos ? 0 : static_cast<int>(text.size() - dot - 1);
    // Cut, never rounded up: the text lies within one last digit below the value.
    ASSERT_LE(shown, exact) << p;
    ASSERT_GT(shown, exact - std::pow(10.0, -decimals)) << p;
  }
}

// A device of our kind open through DeviceHandle, with its write log.
class OpenDevice : public ::testing::Test {
 protected:
  void Open(std::uint16_t feature_length = 19) {
    sim::SimulatedDeviceTraits traits;
    traits.serial = u"A1";
    traits.feature_length = feature_length;
    device_ = hid_.AddDevice(traits);
    Scan_USB_devices(hid_, state_);
    ASSERT_EQ(FindTheHid(hid_, state_, "A1"), kTrue);
    hid_.ClearLogs();
  }

  std::vector<Bytes> Written() const {
    std::vector<Bytes> reports;
    for (const auto& w : hid_.write_log()) reports.push_back(w.bytes);
    return reports;
  }

  int CallsOf(SimulatedHid::Op op) const {
    return static_cast<int>(std::count_if(hid_.call_log().begin(), hid_.call_log().end(),
                                          [&](const auto& call) { return call.op == op; }));
  }

  SimulatedHid hid_;
  SimulatedHid::DeviceId device_ = 0;
  WindowState state_;
};

TEST_F(OpenDevice, WriteOfRegisterSevenFillsTheWholeFeatureLength) {
  Open(19);
  auto buffer = NewFeatureBuffer(state_);
  Write_Register(hid_, state_, buffer, 7, 200);
  ASSERT_EQ(Written().size(), 1u);
  EXPECT_EQ(Written()[0], Padded({0, 1, 7, 200}, 19));
  EXPECT_NE(state_.LastResult, 0);
  EXPECT_EQ(hid_.model(device_).registers()[7], 200);
}

TEST_F(OpenDevice, GainPickWritesThreeRegistersOfItsLoadCell) {
  Open(19);
  WriteGain(hid_, state_, LoadCell::kLC2, 2292);
  EXPECT_EQ(Written(), (std::vector<Bytes>{Padded({0, 1, 2, 15}, 19), Padded({0, 1, 3, 1}, 19),
                                           Padded({0, 1, 7, 244}, 19)}));
  WriteGain(hid_, state_, LoadCell::kLC1, 0);
  WriteGain(hid_, state_, LoadCell::kLC3, 2559);
  const auto all = Written();
  ASSERT_EQ(all.size(), 9u);
  EXPECT_EQ(all[3], Padded({0, 1, 0, 8}, 19));
  EXPECT_EQ(all[5], Padded({0, 1, 6, 0}, 19));
  EXPECT_EQ(all[6], Padded({0, 1, 4, 15}, 19));
  EXPECT_EQ(all[7], Padded({0, 1, 5, 2}, 19));
  EXPECT_EQ(all[8], Padded({0, 1, 8, 255}, 19));
}

TEST_F(OpenDevice, FactoryDefaultsAreTwelveWritesInRegisterOrder) {
  Open(19);
  auto& regs = hid_.model(device_).registers();
  std::fill(regs.begin(), regs.begin() + 12, std::uint8_t{0});
  WriteFactoryDefaults(hid_, state_);
  const auto all = Written();
  ASSERT_EQ(all.size(), 12u);
  const std::uint8_t values[] = {15, 1, 15, 1, 15, 1, 244, 244, 244, 128, 128, 128};
  for (std::uint8_t r = 0; r < 12; ++r) EXPECT_EQ(all[r], Padded({0, 1, r, values[r]}, 19));
  EXPECT_TRUE(std::equal(regs.begin(), regs.begin() + 12, std::begin(values)));
}

TEST_F(OpenDevice, FeatureLengthTooShortForAWriteSendsNothing) {
  Open(3);
  WriteGain(hid_, state_, LoadCell::kLC1, 100);
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(CallsOf(SimulatedHid::Op::kSetFeature), 0);
  EXPECT_EQ(state_.LastResult, 0);
}

TEST_F(OpenDevice, UnreadableLengthsMakeNoFeatureCallAtAll) {
  Open(19);
  hid_.FailAlways(SimulatedHid::Op::kGetCaps, device_);
  state_.DeviceHandle.Close();
  state_.ReadHandle.Close();
  ASSERT_EQ(FindTheHid(hid_, state_, "A1"), kTrue);
  ASSERT_EQ(state_.DeviceCaps.FeatureReportByteLength, 0);
  hid_.ClearLogs();

  WriteFactoryDefaults(hid_, state_);
  ReadConfiguration(hid_, state_);
  EXPECT_EQ(CallsOf(SimulatedHid::Op::kSetFeature), 0);
  EXPECT_EQ(CallsOf(SimulatedHid::Op::kGetFeature), 0);
  EXPECT_EQ(state_.LastResult, 0);
}

TEST_F(OpenDevice, ReadBackTakesBlockAndMaskInAnyOrderWithoutWriting) {
  Open(19);
  auto& model = hid_.model(device_);
  model.set_input_mask(0x28);
  model.registers()[15] = 77;
  model.registers()[16] = 99;
  model.SetReplies({FeatureReply::Raw({0x55, 1, 2}), FeatureReply::InputMask(),
                    FeatureReply::InputMask(), FeatureReply::ConfigBlock(0)});

  const RegisterImage image = ReadConfiguration(hid_, state_);
  EXPECT_EQ(CallsOf(SimulatedHid::Op::kGetFeature), 5);
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(state_.InputMask, 0x28);
  const std::array<std::uint8_t, 12> factory = {15, 1, 15, 1, 15, 1, 244, 244, 244, 128, 128, 128};
  for (std::size_t r = 0; r < factory.size(); ++r) EXPECT_EQ(image[r], factory[r]);
  EXPECT_EQ(image[15], 77);
  EXPECT_EQ(image[16], 0) << "a block from register 0 ends at register 15";
}

TEST_F(OpenDevice, ReadBackWithoutBlockOrMaskKeepsMaskAndReadsZeros) {
  Open(19);
  state_.InputMask = 0x40;
  hid_.model(device_).SetReplies({FeatureReply::Raw({0x12, 0x34})});
  const RegisterImage image = ReadConfiguration(hid_, state_);
  EXPECT_EQ(state_.InputMask, 0x40);
  EXPECT_EQ(image, RegisterImage{});
  for (const auto& regs : kLoadCellRegisters) {
    EXPECT_EQ(DecodeGainPosition(image[regs.amplifier], image[regs.shift], image[regs.fine]), 0);
  }
}

TEST_F(OpenDevice, FailedReadsApplyThePreviousReplyAgain) {
  Open(19);
  hid_.model(device_).SetReplies({FeatureReply::InputMask(), FeatureReply::ConfigBlock(0)});
  hid_.model(device_).set_input_mask(0x10);
  // Only the first read succeeds; the buffer keeps the mask reply for the rest.
  const std::uint64_t first = hid_.calls_made() + 1;
  for (std::uint64_t n = first + 1; n < first + 5; ++n) hid_.FailCall(n);
  const RegisterImage image = ReadConfiguration(hid_, state_);
  EXPECT_EQ(state_.InputMask, 0x10);
  EXPECT_EQ(image, RegisterImage{});
  EXPECT_EQ(state_.LastResult, 0);
}

TEST(FeatureReply, BlocksThatDoNotFitAreCutToBufferAndImage) {
  RegisterImage image{};
  std::uint8_t mask = 0;
  Bytes reply(19);
  reply[1] = kConfigBlockTag;
  for (std::size_t i = 3; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(i);

  // A short report carries only the registers it has bytes for.
  ApplyFeatureReply(std::span(reply).first(10), image, mask);
  EXPECT_EQ(image[6], 9);
  EXPECT_EQ(image[7], 0);

  // Blocks starting past register 1 stop at the image's last register.
  image = {};
  reply[2] = 2;
  ApplyFeatureReply(reply, image, mask);
  EXPECT_EQ(image[1], 0);
  EXPECT_EQ(image[2], 3);
  EXPECT_EQ(image[16], 17);

  image = {};
  reply[2] = 200;
  ApplyFeatureReply(reply, image, mask);
  EXPECT_EQ(image, RegisterImage{});

  // A mask reply needs its third byte.
  Bytes mask_reply = {0, kInputMaskTag};
  ApplyFeatureReply(mask_reply, image, mask);
  EXPECT_EQ(mask, 0);
}

}  // namespace
}  // namespace tensivo::device
