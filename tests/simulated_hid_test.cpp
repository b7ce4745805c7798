// The simulated world the window tests and the demo stand on: unplugs that
// kill old handles, input queues per reader, faults on schedule, and the
// demo's clock-driven devices.
#include "sim/simulated_hid.h"

#include <gtest/gtest.h>

#include "sim/demo_world.h"

namespace tensivo::sim {
namespace {

using Op = SimulatedHid::Op;
using platform::Handle;
using platform::OpenMode;
using std::chrono::milliseconds;

class Simulated : public ::testing::Test {
 protected:
  SimulatedHid::DeviceId AddOne(std::u16string serial = u"S") {
    SimulatedDeviceTraits traits;
    traits.serial = std::move(serial);
    return hid_.AddDevice(traits);
  }

  std::string OnlyPath() {
    std::vector<InterfaceInfo> found;
    EXPECT_NE(hid_.Enumerate(0xE31A, 0x5C07, found), 0);
    return found.size() == 1 ? found[0].path : std::string();
  }

  Result Read(const Handle& handle, std::span<std::uint8_t> buffer, std::uint32_t& count) {
    return hid_.ReadInput(handle, ReadOverlapped{0, 0, event_}, buffer, count);
  }

  SimulatedHid hid_;
  EventId event_ = hid_.CreateReadEvent();
};

TEST_F(Simulated, UnplugKillsOldHandlesAndReplugNeedsANewOpen) {
  const auto id = AddOne();
  Handle old = hid_.Open(OnlyPath(), OpenMode::kPlain);
  ASSERT_TRUE(old.IsOpen());
  hid_.Detach(id);
  std::vector<InterfaceInfo> found;
  hid_.Enumerate(0, 0, found);
  EXPECT_TRUE(found.empty());
  HidAttributes attributes;
  EXPECT_EQ(hid_.GetAttributes(old, attributes), 0);

  const auto other = AddOne(u"T");
  hid_.Attach(id);
  EXPECT_EQ(hid_.GetAttributes(old, attributes), 0) << "a replug does not revive old handles";
  hid_.Enumerate(0, 0, found);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].path, hid_.PathOf(other)) << "a replugged device is listed after the rest";
  hid_.Detach(other);
  Handle fresh = hid_.Open(OnlyPath(), OpenMode::kPlain);
  EXPECT_NE(hid_.GetAttributes(fresh, attributes), 0);
  EXPECT_NE(old.Close(), 0) << "closing a dead handle still releases it";
  EXPECT_EQ(old.Close(), 0) << "a closed handle is not closed again";
  EXPECT_EQ(hid_.misuse(), 0);
}

TEST_F(Simulated, EachReaderQueuesItsFirst63ReportsAndReadsTheNewestOfThemThatFit) {
  const auto id = AddOne();
  Handle early = hid_.Open(OnlyPath(), OpenMode::kOverlapped);
  for (std::uint8_t i = 1; i <= 100; ++i) {
    const std::uint8_t report[] = {0, i, 0, 0};
    hid_.PushInput(id, report);
  }
  Handle late = hid_.Open(OnlyPath(), OpenMode::kOverlapped);
  std::array<std::uint8_t, 10> buffer{};
  std::uint32_t count = 0;
  ASSERT_NE(Read(early, buffer, count), 0);
  EXPECT_EQ(count, 8u) << "whole reports only";
  // Like hidraw, a full queue drops what arrives, not what waits.
  EXPECT_EQ(buffer[1], 62);
  EXPECT_EQ(buffer[5], 63);
  EXPECT_EQ(Read(early, buffer, count), 0) << "the queue was drained";
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Read(late, buffer, count), 0) << "opened after the reports were sent";
}

TEST_F(Simulated, ScheduledFaultsHitExactlyTheirCalls) {
  const auto id = AddOne();
  const std::string path = OnlyPath();
  Handle handle = hid_.Open(path, OpenMode::kPlain);
  HidAttributes attributes;
  const auto next = hid_.calls_made() + 1;
  hid_.FailCall(next + 1);
  EXPECT_NE(hid_.GetAttributes(handle, attributes), 0);
  EXPECT_EQ(hid_.GetAttributes(handle, attributes), 0);
  EXPECT_NE(hid_.GetAttributes(handle, attributes), 0);

  hid_.UnplugAtCall(id, hid_.calls_made() + 2);
  EXPECT_NE(hid_.GetAttributes(handle, attributes), 0);
  EXPECT_EQ(hid_.GetAttributes(handle, attributes), 0);
  EXPECT_FALSE(hid_.IsAttached(id));

  hid_.ClearFaults();
  hid_.Attach(id);
  hid_.FailFromCall(hid_.calls_made() + 1);
  EXPECT_FALSE(hid_.Open(hid_.PathOf(id), OpenMode::kPlain).IsOpen());
  EXPECT_EQ(hid_.CreateReadEvent(), 0u);
}

