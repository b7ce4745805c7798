// Start-up, switching devices and shutdown, as a user lives them.
#include "window_world.h"

namespace tensivo::window::testing {
namespace {

using device::kFalse;
using device::kTrue;

using NoDevice = WindowWorld;
using OneDevice = WindowWorld;
using ThreeDevices = WindowWorld;

TEST_F(NoDevice, StartsEmptyAndSearchesSilentlyEveryTick) {
  hid.AddForeign(0x046D, 0xC077);
  Start();
  EXPECT_TRUE(ui->form().Visible());
  EXPECT_EQ(w->SerNo.ListCount(), 0);
  EXPECT_FALSE(w->SerNo.Enabled());
  EXPECT_TRUE(w->lblManuf.Caption().empty());
  EXPECT_TRUE(w->lblProduct.Caption().empty());
  EXPECT_TRUE(w->lblVersion.Caption().empty());
  for (ui::List* list : {&w->LC1_gain, &w->LC2_gain, &w->LC3_gain}) {
    EXPECT_EQ(list->ListCount(), 0);
    EXPECT_FALSE(list->Enabled());
  }
  EXPECT_FALSE(w->Command1.Enabled());
  EXPECT_FALSE(w->Frame1.Enabled());
  EXPECT_TRUE(w->Timer.Enabled());
  EXPECT_EQ(w->Timer.Interval(), 50);
  EXPECT_EQ(state().DeviceFound, kFalse);

  const int searches = Calls(SimulatedHid::Op::kEnumerate);
  for (int i = 0; i < 3; ++i) Tick();
  // Each tick scans and then looks for the selected serial.
  EXPECT_EQ(Calls(SimulatedHid::Op::kEnumerate), searches + 6);
  EXPECT_EQ(Calls(SimulatedHid::Op::kOpen), 0);
  EXPECT_EQ(w->Timer.Interval(), 50);
}

// The empty list is all that tells a searching window from a broken one, to
// the eye and to a screen reader alike.
TEST_F(NoDevice, EmptySerialListSaysItSearchesAndWhyADeviceCannotBeOpened) {
  Start();
  // Where a screen reader cannot be asked (wine), what the window handed
  // the front-end to tell it.
  const auto told = [&] {
    const ui::Placeholder shown = w->SerNo.GetPlaceholder();
    return std::string(shown.text) + " | " +
           ui->Described(w->SerNo).value_or(std::string(shown.hint));
  };
  EXPECT_EQ(told(),
            "looking\u2026 | No device found yet; the window keeps looking. tensivo-cli "
            "list says more.");

  const auto id = Add(u"LOCKED");
  hid.RefuseOpens(id, platform::OpenError::kPermissionDenied);
  Tick();
  EXPECT_EQ(told(),
            "denied | A device is attached that you may not open: tensivo-cli list "
            "says why.");
  hid.RefuseOpens(id, platform::OpenError::kBusy);
  Tick();
  EXPECT_EQ(told(),
            "in use | A device is attached that another program holds: tensivo-cli list "
            "says more.");

  hid.RefuseOpens(id, platform::OpenError::kNone);
  Tick();
  EXPECT_EQ(Serials(), Texts{"LOCKED"});
  EXPECT_EQ(told(), " | ") << "a listed device leaves nothing to say";
  hid.Detach(id);
  Tick();
  EXPECT_EQ(told(),
            "looking\u2026 | No device found yet; the window keeps looking. tensivo-cli "
            "list says more.");
}

TEST_F(NoDevice, DevicePluggedInLaterIsShownOnTheNextTickAndPolledAt20ms) {
  Start();
  const auto id = Add(u"LATE");
  Tick();
  EXPECT_EQ(Serials(), Texts{"LATE"});
  EXPECT_EQ(state().DeviceFound, kTrue);
  EXPECT_EQ(w->lblManuf.Caption(), " Tensivo");
  EXPECT_EQ(w->Timer.Interval(), 50) << "the period changes only with the first read";

  Push(id, {65535, 0, 0, 0, 0, 0, 0, 0});
  Tick();
  EXPECT_EQ(w->Timer.Interval(), 20);
  EXPECT_EQ(w->LC1_bar.Width(), 4611);
}

TEST_F(OneDevice, IsListedSelectedAndOpenedButTheListStaysDisabled) {
  const auto id = Add(u"SOLO", 0x0105);
  Start();
  EXPECT_EQ(Serials(), Texts{"SOLO"});
  EXPECT_EQ(w->SerNo.ListIndex(), 0);
  EXPECT_FALSE(w->SerNo.Enabled());
  EXPECT_EQ(state().DeviceFound, kTrue);
  EXPECT_EQ(hid.open_handles(id), 2);
  EXPECT_EQ(w->lblVersion.Caption(), " 1.5");
  EXPECT_EQ(w->lblProduct.Caption(), " Load Cell Interface");
  EXPECT_EQ(state().FormReady, kTrue);
  EXPECT_EQ(state().DetailsValid, kTrue);
  EXPECT_TRUE(w->Timer.Enabled());
  EXPECT_TRUE(hid.write_log().empty());
}

TEST_F(ThreeDevices, LastIsOpenedAndPickingAnotherSwitchesToIt) {
  const auto a = Add(u"A");
  Add(u"B");
  const auto c = Add(u"C");
  hid.model(a).registers()[6] = 0;  // LC1 of A at gain 256
  Start();
  EXPECT_EQ(Serials(), (Texts{"A", "B", "C"}));
  EXPECT_TRUE(w->SerNo.Enabled());
  EXPECT_EQ(w->SerNo.Text(), "C");
  EXPECT_EQ(hid.open_handles(c), 2);
  EXPECT_EQ(hid.counters(a).opens, 2) << "each search opens only our own interfaces";

  Pick(w->SerNo, 0);
  EXPECT_EQ(hid.open_handles(c), 0);
  EXPECT_EQ(hid.open_handles(a), 2);
  EXPECT_EQ(hid.open_handles(), 2);
  EXPECT_EQ(state().DeviceFound, kTrue);
  EXPECT_EQ(state().ReconnectPending, kFalse);
  EXPECT_EQ(w->LC1_gain.ListIndex(), 2048);
  EXPECT_TRUE(w->Timer.Enabled());
  EXPECT_EQ(w->Timer.Interval(), 100);
  EXPECT_EQ(hid.events_created(), 1);
  EXPECT_EQ(Serials(), (Texts{"A", "B", "C"})) << "a switch does not scan again";
  EXPECT_TRUE(hid.write_log().empty());
}

TEST_F(ThreeDevices, PickingTheOpenSerialAgainReopensAndRereadsIt) {
  Add(u"A");
  const auto b = Add(u"B");
  Start();
  const int opens = hid.counters(b).opens;
  const int reads = Calls(SimulatedHid::Op::kGetFeature);
  Pick(w->SerNo, 1);
  EXPECT_EQ(hid.counters(b).opens, opens + 2) << "the probe kept as DeviceHandle, then ReadHandle";
  EXPECT_EQ(hid.open_handles(b), 2);
  EXPECT_EQ(Calls(SimulatedHid::Op::kGetFeature), reads + 5);
}

TEST_F(ThreeDevices, ScanningItsOwnListNeverStartsASwitch) {
  Add(u"A");
  Add(u"B");
  Add(u"C");
  Start();
  // The scan selected A, B and C in turn; had any of those started a switch,
  // more than one device would have been found and opened.
  EXPECT_EQ(Calls(SimulatedHid::Op::kCreateEvent), 1);
  EXPECT_EQ(hid.open_handles(), 2);
  EXPECT_EQ(Calls(SimulatedHid::Op::kGetFeature), 5);
}

TEST_F(ThreeDevices, PickingADeviceUnpluggedMeanwhileBlanksThenFindsTheLastListed) {
  const auto a = Add(u"A");
  const auto b = Add(u"B");
  Start();
  hid.Detach(a);
  Pick(w->SerNo, 0);
  EXPECT_EQ(state().DeviceFound, kFalse);
  EXPECT_EQ(state().ReconnectPending, kTrue);
  EXPECT_EQ(hid.open_handles(), 0);
  EXPECT_TRUE(w->lblManuf.Caption().empty());
  EXPECT_EQ(w->LC1_gain.ListCount(), 0);
  EXPECT_TRUE(w->Timer.Enabled());

  Tick();
  EXPECT_EQ(Serials(), Texts{"B"});
  EXPECT_EQ(state().DeviceFound, kTrue);
  EXPECT_EQ(state().ReconnectPending, kFalse);
  EXPECT_EQ(hid.open_handles(b), 2);
}

TEST_F(OneDevice, ClosingTheWindowClosesBothHandlesOnce) {
  const auto id = Add(u"SOLO");
  Start();
  ASSERT_EQ(hid.open_handles(id), 2);
  ui->form().Close();
  EXPECT_TRUE(w->unloaded());
  EXPECT_FALSE(w->Timer.Enabled());
  EXPECT_EQ(state().FormReady, kFalse);
  EXPECT_EQ(hid.open_handles(), 0);
  EXPECT_EQ(hid.counters(id).opens, hid.counters(id).closes);
  w.reset();
  EXPECT_EQ(hid.counters(id).opens, hid.counters(id).closes) << "no second close";
}

TEST_F(NoDevice, ClosingTheWindowWithNoDeviceEverOpenedClosesNothing) {
  Start();
  Tick();
  ui->form().Close();
  EXPECT_EQ(Calls(SimulatedHid::Op::kClose), 0);
  EXPECT_EQ(Calls(SimulatedHid::Op::kOpen), 0);
}

}  // namespace
}  // namespace tensivo::window::testing
