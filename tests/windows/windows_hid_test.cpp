// The Windows backend on wine's own hid.dll and setupapi, whose HID mouse and
// keyboard (vendor 0x845E) are foreign devices here: never listed, never
// opened for reading or writing. Our own device is the simulated backend's
// and the stand-in system's business.
#include "platform/windows_hid.h"

#include <gtest/gtest.h>

#include <vector>

#include "device/device_text.h"
#include "device/discovery.h"
#include "window/frm_main.h"
#include "window/headless/headless_form.h"

namespace tensivo::platform {
namespace {

// The real system, with the calls that open, read and close written down.
struct Logged {
  enum Kind { kOpen, kClose, kRead, kCancel, kWait };
  Kind kind;
  HANDLE handle;
  DWORD access = 0;
};
std::vector<Logged> g_log;

WindowsHidCalls LoggedCalls() {
  WindowsHidCalls calls;
  calls.CreateFileA = [](LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                         DWORD disposition, DWORD flags, HANDLE model) {
    HANDLE handle = ::CreateFileA(path, access, share, security, disposition, flags, model);
    g_log.push_back({Logged::kOpen, handle, access});
    return handle;
  };
  calls.CloseHandle = [](HANDLE handle) {
    g_log.push_back({Logged::kClose, handle});
    return ::CloseHandle(handle);
  };
  calls.ReadFile = [](HANDLE handle, LPVOID buffer, DWORD size, LPDWORD count,
                      LPOVERLAPPED overlapped) {
    g_log.push_back({Logged::kRead, handle});
    return ::ReadFile(handle, buffer, size, count, overlapped);
  };
  calls.CancelIo = [](HANDLE handle) {
    g_log.push_back({Logged::kCancel, handle});
    return ::CancelIo(handle);
  };
  calls.GetOverlappedResult = [](HANDLE handle, LPOVERLAPPED overlapped, LPDWORD bytes, BOOL wait) {
    if (wait) g_log.push_back({Logged::kWait, handle});
    return ::GetOverlappedResult(handle, overlapped, bytes, wait);
  };
  return calls;
}

class WineHid : public ::testing::Test {
 protected:
  void SetUp() override { g_log.clear(); }

  std::vector<InterfaceInfo> Present() {
    std::vector<InterfaceInfo> all;
    EXPECT_NE(hid.Enumerate(0, 0, all), kFailure);
    return all;
  }