TEST_F(Simulated, FeatureWritesLandInTheRegistersAndTheLog) {
  const auto id = AddOne();
  Handle handle = hid_.Open(OnlyPath(), OpenMode::kPlain);
  std::array<std::uint8_t, 19> report{0, 1, 9, 42};
  ASSERT_NE(hid_.SetFeature(handle, report), 0);
  EXPECT_EQ(hid_.model(id).registers()[9], 42);
  ASSERT_EQ(hid_.write_log().size(), 1u);
  EXPECT_EQ(hid_.write_log()[0].device, id);

  std::array<std::uint8_t, 19> reply{};
  ASSERT_NE(hid_.GetFeature(handle, reply), 0);
  EXPECT_EQ(reply[1], 0xEE);
  EXPECT_EQ(reply[3 + 9], 42);
  ASSERT_NE(hid_.GetFeature(handle, reply), 0);
  EXPECT_EQ(reply[1], 0xCC);
}

// As the USB road shows: a device without numbered reports stalls a request
// for any other report id, and neither hands out a reply nor takes a write.
TEST_F(Simulated, FeatureReportsWithAnIdOtherThanZeroAreRefused) {
  const auto id = AddOne();
  Handle handle = hid_.Open(OnlyPath(), OpenMode::kPlain);
  std::array<std::uint8_t, 19> report{5, 1, 9, 42};
  EXPECT_EQ(hid_.SetFeature(handle, report), 0);
  EXPECT_EQ(hid_.model(id).registers()[9], 128) << "the refused write changed no register";
  EXPECT_TRUE(hid_.write_log().empty());
  EXPECT_EQ(hid_.GetFeature(handle, report), 0);
  report[0] = 0;
  ASSERT_NE(hid_.GetFeature(handle, report), 0);
  EXPECT_EQ(report[1], 0xEE) << "the refused read took no reply";
}

TEST(DemoWorld, DevicesStreamAndFollowTheirPlugCycles) {
  auto hid = MakeDemoWorld();
  std::vector<InterfaceInfo> ours;
  auto listed = [&] {
    hid->Enumerate(0xE31A, 0x5C07, ours);
    return ours.size();
  };
  // The wall clock runs too; these steps jump far past whatever it adds.
  ASSERT_EQ(listed(), 2u);
  Handle reader = hid->Open(ours.back().path, OpenMode::kOverlapped);
  hid->AdvanceTime(milliseconds(20));
  std::array<std::uint8_t, 1000> buffer{};
  std::uint32_t count = 0;
  ASSERT_NE(hid->ReadInput(reader, ReadOverlapped{0, 0, hid->CreateReadEvent()}, buffer, count), 0);
  EXPECT_GE(count, 17u * 15);
  EXPECT_EQ(count % 17, 0u);

  // Each step lands half a second into a phase of the demo's 2-minute cycle.
  const struct {
    int at_ms;
    std::size_t listed;
    const char* why;
  } phases[] = {
      {59'500, 2, "both are there for the first minute"},
      {60'500, 1, "24-0230 is away from 60 s"},
      {80'500, 0, "both are away from 80 s"},
      {100'500, 2, "both back at 100 s"},
      {180'500, 1, "the cycle repeats after 2 min"},
  };
  int now_ms = 20;
  for (const auto& phase : phases) {
    hid->AdvanceTime(milliseconds(phase.at_ms - now_ms));
    now_ms = phase.at_ms;
    EXPECT_EQ(listed(), phase.listed) << phase.why;
  }
  ASSERT_EQ(ours.size(), 1u);
  Handle left = hid->Open(ours.front().path, OpenMode::kPlain);
  std::array<std::uint8_t, 16> serial{};
  ASSERT_NE(hid->GetSerialNumberString(left, serial), 0);
  const std::array<std::uint8_t, 16> turned_to{'2', 0,   '4', 0,   '-', 0,   '0',
                                               0,   '0', 0,   '1', 0,   '7', 0};
  EXPECT_EQ(serial, turned_to) << "24-0017, the one the window turns to, is the one that stays";
}

}  // namespace
}  // namespace tensivo::sim
