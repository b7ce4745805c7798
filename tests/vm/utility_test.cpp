// The whole utility, its window offscreen, on the Linux backend and devices in
// the kernel: USB devices behind the USB HID driver, as the hardware is, and
// a uhid device for one without a USB parent.
#include <QComboBox>
#include <QEventLoop>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "device/discovery.h"
#include "device/input_report.h"
#include "device/protocol.h"
#include "kernel_world.h"
#include "platform/linux_hidraw.h"
#include "sim/simulated_hid.h"
#include "window/frm_main.h"
#include "window/qt/qt_form.h"

namespace tensivo::vm {
namespace {

using device::LoadCell;
using window::frmMain;

// --- every touch of the window is here ---------------------------------------

// The utility as a user starts it: the Qt window on the real backend.
struct Utility {
  explicit Utility(platform::HidPlatform& hid) : window(hid, form) { window.Form_Load(); }
  window::qt::QtForm form;
  frmMain window;
};

std::unique_ptr<Utility> StartWindow(platform::HidPlatform& hid) {
  return std::make_unique<Utility>(hid);
}

// Lets the window's timer tick and its events run for a while.
void Tick(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool TickUntil(const std::function<bool()>& done, int timeout_ms) {
  return WaitUntil(done, timeout_ms, [] { Tick(5); });
}

window::ui::List& GainList(Utility& utility, LoadCell cell) {
  frmMain& window = utility.window;
  return cell == LoadCell::kLC1   ? window.LC1_gain
         : cell == LoadCell::kLC2 ? window.LC2_gain
                                  : window.LC3_gain;
}

// A gain picked in the list, as a user picks it.
void PickGain(Utility& utility, LoadCell cell, int position) {
  auto* const list = utility.form.Native<QComboBox>(GainList(utility, cell).Name());
  list->setCurrentIndex(position);
  emit list->activated(position);
}

void PressRestoreFactorySettings(Utility& utility) {
  utility.form.Native<QPushButton>(utility.window.Command1.Name())->click();
}

enum class Label { kManufacturer, kProduct, kVersion };

std::string LabelText(Utility& utility, Label label) {
  frmMain& window = utility.window;
  return (label == Label::kManufacturer ? window.lblManuf
          : label == Label::kProduct    ? window.lblProduct
                                        : window.lblVersion)
      .Caption();
}

// What the window shows, read in one go.
struct Look {
  bool device_open = false;
  std::vector<std::string> serials;
  std::string selected_serial;
  bool serials_enabled = false;
  std::array<int, 3> gains{};  // list positions of LC1..LC3
  std::array<bool, 3> gains_enabled{};
  bool restore_enabled = false;
  std::array<bool, 5> inputs_enabled{};  // labels of inputs 4..8
  std::array<double, device::kBarCount> bars{};
  double full_scale = 0;
  int timer_interval = 0;
};

Look LookAt(Utility& utility) {
  frmMain& window = utility.window;
  Look look;
  look.device_open = window.state().DeviceFound == device::kTrue;
  for (int i = 0; i < window.SerNo.ListCount(); ++i)
    look.serials.push_back(window.SerNo.ItemText(i));
  look.selected_serial = window.SerNo.Text();
  look.serials_enabled = window.SerNo.Enabled();
  for (const LoadCell cell : {LoadCell::kLC1, LoadCell::kLC2, LoadCell::kLC3}) {
    look.gains[static_cast<int>(cell)] = GainList(utility, cell).ListIndex();
    look.gains_enabled[static_cast<int>(cell)] = GainList(utility, cell).Enabled();
  }
  look.restore_enabled = window.Command1.Enabled();
  for (int n = 4; n <= 8; ++n) look.inputs_enabled[n - 4] = window.Ch_label(n).Enabled();
  const auto& bars = window.Bars();
  for (std::size_t i = 0; i < bars.size(); ++i) look.bars[i] = bars[i]->Width();
  look.full_scale = device::FullScale(window.LC1_frame.Width());
  look.timer_interval = window.Timer.Interval();
  return look;
}

bool SaveGrab(Utility& utility, const std::string& path) {
  return utility.form.grab().save(QString::fromStdString(path));
}

void CloseWindow(Utility& utility) { utility.form.Close(); }

// -------------------------------------------------------------------------------

constexpr std::array<std::uint8_t, 8> kSetFeatureReport = {0x21, 0x09, 0x00, 0x03,
                                                           0x00, 0x00, 0x12, 0x00};
constexpr std::array<std::uint8_t, 8> kGetFeatureReport = {0xA1, 0x01, 0x00, 0x03,
                                                           0x00, 0x00, 0x12, 0x00};

bool IsSetReport(const virtual_device::ControlRequest& request) {
  return request.setup == kSetFeatureReport;
}

int CountSetReports(const VirtualDevice& device) {
  const auto requests = device.activity().report_requests;
  return static_cast<int>(std::ranges::count_if(requests, IsSetReport));
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    char two[4];
    std::snprintf(two, sizeof two, text.empty() ? "%02x" : " %02x", b);
    text += two;
  }
  return text;
}

// The report the device received for each host write, as the simulated
// backend logs it without its id byte.
std::vector<Bytes> WritesOnTheSimulatedDevice(
    const std::function<void(platform::HidPlatform&, device::WindowState&)>& act) {
  sim::SimulatedHid hid;
  sim::SimulatedDeviceTraits traits;
  hid.AddDevice(traits);
  device::WindowState state;
  device::Scan_USB_devices(hid, state);
  EXPECT_EQ(device::FindTheHid(hid, state, "SIM-0001"), device::kTrue);
  hid.ClearLogs();
  act(hid, state);
  std::vector<Bytes> writes;
  for (const auto& w : hid.write_log()) writes.emplace_back(w.bytes.begin() + 1, w.bytes.end());
  return writes;
}

// The newest report the device sent, from `since` on, that the eight bars
// show exactly (inputs the mask leaves out keep their empty bar).
std::optional<std::uint64_t> ShownReport(Utility& window, const VirtualDevice& device,
                                         std::uint64_t since = 0) {
  const Look look = LookAt(window);
  const std::uint8_t mask = device.traits().input_mask;
  const auto sent = device.SentInputs();
  for (auto it = sent.rbegin(); it != sent.rend() && it->sequence >= since; ++it) {
    const auto values = sim::DeviceModel().InputValues(StreamTime(device, it->sequence));
    bool all = true;
    for (std::size_t i = 0; i < look.bars.size() && all; ++i) {
      const bool absent = i >= 3 && (mask & (0x08u << (i - 3)));
      const double expected =
          absent ? look.bars[i] : device::RoundHalfEven(look.full_scale * values[i] / 65535);
      all = look.bars[i] == expected;
    }
    if (all) return it->sequence;
  }
  return std::nullopt;
}

constexpr int kLc1Position = 3 * 256 + 17;

void StoreGains(VirtualDevice& device) {
  device.WithModel([](sim::DeviceModel& model) {
    const auto lc1 = device::EncodeGain(kLc1Position);
    const auto lc3 = device::EncodeGain(0);
    auto& r = model.registers();
    r[0] = lc1.amplifier, r[1] = lc1.shift, r[6] = lc1.fine;
    r[4] = lc3.amplifier, r[5] = lc3.shift, r[8] = lc3.fine;
  });
}

// The start-up scenario on either transport: a device with stored gains and
// inputs 4 and 6 absent, and the window started on it, which opens it and
// shows its serial, product and gains.
struct StartUp {
  StartUp(const std::string& serial, Transport transport, const std::string& product) {
    DeviceTraits traits = OurDevice(serial);
    traits.input_mask = 0x28;
    dev = PlugIn(traits, transport);
    if (!dev) return;
    StoreGains(*dev->device);
    window = StartWindow(hid);
    look = LookAt(*window);
    EXPECT_TRUE(look.device_open);
    EXPECT_EQ(look.serials, std::vector<std::string>{serial});
    EXPECT_EQ(LabelText(*window, Label::kProduct), product);
    EXPECT_EQ(look.gains, (std::array<int, 3>{kLc1Position, device::kFactoryGainPosition, 0}));
  }