  WindowsHid hid{LoggedCalls()};
};

TEST_F(WineHid, ItsMouseAndKeyboardAreListedWithIdsFromTheirPathsAlone) {
  const std::vector<InterfaceInfo> all = Present();
  ASSERT_GE(all.size(), 2u) << "wine lists a HID mouse and keyboard of its own";
  for (const InterfaceInfo& info : all) {
    EXPECT_EQ(info.vendor_id, 0x845E) << info.path;
    EXPECT_TRUE(info.path.starts_with("\\\\?\\hid#")) << info.path;
  }
  EXPECT_TRUE(g_log.empty()) << "the paths name the ids: nothing was opened";
  std::vector<InterfaceInfo> ours;
  EXPECT_NE(hid.Enumerate(device::kVendorId, device::kProductId, ours), kFailure);
  EXPECT_TRUE(ours.empty());
}

TEST_F(WineHid, TheWindowNeverOpensThemForReadingOrWriting) {
  window::headless::HeadlessForm form;
  {
    window::frmMain w(hid, form);
    w.Form_Load();
    for (int i = 0; i < 3; ++i) w.Timer_Timer();
    EXPECT_EQ(w.SerNo.ListCount(), 0);
    EXPECT_EQ(w.state().DeviceFound, device::kFalse);
    form.Close();
  }
  for (const Logged& call : g_log) {
    EXPECT_FALSE(call.kind == Logged::kOpen && call.access != 0) << "opened for I/O";
  }
}

// The whole sequence a device of ours goes through, on a real hid.dll: the
// mouse stands in, opened here by hand.
TEST_F(WineHid, AttributesStringsCapsFeaturesAndAnOverlappedReadRunOnItsHidDll) {
  const std::vector<InterfaceInfo> all = Present();
  ASSERT_FALSE(all.empty());
  const std::string& path = all.front().path;

  Handle plain = hid.Open(path, OpenMode::kPlain);
  ASSERT_TRUE(plain.IsOpen());
  HidAttributes attributes;
  ASSERT_NE(hid.GetAttributes(plain, attributes), kFailure);
  EXPECT_EQ(attributes.VendorID, 0x845E);
  EXPECT_EQ(attributes.ProductID, all.front().product_id);
  std::array<std::uint8_t, 201> text{};
  ASSERT_NE(hid.GetSerialNumberString(plain, std::span(text).first(100)), kFailure);
  EXPECT_EQ(device::DeviceStringToText(text), "0000");
  HidCaps caps;
  ASSERT_NE(hid.GetCaps(plain, caps), kFailure);
  EXPECT_GT(caps.InputReportByteLength, 0);
  EXPECT_EQ(caps.FeatureReportByteLength, 0) << "wine's mouse has no feature report";
  std::array<std::uint8_t, 19> feature{};
  EXPECT_EQ(hid.GetFeature(plain, feature), kFailure);

  Handle reader = hid.Open(path, OpenMode::kOverlapped);
  ASSERT_TRUE(reader.IsOpen());
  text.fill(0);
  ASSERT_NE(hid.GetManufacturerString(reader, std::span(text).first(100)), kFailure);
  EXPECT_EQ(device::DeviceStringToText(text), "The Wine Project");
  const EventId event = hid.CreateReadEvent();
  ASSERT_NE(event, 0u);
  std::array<std::uint8_t, 1000> buffer{};
  std::uint32_t count = 99;
  EXPECT_EQ(hid.ReadInput(reader, ReadOverlapped{0, 0, event}, buffer, count), kFailure)
      << "nobody moves wine's mouse: the read stays pending";
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(hid.ReadInput(plain, ReadOverlapped{0, 0, event}, buffer, count), kFailure)
      << "a plain handle would block: refused";

  g_log.clear();
  reader.Close();
  std::vector<Logged::Kind> kinds;
  for (const Logged& call : g_log) kinds.push_back(call.kind);
  EXPECT_EQ(kinds, (std::vector<Logged::Kind>{Logged::kCancel, Logged::kWait, Logged::kClose}))
      << "the pending read is cancelled and awaited before its handle closes";
  plain.Close();
}

TEST_F(WineHid, AnOpenThatFailsSaysWhyAndOneThatSucceedsSaysNothing) {
  EXPECT_FALSE(hid.Open("\\\\?\\hid#vid_e31a&pid_5c07#0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                        OpenMode::kPlain)
                   .IsOpen());
  EXPECT_EQ(hid.LastOpenError(), OpenError::kGone) << "no such device: unplugged";
  const std::vector<InterfaceInfo> all = Present();
  ASSERT_FALSE(all.empty());
  EXPECT_TRUE(hid.Open(all.front().path, OpenMode::kPlain).IsOpen());
  EXPECT_EQ(hid.LastOpenError(), OpenError::kNone);
  const std::pair<DWORD, OpenError> errors[] = {{ERROR_ACCESS_DENIED, OpenError::kPermissionDenied},
                                                {ERROR_SHARING_VIOLATION, OpenError::kBusy},
                                                {ERROR_PATH_NOT_FOUND, OpenError::kGone},
                                                {ERROR_GEN_FAILURE, OpenError::kOther}};
  for (const auto& [error, why] : errors) EXPECT_EQ(detail::OpenErrorFrom(error), why) << error;
}

TEST(InterfacePath, IdsAreTakenFromTheUsbFormInAnyCaseAndNothingElse) {
  struct Case {
    const char* path;
    std::optional<detail::UsbIds> ids;
  };
  const Case cases[] = {
      {"\\\\?\\hid#vid_845e&pid_0001#0&0000&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
       detail::UsbIds{0x845E, 0x0001}},
      {"\\\\?\\HID#VID_E31A&PID_5C07&MI_00#7&1A2B&0&0000#{4d1e55b2}",
       detail::UsbIds{0xE31A, 0x5C07}},
      {"\\\\?\\hid#{00001812-0000-1000-8000-00805f9b34fb}_dev_vid&02045e_pid&0b13#9&1#{4d1e}",
       std::nullopt},
      {"\\\\?\\hid#vid_12g4&pid_0001#0", std::nullopt},
      {"\\\\?\\hid#vid_1234&pid_00", std::nullopt},
      {"\\\\?\\hid#vid_e31a#pid_5c07", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto ids = detail::IdsFromPath(c.path);
    ASSERT_EQ(ids.has_value(), c.ids.has_value()) << c.path;
    if (ids) {
      EXPECT_EQ(ids->vendor_id, c.ids->vendor_id) << c.path;
      EXPECT_EQ(ids->product_id, c.ids->product_id) << c.path;
    }
  }
}

}  // namespace
}  // namespace tensivo::platform
