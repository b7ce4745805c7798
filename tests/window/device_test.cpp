// The window with a device: what it shows, how the bars follow the inputs,
// what a pick or the factory button sends, and what happens when the device
// goes away or events arrive in the middle of a tick.
#include "window_world.h"

namespace tensivo::window::testing {
namespace {

using device::kFalse;
using device::kTrue;

constexpr double kEmpty = 15;
constexpr double kFull = 4611;

class ConnectedDevice : public WindowWorld {
 protected:
  void StartWith(std::uint16_t version = 0x0101, std::uint8_t mask = 0x08) {
    id = Add(u"DEV-1", version, mask);
    Start();
    ASSERT_EQ(state().DeviceFound, kTrue);
  }

  SimulatedHid::DeviceId id = 0;
};

TEST_F(ConnectedDevice, ShowsStoredGainsAndTheControlsItsVersionAllows) {
  id = Add(u"DEV-1");
  auto& regs = hid.model(id).registers();
  regs[0] = 7, regs[1] = 1, regs[6] = 244;  // LC1: code 7 without bit 3, still 500
  regs[2] = 0, regs[3] = 0, regs[7] = 0;    // LC2: gain 1
  regs[4] = 2, regs[5] = 0, regs[8] = 9;    // LC3: no coarse step, stays at 1
  Start();
  EXPECT_EQ(w->LC1_gain.ListIndex(), 2292);
  EXPECT_EQ(w->LC1_gain.Text(), "500");
  EXPECT_EQ(w->LC2_gain.ListIndex(), 0);
  EXPECT_EQ(w->LC2_gain.Text(), "1");
  EXPECT_EQ(w->LC3_gain.ListIndex(), 0);
  for (ui::List* list : {&w->LC1_gain, &w->LC2_gain, &w->LC3_gain}) {
    EXPECT_EQ(list->ListCount(), 2560);
    EXPECT_EQ(list->ItemText(1025), "16.062");
    EXPECT_TRUE(list->Enabled());
  }
  for (ui::Control* c :
       std::initializer_list<ui::Control*>{&w->Frame2, &w->Command1, &w->Label6, &w->Label7,
                                           &w->Label8, &w->Label9, &w->Label10, &w->Label11}) {
    EXPECT_TRUE(c->Enabled()) << c->Name();
  }
  EXPECT_EQ(w->lblVersion.Caption(), " 1.1");
  EXPECT_TRUE(hid.write_log().empty()) << "a read-back is never written back";
}

TEST_F(ConnectedDevice, VersionX0ShowsGainsButAllowsNoChange) {
  StartWith(0x0100);
  EXPECT_EQ(w->lblVersion.Caption(), " 1.0");
  EXPECT_EQ(w->LC2_gain.ListCount(), 2560);
  EXPECT_EQ(w->LC2_gain.ListIndex(), 2292);
  for (ui::Control* c : std::initializer_list<ui::Control*>{
           &w->LC1_gain, &w->LC2_gain, &w->LC3_gain, &w->Frame2, &w->Command1, &w->Label6}) {
    EXPECT_FALSE(c->Enabled()) << c->Name();
  }
  EXPECT_TRUE(w->Frame1.Enabled());
}

TEST_F(ConnectedDevice, ShortFeatureReportsShowDetailsButNoGainsAndWriteNothing) {
  id = Add(u"DEV-1");
  hid.traits(id).feature_length = 14;
  Start();
  ASSERT_EQ(state().DeviceFound, kTrue);
  EXPECT_EQ(w->lblManuf.Caption(), " Tensivo");
  EXPECT_EQ(w->lblVersion.Caption(), " 1.1");
  EXPECT_TRUE(w->Frame1.Enabled());
  for (ui::List* list : {&w->LC1_gain, &w->LC2_gain, &w->LC3_gain}) {
    EXPECT_EQ(list->ListCount(), 0) << list->Name();
    EXPECT_EQ(list->ListIndex(), -1) << list->Name();
    EXPECT_FALSE(list->Enabled()) << list->Name();
  }
  EXPECT_FALSE(w->Command1.Enabled());
  Tick();
  EXPECT_TRUE(hid.write_log().empty());
}

TEST_F(ConnectedDevice, OnlyTheLowByteOfTheVersionGatesConfiguration) {
  StartWith(0x8001);
  EXPECT_EQ(w->lblVersion.Caption(), " 128.1");
  EXPECT_TRUE(w->LC1_gain.Enabled());
}

TEST_F(ConnectedDevice, UnreadableManufacturerLeavesConfigurationDisabled) {
  id = Add(u"DEV-1");
  hid.FailAlways(SimulatedHid::Op::kGetManufacturer, id);
  hid.traits(id).product = u"P";
  Start();
  EXPECT_TRUE(w->lblManuf.Caption().empty());
  EXPECT_TRUE(w->lblVersion.Caption().empty());
  EXPECT_EQ(w->lblProduct.Caption(), " P");
  EXPECT_FALSE(w->Command1.Enabled());
  EXPECT_FALSE(w->LC1_gain.Enabled());
}

TEST_F(ConnectedDevice, ProductShorterThanManufacturerShowsNoRemnant) {
  id = Add(u"DEV-1");
  hid.traits(id).manufacturer = std::u16string(50, u'M');  // fills all 100 bytes
  hid.traits(id).product = u"\u0141B";
  Start();
  EXPECT_EQ(w->lblManuf.Caption(), " " + std::string(50, 'M'));
  EXPECT_EQ(w->lblProduct.Caption(), " AB");
}

TEST_F(ConnectedDevice, InputMaskDecidesThePotentiometerFrameAndLabels) {
  struct Case {
    std::uint8_t mask;
    bool frame;
    std::array<bool, 5> labels;
  };
  const Case cases[] = {
      {0x00, false, {false, false, false, false, false}},
      {0x08, true, {false, true, true, true, true}},
      {0x28, true, {false, true, false, true, true}},
      {0xF8, true, {false, false, false, false, false}},
      {0x07, false, {false, false, false, false, false}},
  };
  id = Add(u"DEV-1");
  Start();
  for (const Case& c : cases) {
    hid.model(id).set_input_mask(c.mask);
    w->SerNo.SetListIndex(0);  // reopen and read back
    EXPECT_EQ(state().InputMask, c.mask);
    EXPECT_EQ(w->Frame4.Enabled(), c.frame) << int(c.mask);
    for (int n = 4; n <= 8; ++n) {
      EXPECT_EQ(w->Ch_label(n).Enabled(), c.labels[n - 4]) << int(c.mask) << " input " << n;
    }
  }
}

TEST_F(ConnectedDevice, BarsFollowTheNewestReportOfEachRead) {
  StartWith(0x0101, 0x28);
  Push(id, {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535});
  Push(id, {0, 32768, 65535, 9999, 13107, 9999, 26214, 39321});
  Tick();
  EXPECT_EQ(BarWidths(), (std::vector<double>{0, 2306, kFull, kEmpty, 922, kEmpty, 1844, 2767}));
  EXPECT_EQ(w->Timer.Interval(), 20);
}

TEST_F(ConnectedDevice, AllInputsMaskedMovesOnlyTheLoadCells) {
  StartWith(0x0101, 0xF8);
  Push(id, {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535});
  Tick();
  EXPECT_EQ(BarWidths(),
            (std::vector<double>{kFull, kFull, kFull, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}));
}

TEST_F(ConnectedDevice, ShortReadShowsNothingAndKeepsTheDevice) {
  StartWith();
  hid.PushInput(id, Bytes{0, 0xFF, 0xFF, 0xFF});
  Tick();
  EXPECT_EQ(BarWidths(), std::vector<double>(8, kEmpty));
  EXPECT_EQ(state().DeviceFound, kTrue);
  EXPECT_EQ(w->Timer.Interval(), 20);
}

TEST_F(ConnectedDevice, EmptyQueueDropsTheDeviceAndSearchesInTheSameTick) {
  StartWith();
  Push(id, {65535, 0, 0, 0, 0, 0, 0, 0});
  Tick();
  ASSERT_EQ(w->Timer.Interval(), 20);
  hid.ClearLogs();
  Tick();  // nothing queued: the read does not complete within the call
  EXPECT_EQ(w->Timer.Interval(), 100);
  // Dropped, then found again by the search of the same tick.
  ASSERT_GE(hid.call_log().size(), 4u);
  EXPECT_EQ(hid.call_log()[0].op, SimulatedHid::Op::kReadInput);
  EXPECT_EQ(hid.call_log()[1].op, SimulatedHid::Op::kClose);
  EXPECT_EQ(hid.call_log()[2].op, SimulatedHid::Op::kClose);
  EXPECT_EQ(hid.call_log()[3].op, SimulatedHid::Op::kEnumerate);
  EXPECT_EQ(state().DeviceFound, kTrue);
}

TEST_F(ConnectedDevice, UnplugSearchesEvery100msAndReplugReconnects) {
  StartWith();
  Push(id, {65535, 0, 0, 0, 0, 0, 0, 0});
  Tick();
  hid.Detach(id);
  Tick();
  EXPECT_EQ(state().DeviceFound, kFalse);
  EXPECT_EQ(state().DetailsValid, kFalse);
  EXPECT_EQ(hid.open_handles(), 0);
  EXPECT_EQ(w->Timer.Interval(), 100);
  EXPECT_EQ(w->SerNo.ListCount(), 0);
  EXPECT_TRUE(w->lblManuf.Caption().empty());
  EXPECT_EQ(w->LC1_bar.Width(), kEmpty);
  Tick();
  EXPECT_EQ(w->Timer.Interval(), 100);

  hid.Attach(id);
  Tick();
  EXPECT_EQ(state().DeviceFound, kTrue);
  EXPECT_EQ(w->lblManuf.Caption(), " Tensivo");
  EXPECT_EQ(w->Timer.Interval(), 100);
  Push(id, {0, 0, 0, 0, 0, 0, 0, 0});
  Tick();
  EXPECT_EQ(w->Timer.Interval(), 20);
  EXPECT_TRUE(hid.write_log().empty());
}

TEST_F(ConnectedDevice, GainPicksSendExactlyTheirThreeRegisters) {
  StartWith();
  Pick(w->LC2_gain, 2292);
  EXPECT_EQ(Written(), (std::vector<Bytes>{Padded({0, 1, 2, 15}), Padded({0, 1, 3, 1}),
                                           Padded({0, 1, 7, 244})}));
  hid.ClearLogs();
  Pick(w->LC1_gain, 0);
  Pick(w->LC1_gain, 300);
  Pick(w->LC3_gain, 2559);
  EXPECT_EQ(Written(), (std::vector<Bytes>{
                           Padded({0, 1, 0, 8}), Padded({0, 1, 1, 0}), Padded({0, 1, 6, 0}),
                           Padded({0, 1, 0, 8}), Padded({0, 1, 1, 1}), Padded({0, 1, 6, 44}),
                           Padded({0, 1, 4, 15}), Padded({0, 1, 5, 2}), Padded({0, 1, 8, 255})}));
  EXPECT_EQ(w->LC3_gain.ListIndex(), 2559);
  EXPECT_EQ(Calls(SimulatedHid::Op::kGetFeature), 0) << "no read-back after a pick";
}

TEST_F(ConnectedDevice, PicksMadeWhileAGuardIsFalseAreDroppedNotQueued) {
  StartWith();
  w->state().DetailsValid = kFalse;
  Pick(w->LC1_gain, 100);
  w->state().DetailsValid = kTrue;
  w->state().FormReady = kFalse;
  Pick(w->LC2_gain, 100);
  w->state().FormReady = kTrue;
  w->state().GainEventsEnabled = kFalse;
  Pick(w->LC3_gain, 100);
  w->state().GainEventsEnabled = kTrue;
  EXPECT_TRUE(hid.write_log().empty());
  Tick();
  EXPECT_TRUE(hid.write_log().empty());
  // A guard that is merely non-zero is not -1: no send.
  w->state().DetailsValid = 1;
  Pick(w->LC1_gain, 5);
  EXPECT_TRUE(hid.write_log().empty());
}

TEST_F(ConnectedDevice, FactoryResetSendsTwelveReportsRereadsAndLeavesTheTimerRunning) {
  id = Add(u"DEV-1");
  auto& regs = hid.model(id).registers();
  regs[0] = 8, regs[1] = 0, regs[6] = 3;
  Start();
  ASSERT_EQ(w->LC1_gain.ListIndex(), 3);
  w->Timer.SetEnabled(false);
  hid.ClearLogs();
  Press(w->Command1);

  std::vector<SimulatedHid::Op> ops;
  for (const auto& call : hid.call_log()) ops.push_back(call.op);
  ASSERT_GE(ops.size(), 12u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(ops[i], SimulatedHid::Op::kSetFeature) << i;
  EXPECT_EQ(Calls(SimulatedHid::Op::kSetFeature), 12);
  EXPECT_EQ(Calls(SimulatedHid::Op::kGetFeature), 5);
  for (ui::List* list : {&w->LC1_gain, &w->LC2_gain, &w->LC3_gain}) {
    EXPECT_EQ(list->ListIndex(), 2292);
  }
  EXPECT_TRUE(w->Timer.Enabled());
  EXPECT_EQ(state().DetailsValid, kTrue);
}

TEST_F(ConnectedDevice, FactoryResetOnAVanishedDeviceShowsTheEmptyWindow) {
  StartWith();
  hid.Detach(id);
  Press(w->Command1);
  EXPECT_TRUE(hid.write_log().empty());
  EXPECT_EQ(w->LC1_gain.ListCount(), 2560)
      << "the device is still taken as open until a read fails";
  EXPECT_TRUE(w->lblManuf.Caption().empty());
  EXPECT_FALSE(w->Command1.Enabled());
  EXPECT_TRUE(w->Timer.Enabled());
  Tick();
  EXPECT_EQ(state().DeviceFound, kFalse);
}

TEST_F(ConnectedDevice, NothingIsWrittenByAnyReadBack) {
  const auto other = Add(u"DEV-0");
  StartWith();  // two devices, DEV-1 last and open
  Push(id, {1, 2, 3, 4, 5, 6, 7, 8});
  Tick();
  Pick(w->SerNo, 0);  // switch
  hid.Detach(other);
  Tick();  // drop and reconnect to DEV-1
  ASSERT_EQ(state().DeviceFound, kTrue);
  EXPECT_TRUE(hid.write_log().empty());
  Press(w->Command1);
  EXPECT_EQ(hid.write_log().size(), 12u);
  for (const auto& entry : hid.write_log()) EXPECT_EQ(entry.device, id);
}

// --- events that arrive while a tick pumps the window's events ---

TEST_F(ConnectedDevice, SerialPickDuringThePumpSwitchesAndTheTickGoesOn) {
  const auto first = Add(u"DEV-0");
  StartWith();
  Push(id, {65535, 0, 0, 0, 0, 0, 0, 0});
  DuringNextPump([&] { Pick(w->SerNo, 0); });
  Tick();
  EXPECT_EQ(hid.open_handles(first), 2);
  EXPECT_EQ(hid.open_handles(id), 0);
  EXPECT_EQ(state().DeviceFound, kTrue);
  EXPECT_EQ(w->Timer.Interval(), 20) << "the switch left a good result; no drop";
  EXPECT_EQ(w->LC1_bar.Width(), kEmpty) << "the switch's read-back reset the bars";
}

TEST_F(ConnectedDevice, PickOfAnUnpluggedSerialDuringThePumpDropsAndSearches) {
  const auto gone = Add(u"DEV-0");
  StartWith();
  hid.Detach(gone);
  Push(id, {65535, 0, 0, 0, 0, 0, 0, 0});
  DuringNextPump([&] { Pick(w->SerNo, 0); });
  Tick();
  // The switch found nothing; the tick took the drop path and searched.
  EXPECT_EQ(state().DeviceFound, kTrue);
  EXPECT_EQ(state().ReconnectPending, kFalse);
  EXPECT_EQ(Serials(), Texts{"DEV-1"});
  EXPECT_EQ(hid.open_handles(id), 2);
  EXPECT_EQ(w->Timer.Interval(), 100);
}

TEST_F(ConnectedDevice, GainPickAndFactoryResetDuringThePumpRunInsideTheTick) {
  StartWith();
  Push(id, {65535, 0, 0, 0, 0, 0, 0, 0});
  DuringNextPump([&] { Pick(w->LC3_gain, 0); });
  Tick();
  EXPECT_EQ(Written().size(), 3u);
  EXPECT_EQ(w->Timer.Interval(), 20);

  Push(id, {65535, 0, 0, 0, 0, 0, 0, 0});
  DuringNextPump([&] { Press(w->Command1); });
  Tick();
  EXPECT_EQ(Written().size(), 15u);
  EXPECT_EQ(w->LC3_gain.ListIndex(), 2292);
  EXPECT_TRUE(w->Timer.Enabled());
  EXPECT_EQ(state().DeviceFound, kTrue);
}

TEST_F(ConnectedDevice, WindowClosedDuringThePumpEndsTheTick) {
  StartWith();
  Push(id, {65535, 0, 0, 0, 0, 0, 0, 0});
  // Failing closes leave 0 behind, which would send the rest of the tick
  // down the drop path and into a search.
  hid.FailAlways(SimulatedHid::Op::kClose, id);
  hid.ClearLogs();
  DuringNextPump([&] { ui->form().Close(); });
  Tick();
  EXPECT_TRUE(w->unloaded());
  EXPECT_EQ(hid.open_handles(), 0);
  EXPECT_EQ(Calls(SimulatedHid::Op::kEnumerate), 0) << "no search after the window closed";
  EXPECT_EQ(Calls(SimulatedHid::Op::kOpen), 0);
}

TEST_F(ConnectedDevice, ATickDeliveredInsideThePumpStartsNoSecondPoll) {
  StartWith();
  Push(id, {65535, 0, 0, 0, 0, 0, 0, 0});
  hid.ClearLogs();
  DuringNextPump([&] { w->Timer_Timer(); });
  Tick();
  EXPECT_EQ(Calls(SimulatedHid::Op::kReadInput), 1);
  EXPECT_EQ(state().DeviceFound, kTrue);
}

}  // namespace
}  // namespace tensivo::window::testing
