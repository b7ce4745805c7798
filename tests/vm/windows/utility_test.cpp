// The window's logic on the Windows backend, on the headless front-end,
// against a USB device in the guest's kernel through wine's hid.dll.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/discovery.h"
#include "device/protocol.h"
#include "platform/windows_hid.h"
#include "remote_device.h"
#include "window/frm_main.h"
#include "window/headless/headless_form.h"
#include "window/layout.h"

namespace tensivo::vm::windows {
namespace {

using device::LoadCell;

constexpr int kLc1Position = 3 * 256 + 17;

// The utility as a user starts it, once wine lists a device of ours.
struct Utility {
  Utility() {
    EXPECT_TRUE(WaitUntil(
        [&] {
          device::WindowState state;
          return !device::Scan_USB_devices(hid, state).empty();
        },
        kWineSeesItMs))
        << "wine never listed the device";
    window.Form_Load();
  }
  ~Utility() { form.Close(); }

  // The timer's ticks, at its connected pace, until `done` holds.
  bool TickUntil(const std::function<bool()>& done, int timeout_ms) {
    return WaitUntil(
               [&] {
                 window.Timer_Timer();
                 return done();
               },
               timeout_ms)
        .has_value();
  }

  bool BarsMoved() const {
    return std::ranges::any_of(window.Bars(), [](const window::ui::Shape* bar) {
      return bar->Width() != window::kEmptyBarWidth;
    });
  }

  platform::WindowsHid hid;
  window::headless::HeadlessForm form;
  window::frmMain window{hid, form};
};

TEST(WineKernelUtility, TheWindowShowsTheDeviceWithItsStoredGainsAndAGainPickLandsInIt) {
  auto dev = RemoteDevice::Plug("WV-WINDOW");
  ASSERT_TRUE(dev);
  ASSERT_TRUE(dev->StoreGain(LoadCell::kLC1, kLc1Position));
  ASSERT_TRUE(dev->StoreGain(LoadCell::kLC3, 0));
  Utility utility;
  window::frmMain& w = utility.window;

  ASSERT_EQ(w.state().DeviceFound, device::kTrue);
  EXPECT_EQ(w.SerNo.ListCount(), 1);
  EXPECT_EQ(w.SerNo.Text(), "WV-WINDOW");
  EXPECT_EQ(w.lblManuf.Caption(), " " + std::string(kWineMaker));
  EXPECT_EQ(w.lblProduct.Caption(), " " + std::string(kWineProduct));
  EXPECT_EQ(w.lblVersion.Caption(), " 1.1");
  const std::array<window::ui::List*, 3> gains = {&w.LC1_gain, &w.LC2_gain, &w.LC3_gain};
  const std::array<int, 3> shown = {gains[0]->ListIndex(), gains[1]->ListIndex(),
                                    gains[2]->ListIndex()};
  EXPECT_EQ(shown, (std::array<int, 3>{kLc1Position, device::kFactoryGainPosition, 0}));
  for (window::ui::List* list : gains) EXPECT_TRUE(list->Enabled()) << list->Name();
  EXPECT_TRUE(w.Command1.Enabled());

  const auto before = dev->ReadRegisters();
  const auto sets_before = dev->FeatureSets();
  ASSERT_TRUE(before && sets_before);
  EXPECT_EQ(*sets_before, 0) << "start-up wrote to the device";
  constexpr int kPick = 1000;
  utility.form.list(w.LC2_gain.Name()).UserPick(kPick);
  EXPECT_EQ(dev->FeatureSets(), *sets_before + 3);
  EXPECT_EQ(dev->ReadRegisters(), WithGain(*before, LoadCell::kLC2, kPick));

  EXPECT_TRUE(utility.TickUntil([&] { return utility.BarsMoved(); }, 5000))
      << "the bars never showed the device's inputs";
}

TEST(WineKernelUtility, UnplugBlanksTheWindowAndReplugShowsTheDeviceAgain) {
  auto dev = RemoteDevice::Plug("WV-REPLUG");
  ASSERT_TRUE(dev);
  Utility utility;
  window::frmMain& w = utility.window;
  ASSERT_EQ(w.state().DeviceFound, device::kTrue);

  ASSERT_TRUE(dev->Unplug());
  const auto blank = [&] {
    return w.state().DeviceFound == device::kFalse && w.SerNo.ListCount() == 0;
  };
  EXPECT_TRUE(utility.TickUntil(blank, kWineSeesItMs)) << "the window still shows the device";
  EXPECT_EQ(w.lblProduct.Caption(), "");
  EXPECT_FALSE(w.LC1_gain.Enabled());

  ASSERT_TRUE(dev->Replug());
  EXPECT_TRUE(
      utility.TickUntil([&] { return w.state().DeviceFound == device::kTrue; }, kWineSeesItMs))
      << "the window never found the device again";
  EXPECT_EQ(w.SerNo.Text(), "WV-REPLUG");
  EXPECT_EQ(w.lblVersion.Caption(), " 1.1");
  EXPECT_TRUE(w.LC1_gain.Enabled());
  EXPECT_EQ(dev->FeatureSets(), 0) << "a read-back wrote to the device";
}

}  // namespace
}  // namespace tensivo::vm::windows
