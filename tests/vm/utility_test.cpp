// The whole utility, its window offscreen, on the hidapi backend and a device
// in the kernel.
#include <QEventLoop>
#include <QTimer>

#include "device/input_report.h"
#include "device/protocol.h"
#include "kernel_world.h"
#include "platform/linux_hidraw.h"
#include "window/frm_main.h"
#include "window/qt/qt_form.h"

namespace tensivo::vm {
namespace {

using window::frmMain;

// The utility as a user starts it: the Qt window on the real backend.
struct Utility {
  explicit Utility(platform::HidPlatform& hid) : window(hid, form) { window.Form_Load(); }
  window::qt::QtForm form;
  frmMain window;
};

void RunEvents(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool RunUntil(const std::function<bool()>& done, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    RunEvents(5);
  }
  return true;
}

// The newest report the device sent, from `since` on, that the eight bars
// show exactly (inputs the mask leaves out keep their empty bar).
std::optional<std::uint64_t> ShownReport(const frmMain& window, const UhidDevice& device,
                                         std::uint64_t since = 0) {
  const auto bars = window.Bars();
  const double full_scale = device::FullScale(window.LC1_frame.Width());
  const std::uint8_t mask = device.profile().input_mask;
  const auto sent = device.SentInputs();
  for (auto it = sent.rbegin(); it != sent.rend() && it->sequence >= since; ++it) {
    const auto values = sim::DeviceModel().InputValues(static_cast<double>(it->sequence) / 1000);
    bool all = true;
    for (std::size_t i = 0; i < bars.size() && all; ++i) {
      const bool absent = i >= 3 && (mask & (0x08u << (i - 3)));
      const double expected =
          absent ? bars[i]->Width() : device::RoundHalfEven(full_scale * values[i] / 65535);
      all = bars[i]->Width() == expected;
    }
    if (all) return it->sequence;
  }
  return std::nullopt;
}

TEST(KernelUtility, StartUpShowsTheDeviceAndItsStoredGainsWithTheListsLockedForVersionZero) {
  DeviceSpec profile = OurDevice("UT-0001");
  profile.input_mask = 0x28;
  auto dev = PlugIn(profile);
  ASSERT_TRUE(dev);
  constexpr int kLc1Position = 3 * 256 + 17;
  dev->device->WithModel([](sim::DeviceModel& model) {
    const auto lc1 = device::EncodeGain(kLc1Position);
    const auto lc3 = device::EncodeGain(0);
    auto& r = model.registers();
    r[0] = lc1.amplifier, r[1] = lc1.shift, r[6] = lc1.fine;
    r[4] = lc3.amplifier, r[5] = lc3.shift, r[8] = lc3.fine;
  });
  platform::LinuxHidraw hid;
  Utility utility(hid);
  frmMain& window = utility.window;

  EXPECT_EQ(window.state().DeviceFound, device::kTrue);
  ASSERT_EQ(window.SerNo.ListCount(), 1);
  EXPECT_EQ(window.SerNo.Text(), "UT-0001");
  EXPECT_EQ(window.lblProduct.Caption(), " Tensivo Load Cell Interface");
  EXPECT_EQ(window.LC1_gain.ListIndex(), kLc1Position);
  EXPECT_EQ(window.LC2_gain.ListIndex(), device::kFactoryGainPosition);
  EXPECT_EQ(window.LC3_gain.ListIndex(), 0);
  // hidapi shows version 0 for a device without a USB parent: no configuring.
  EXPECT_FALSE(window.LC1_gain.Enabled());
  EXPECT_FALSE(window.LC2_gain.Enabled());
  EXPECT_FALSE(window.LC3_gain.Enabled());
  EXPECT_FALSE(window.Command1.Enabled());
  EXPECT_TRUE(window.Ch_label(5).Enabled());
  EXPECT_FALSE(window.Ch_label(6).Enabled());

  RunEvents(200);
  EXPECT_TRUE(dev->device->activity().feature_sets.empty()) << "start-up wrote to the device";
  utility.form.close();
  EXPECT_TRUE(WaitUntil([&] { return !dev->device->activity().open; }, 2000))
      << "closing the window releases the device";
}

TEST(KernelUtility, BarsFollowTheDeviceInputs) {
  DeviceSpec profile = OurDevice("UT-BARS");
  profile.input_mask = 0x80;
  auto dev = PlugIn(profile);
  ASSERT_TRUE(dev);
  platform::LinuxHidraw hid;
  Utility utility(hid);
  frmMain& window = utility.window;

  std::optional<std::uint64_t> first;
  EXPECT_TRUE(RunUntil([&] { return (first = ShownReport(window, *dev->device)).has_value(); }, 3000))
      << "the bars never showed a report the device sent";
  EXPECT_EQ(window.Timer.Interval(), 20);
  ASSERT_TRUE(first);
  const double lc1 = window.LC1_bar.Width();
  EXPECT_NE(lc1, 15.0);

  std::optional<std::uint64_t> later;
  EXPECT_TRUE(RunUntil(
      [&] { return (later = ShownReport(window, *dev->device, *first + 300)).has_value(); }, 3000))
      << "the bars stopped following the device";
  EXPECT_NE(window.LC1_bar.Width(), lc1);
}

TEST(KernelUtility, UnplugBlanksTheWindowAndReplugReconnects) {
  auto dev = PlugIn(OurDevice("UT-PLUG"));
  ASSERT_TRUE(dev);
  platform::LinuxHidraw hid;
  Utility utility(hid);
  frmMain& window = utility.window;
  ASSERT_TRUE(RunUntil([&] { return ShownReport(window, *dev->device).has_value(); }, 3000));

  ASSERT_EQ(dev->device->Unplug(), 0);
  EXPECT_TRUE(RunUntil([&] { return window.state().DeviceFound == device::kFalse; }, 2000));
  EXPECT_TRUE(window.lblProduct.Caption().empty());
  EXPECT_EQ(window.SerNo.ListCount(), 0);
  EXPECT_EQ(window.Timer.Interval(), 100);

  const std::uint64_t before = dev->device->inputs_sent();
  ASSERT_EQ(dev->device->Plug(), 0);
  EXPECT_TRUE(RunUntil([&] { return window.state().DeviceFound == device::kTrue; }, 3000));
  EXPECT_EQ(window.SerNo.Text(), "UT-PLUG");
  EXPECT_EQ(window.lblProduct.Caption(), " Tensivo Load Cell Interface");
  EXPECT_TRUE(RunUntil([&] { return ShownReport(window, *dev->device, before).has_value(); }, 3000))
      << "the bars do not follow the replugged device";
}

}  // namespace
}  // namespace tensivo::vm
