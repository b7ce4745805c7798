// Where the keyboard focus goes and what the mouse wheel may turn, on every
// front-end: the focus is always on something the user can use, and a wheel
// never changes a gain the user has not picked.
#include "window_world.h"

namespace tensivo::window::testing {
namespace {

using sim::SimulatedHid;

class FocusAndWheel : public WindowWorld {
 protected:
  // Only the scenario's own ticks: pumping must not let the window's timer
  // poll a device that has no report for it.
  void StartStill() {
    Start();
    w->Timer.SetEnabled(false);
  }
};

struct FocusCase {
  int devices;
  const char* focused;
};

void PrintTo(const FocusCase& c, std::ostream* out) { *out << c.devices << "_devices"; }

class FirstEnabled : public FocusAndWheel, public ::testing::WithParamInterface<FocusCase> {};

// One device leaves the serial list disabled; two enable it.
TEST_P(FirstEnabled, HasTheFocusWhenShownAndAgainAfterASearchTookItAway) {
  std::vector<SimulatedHid::DeviceId> ids;
  for (int i = 1; i <= GetParam().devices; ++i) {
    ids.push_back(Add(u"DEV-" + std::u16string(1, static_cast<char16_t>(u'0' + i))));
  }
  StartStill();
  EXPECT_EQ(ui->Focused(), GetParam().focused);

  ui->Focus(w->Command1);
  EXPECT_EQ(ui->Focused(), "Command1");
  for (auto id : ids) hid.Detach(id);
  Tick();
  EXPECT_EQ(ui->Focused(), "") << "nothing is enabled while the window searches";
  for (auto id : ids) hid.Attach(id);
  Tick();
  EXPECT_EQ(ui->Focused(), GetParam().focused);
  EXPECT_TRUE(hid.write_log().empty());
}

INSTANTIATE_TEST_SUITE_P(Devices, FirstEnabled,
                         ::testing::Values(FocusCase{1, "LC1_gain"}, FocusCase{2, "SerNo"}));

TEST_F(FocusAndWheel, WheelTurnsOnlyTheListWithTheFocus) {
  Add(u"DEV-1");
  StartStill();
  ui->Focus(w->Command1);
  ASSERT_EQ(ui->Focused(), "Command1");
  ui->Wheel(w->LC1_gain);
  EXPECT_EQ(w->LC1_gain.ListIndex(), 2292);
  EXPECT_TRUE(hid.write_log().empty());

  ui->Focus(w->LC1_gain);
  ASSERT_EQ(ui->Focused(), "LC1_gain");
  ui->Wheel(w->LC1_gain);
  EXPECT_EQ(w->LC1_gain.ListIndex(), 2293) << "the list with the focus takes the wheel";
  EXPECT_EQ(hid.write_log().size(), 3u) << "as one pick";
}

}  // namespace
}  // namespace tensivo::window::testing
