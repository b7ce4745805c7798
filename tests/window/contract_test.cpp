// The control contract the window's logic relies on, held to by each
// front-end: selection events, frames that disable what they hold, exact
// widths, the pump, and 8-bit texts.
#include <gtest/gtest.h>

#include "front_end.h"
#include "window/layout.h"

namespace tensivo::window::testing {
namespace {

class Contract : public ::testing::Test {
 protected:
  std::unique_ptr<FrontEnd> ui = MakeFrontEnd();
  ui::Form& form = ui->form();
  ui::List& gain = form.GetList("LC1_gain");
  int clicks = 0;

  void SetUp() override {
    form.Show();
    gain.Click = [this] { ++clicks; };
  }
  void TearDown() override { form.Close(); }
};

TEST_F(Contract, EverySelectionIsOneEventAlsoOfTheSameEntry) {
  const std::vector<std::string> texts = {"1", "1.0039", "1.0078"};
  gain.Fill(texts);
  EXPECT_EQ(clicks, 0) << "filling selects nothing by itself";
  gain.SetListIndex(2);
  gain.SetListIndex(2);
  EXPECT_EQ(clicks, 2) << "a program's selection raises the event at once, also unchanged";
  ui->Pick(gain, 1);
  ui->Pick(gain, 1);
  EXPECT_EQ(clicks, 4) << "each pick of the user's is one event";
  EXPECT_EQ(gain.ListIndex(), 1);
  EXPECT_EQ(gain.Text(), "1.0039");
}

TEST_F(Contract, ListsFillAppendAndClear) {
  std::vector<std::string> texts;
  for (int i = 0; i < 2560; ++i) texts.push_back(std::to_string(i));
  gain.Fill(texts);
  gain.Fill(texts);
  EXPECT_EQ(gain.ListCount(), 2560) << "a refill replaces, never appends";
  EXPECT_EQ(gain.ItemText(2559), "2559");
  gain.AddItem("extra");
  EXPECT_EQ(gain.ItemText(2560), "extra");
  gain.Clear();
  EXPECT_EQ(gain.ListCount(), 0);
  EXPECT_EQ(gain.ListIndex(), -1);
  EXPECT_EQ(gain.Text(), "");
}

TEST_F(Contract, DisablingAFrameDisablesWhatItHoldsUntilItIsEnabledAgain) {
  ui::Frame& details = form.GetFrame("Frame1");
  ui::List& serials = form.GetList("SerNo");
  ui::Label& version = form.GetLabel("lblVersion");
  version.SetEnabled(false);
  details.SetEnabled(false);
  EXPECT_FALSE(serials.Enabled());
  EXPECT_FALSE(version.Enabled());
  EXPECT_TRUE(gain.Enabled()) << "another frame's controls are not touched";
  details.SetEnabled(true);
  EXPECT_TRUE(serials.Enabled());
  EXPECT_FALSE(version.Enabled()) << "a control keeps its own setting";
}

TEST_F(Contract, ShapeWidthsReadBackExactlyWhatWasSet) {
  ui::Shape& bar = form.GetShape("LC1_bar");
  EXPECT_EQ(bar.Width(), kEmptyBarWidth);
  EXPECT_EQ(form.GetShape("LC1_frame").Width(), 4695);
  for (double width : {0.0, 4611.0, 922.0, 2305.5, 7.0}) {
    bar.SetWidth(width);
    EXPECT_EQ(bar.Width(), width);
  }
}

TEST_F(Contract, TimerStartsStoppedAt50msAndTakesItsSettings) {
  ui::Timer& timer = form.GetTimer();
  EXPECT_FALSE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 50);
  timer.SetInterval(20);
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 20);
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Enabled());
}

TEST_F(Contract, ThePumpHandlesWhatIsPendingAndACloseRunsUnloadOnce) {
  int unloads = 0;
  form.Unload = [&] { ++unloads; };
  ui->Post([&] { ui->Pick(gain, 0); });
  gain.Fill(std::vector<std::string>{"1"});
  EXPECT_EQ(clicks, 0) << "nothing runs before the pump";
  form.DoEvents();
  EXPECT_EQ(clicks, 1);
  ui->Post([&] { form.Close(); });
  form.DoEvents();
  form.Close();
  EXPECT_EQ(unloads, 1);
  EXPECT_FALSE(form.Visible());
}

TEST_F(Contract, DeviceTextsKeepEvery8BitCharacter) {
  const std::string text = " Caf\xE9 \xB5V \xFF";
  ui::Label& maker = form.GetLabel("lblManuf");
  maker.SetCaption(text);
  EXPECT_EQ(maker.Caption(), text);
  ui::List& serials = form.GetList("SerNo");
  serials.AddItem("\xC4-0001");
  serials.SetListIndex(0);
  EXPECT_EQ(serials.Text(), "\xC4-0001") << "a serial is matched on this same text";
}

}  // namespace
}  // namespace tensivo::window::testing