  std::optional<Plugged> dev;
  platform::LinuxHidraw hid;
  std::unique_ptr<Utility> window;
  Look look;
};

TEST(KernelUtility, UsbDeviceShowsMakerProductVersionAndStoredGainsWithTheListsEnabled) {
  StartUp started("UT-USB1", Transport::kUsb, " Load Cell Interface");
  ASSERT_TRUE(started.dev);
  auto& dev = started.dev;
  auto& window = started.window;
  const Look& look = started.look;
  EXPECT_FALSE(look.serials_enabled);
  EXPECT_EQ(LabelText(*window, Label::kManufacturer), " Tensivo");
  EXPECT_EQ(LabelText(*window, Label::kVersion), " 1.1");
  EXPECT_EQ(look.gains_enabled, (std::array<bool, 3>{true, true, true}));
  EXPECT_TRUE(look.restore_enabled);
  EXPECT_EQ(look.inputs_enabled, (std::array<bool, 5>{false, true, false, true, true}));

  EXPECT_TRUE(TickUntil([&] { return ShownReport(*window, *dev->device).has_value(); }, 3000))
      << "the bars never showed a report the device sent";
  const char* const grab = std::getenv("TENSIVO_VM_GRAB");
  if (grab != nullptr && *grab != '\0') {
    EXPECT_TRUE(SaveGrab(*window, grab));
  }

  const auto requests = dev->device->activity().report_requests;
  EXPECT_EQ(requests.size(), static_cast<std::size_t>(device::kReadBackReads));
  EXPECT_EQ(CountSetReports(*dev->device), 0) << "start-up wrote to the device";
  CloseWindow(*window);
  EXPECT_TRUE(WaitUntil([&] { return !dev->device->activity().open; }, 3000))
      << "closing the window releases the device";
}

TEST(KernelUtility, StartUpShowsTheDeviceAndItsStoredGainsWithTheListsLockedForVersionZero) {
  StartUp started("UT-0001", Transport::kUhid, " Tensivo Load Cell Interface");
  ASSERT_TRUE(started.dev);
  auto& dev = started.dev;
  const Look& look = started.look;
  // Without a USB parent there is no release number: no configuring.
  EXPECT_EQ(look.gains_enabled, (std::array<bool, 3>{false, false, false}));
  EXPECT_FALSE(look.restore_enabled);
  EXPECT_TRUE(look.inputs_enabled[1]);
  EXPECT_FALSE(look.inputs_enabled[2]);

  Tick(200);
  EXPECT_TRUE(dev->device->activity().feature_sets.empty()) << "start-up wrote to the device";
  CloseWindow(*started.window);
  EXPECT_TRUE(WaitUntil([&] { return !dev->device->activity().open; }, 2000))
      << "closing the window releases the device";
}

TEST(KernelUtility, GainPickSendsExactlyThreeSetReportsWithTheGainWrite) {
  auto dev = PlugIn(OurDevice("UT-GAIN"));
  ASSERT_TRUE(dev);
  platform::LinuxHidraw hid;
  const auto window = StartWindow(hid);
  ASSERT_TRUE(LookAt(*window).gains_enabled[1]);
  const std::size_t before = dev->device->activity().report_requests.size();

  constexpr int kPosition = 5 * 256 + 128;  // gain 48
  PickGain(*window, LoadCell::kLC2, kPosition);
  Tick(100);

  const auto requests = dev->device->activity().report_requests;
  ASSERT_EQ(requests.size(), before + 3);
  const auto expected =
      WritesOnTheSimulatedDevice([](platform::HidPlatform& on, device::WindowState& s) {
        device::WriteGain(on, s, LoadCell::kLC2, kPosition);
      });
  ASSERT_EQ(expected.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& request = requests[before + i];
    std::printf("  USB SET_REPORT setup %s data %s\n", Hex(request.setup).c_str(),
                Hex(request.data).c_str());
    EXPECT_EQ(request.setup, kSetFeatureReport) << "write " << i;
    EXPECT_EQ(request.data, expected[i]) << "write " << i;
  }
  const auto gain = device::EncodeGain(kPosition);
  std::array<std::uint8_t, 3> stored{};
  dev->device->WithModel([&](sim::DeviceModel& model) {
    stored = {model.registers()[2], model.registers()[3], model.registers()[7]};
  });
  EXPECT_EQ(stored, (std::array<std::uint8_t, 3>{gain.amplifier, gain.shift, gain.fine}));
  EXPECT_EQ(LookAt(*window).gains[1], kPosition);
  CloseWindow(*window);
}

TEST(KernelUtility, RestoreFactorySettingsSendsTwelveSetReportsThenFiveGetReports) {
  auto dev = PlugIn(OurDevice("UT-FACT"));
  ASSERT_TRUE(dev);
  StoreGains(*dev->device);
  platform::LinuxHidraw hid;
  const auto window = StartWindow(hid);
  ASSERT_TRUE(LookAt(*window).restore_enabled);
  ASSERT_EQ(LookAt(*window).gains[0], kLc1Position);
  const std::size_t before = dev->device->activity().report_requests.size();

  PressRestoreFactorySettings(*window);
  Tick(100);

  const auto requests = dev->device->activity().report_requests;
  ASSERT_EQ(requests.size(), before + 12 + device::kReadBackReads);
  for (std::size_t r = 0; r < 12; ++r) {
    const auto& request = requests[before + r];
    EXPECT_EQ(request.setup, kSetFeatureReport) << "write " << r;
    Bytes data(device::kFactoryValues.size() + 6, 0);
    data[0] = device::kWriteRegisterCommand, data[1] = static_cast<std::uint8_t>(r),
    data[2] = device::kFactoryValues[r];
    EXPECT_EQ(request.data, data) << "write " << r;
  }
  for (std::size_t g = 0; g < device::kReadBackReads; ++g) {
    EXPECT_EQ(requests[before + 12 + g].setup, kGetFeatureReport) << "read " << g;
  }
  std::array<std::uint8_t, 12> registers{};
  dev->device->WithModel([&](sim::DeviceModel& model) {
    std::copy_n(model.registers().begin(), registers.size(), registers.begin());
  });
  EXPECT_EQ(registers, device::kFactoryValues);
  EXPECT_EQ(LookAt(*window).gains,
            (std::array<int, 3>{device::kFactoryGainPosition, device::kFactoryGainPosition,
                                device::kFactoryGainPosition}));
  CloseWindow(*window);
}

TEST(KernelUtility, BarsFollowTheDeviceInputs) {
  DeviceTraits traits = OurDevice("UT-BARS");
  traits.input_mask = 0x80;
  auto dev = PlugIn(traits);
  ASSERT_TRUE(dev);
  platform::LinuxHidraw hid;
  const auto window = StartWindow(hid);

  std::optional<std::uint64_t> first;
  EXPECT_TRUE(
      TickUntil([&] { return (first = ShownReport(*window, *dev->device)).has_value(); }, 3000))
      << "the bars never showed a report the device sent";
  EXPECT_EQ(LookAt(*window).timer_interval, 20);
  ASSERT_TRUE(first);
  const double lc1 = LookAt(*window).bars[0];
  EXPECT_NE(lc1, 15.0);

  std::optional<std::uint64_t> later;
  EXPECT_TRUE(TickUntil(
      [&] { return (later = ShownReport(*window, *dev->device, *first + 30)).has_value(); }, 3000))
      << "the bars stopped following the device";
  EXPECT_NE(LookAt(*window).bars[0], lc1);
  CloseWindow(*window);
}

TEST(KernelUtility, UnplugDuringTheLiveMonitorBlanksTheWindowAndReplugReconnects) {
  auto dev = PlugIn(OurDevice("UT-PLUG"));
  ASSERT_TRUE(dev);
  platform::LinuxHidraw hid;
  const auto window = StartWindow(hid);
  ASSERT_TRUE(TickUntil([&] { return ShownReport(*window, *dev->device).has_value(); }, 3000));

  ASSERT_EQ(dev->device->Unplug(), 0);
  EXPECT_TRUE(TickUntil([&] { return !LookAt(*window).device_open; }, 2000));
  EXPECT_EQ(LabelText(*window, Label::kProduct), "");
  EXPECT_TRUE(LookAt(*window).serials.empty());
  EXPECT_EQ(LookAt(*window).timer_interval, 100);

  const std::uint64_t before = dev->device->inputs_sent();
  ASSERT_EQ(dev->device->Plug(), 0);
  EXPECT_TRUE(TickUntil([&] { return LookAt(*window).device_open; }, kNodeTimeoutMs));
  EXPECT_EQ(LookAt(*window).selected_serial, "UT-PLUG");
  EXPECT_EQ(LabelText(*window, Label::kProduct), " Load Cell Interface");
  EXPECT_EQ(LabelText(*window, Label::kVersion), " 1.1");
  EXPECT_TRUE(
      TickUntil([&] { return ShownReport(*window, *dev->device, before).has_value(); }, 3000))
      << "the bars do not follow the replugged device";
  EXPECT_EQ(CountSetReports(*dev->device), 0) << "a read-back wrote to the device";
  CloseWindow(*window);
}

TEST(KernelUtility, ThreeDevicesAreListedInPlugOrderAndTheLastIsOpened) {
  auto a = PlugIn(OurDevice("UT-A"));
  auto b = PlugIn(OurDevice("UT-B"));
  auto c = PlugIn(OurDevice("UT-C"));
  ASSERT_TRUE(a && b && c);
  platform::LinuxHidraw hid;
  const auto window = StartWindow(hid);

  const Look look = LookAt(*window);
  EXPECT_EQ(look.serials, (std::vector<std::string>{"UT-A", "UT-B", "UT-C"}));
  EXPECT_EQ(look.selected_serial, "UT-C");
  EXPECT_TRUE(look.serials_enabled);
  EXPECT_TRUE(TickUntil([&] { return ShownReport(*window, *c->device).has_value(); }, 3000));
  EXPECT_TRUE(OnlyOpen(*c->device, {a->device.get(), b->device.get()}))
      << "only the last device stays open";
  for (const auto* d : {&a, &b, &c}) {
    EXPECT_EQ(CountSetReports(*(*d)->device), 0) << (*d)->device->traits().serial;
  }
  EXPECT_EQ(c->device->activity().feature_gets, device::kReadBackReads);
  EXPECT_EQ(a->device->activity().feature_gets, 0) << "only the opened device is read back";
  CloseWindow(*window);
}

}  // namespace
}  // namespace tensivo::vm
