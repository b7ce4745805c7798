// The Win32 window at each display scale, under wine: with the prefix's
// LogPixels at 96, 120, 144 and 192 dpi, on virtual screens of 1366x768 and
// 1920x1080, the window is laid out at that DPI times the largest scale up to
// 1 that fits the work area, frame and title included; nothing leaves its
// container, and the face follows. Wine reads LogPixels when a process
// starts, so each case is a child process of this program on a wine desktop
// of the screen's size; the registry is put back afterwards.
//
// This program's own main: `--measure` is the child's part.
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "win32_native.h"
#include "window/layout.h"
#include "window/win32/win32_form.h"

namespace tensivo::window::testing {
namespace {

using win32::Win32Form;

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

// The first control (or bar, at its widest) that is not wholly inside its
// container's client area, or "-".
std::string FirstOutside(Win32Form& form) {
  for (const ControlPlace& place : kLayout) {
    if (place.kind == Kind::kBar) {
      form.GetShape(place.name).SetWidth(kClientWidth);
      RECT outline;
      GetClientRect(form.Native(std::ranges::find(kBars, place.name, &BarPlace::bar)->outline),
                    &outline);
      if (!Inside(form.BarPixels(place.name), outline)) return std::string(place.name);
      continue;
    }
    HWND control = form.Native(place.name);
    RECT container;
    GetClientRect(GetParent(control), &container);
    if (!Inside(InParent(control), container)) return std::string(place.name);
  }
  return "-";
}

// What one case measures, as the child prints it.
struct Measured {
  int monitor_dpi = 0;
  double scale = 0;
  int client_width = 0, client_height = 0;
  int outer_width = 0, outer_height = 0;
  int work_width = 0, work_height = 0;
  int face_height = 0;  // its letters as drawn
  int awareness = -1;   // of the thread, as GetAwarenessFromDpiAwarenessContext gives it
  std::string outside;
};

int Measure() {
  Win32Form form;
  form.Show();
  RECT client, outer;
  GetClientRect(form.hwnd(), &client);
  GetWindowRect(form.hwnd(), &outer);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoA(MonitorFromWindow(form.hwnd(), MONITOR_DEFAULTTONEAREST), &monitor);
  const int em = win32::EmPixels(
      reinterpret_cast<HFONT>(SendMessageA(form.Native("LC1_gain"), WM_GETFONT, 0, 0)));
  int awareness = -1;
  HMODULE user32 = GetModuleHandleA("user32.dll");
  using Context = HANDLE(WINAPI*)();
  using Awareness = int(WINAPI*)(HANDLE);
  const auto context = reinterpret_cast<Context>(
      reinterpret_cast<void (*)()>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
  const auto of = reinterpret_cast<Awareness>(
      reinterpret_cast<void (*)()>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
  if (context != nullptr && of != nullptr) awareness = of(context());
  std::printf("measured %d %.6f %ld %ld %ld %ld %ld %ld %d %d %s\n", form.monitor_dpi(),
              form.scale(), client.right, client.bottom, outer.right - outer.left,
              outer.bottom - outer.top, monitor.rcWork.right - monitor.rcWork.left,
              monitor.rcWork.bottom - monitor.rcWork.top, em, awareness,
              FirstOutside(form).c_str());
  std::fflush(stdout);
  return 0;
}

// Sets a DWORD of HKCU\Control Panel\Desktop for as long as it lives.
class DesktopSetting {
 public:
  DesktopSetting(const char* name, DWORD value) : name_(name) {
    RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0,
                    KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr);
    DWORD size = sizeof(before_);
    had_ = RegQueryValueExA(key_, name_, nullptr, nullptr, reinterpret_cast<BYTE*>(&before_),
                            &size) == ERROR_SUCCESS;
    Set(value);
  }
  ~DesktopSetting() {
    if (had_) {
      Set(before_);
    } else {
      RegDeleteValueA(key_, name_);
    }
    RegCloseKey(key_);
  }
  DesktopSetting(const DesktopSetting&) = delete;
  DesktopSetting& operator=(const DesktopSetting&) = delete;

  void Set(DWORD value) {
    RegSetValueExA(key_, name_, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }

 private:
  const char* name_;
  HKEY key_ = nullptr;
  DWORD before_ = 0;
  bool had_ = false;
};

// Runs this program with --measure on a wine desktop of that size (wine
// makes a desktop its explorer sizes from the registry), and reads its line.
bool MeasureOnScreen(int width, int height, Measured& out, std::string& said) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  std::string desktop = "tensivo-" + size;
  HKEY desktops;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &desktops, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  RegSetValueExA(desktops, desktop.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(size.c_str()),
                 static_cast<DWORD>(size.size() + 1));
  RegCloseKey(desktops);

  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return false;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string command = std::string("\"") + self + "\" --measure";
  STARTUPINFOA start{};
  start.cb = sizeof(start);
  start.lpDesktop = desktop.data();
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdOutput = write;
  start.hStdError = write;
  PROCESS_INFORMATION child{};
  const bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &start, &child) != FALSE;
  CloseHandle(write);
  if (started) {
    char chunk[512];
    DWORD got = 0;
    while (ReadFile(read, chunk, sizeof(chunk), &got, nullptr) && got > 0) said.append(chunk, got);
    WaitForSingleObject(child.hProcess, 30000);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
  }
  CloseHandle(read);
  const auto at = said.find("measured ");
  if (!started || at == std::string::npos) return false;
  std::istringstream line(said.substr(at + 9));
  line >> out.monitor_dpi >> out.scale >> out.client_width >> out.client_height >>
      out.outer_width >> out.outer_height >> out.work_width >> out.work_height >> out.face_height >>
      out.awareness >> out.outside;
  return !line.fail();
}

TEST(Win32Screens, TheWindowFitsEveryScreenAtEveryDpi) {
  struct Case {
    int dpi, width, height;
    bool whole;  // the window at the monitor's DPI fits: drawn at scale 1
  };
  const Case cases[] = {
      {96, 1366, 768, true},   {120, 1366, 768, true},   {144, 1366, 768, false},
      {192, 1366, 768, false}, {96, 1920, 1080, true},   {120, 1920, 1080, true},
      {144, 1920, 1080, true}, {192, 1920, 1080, false},
  };
  DesktopSetting log_pixels("LogPixels", 96);
  for (const Case& c : cases) {
    log_pixels.Set(static_cast<DWORD>(c.dpi));
    const std::string at = std::to_string(c.dpi) + " dpi on " + std::to_string(c.width) + "x" +
                           std::to_string(c.height);
    Measured m;
    std::string said;
    ASSERT_TRUE(MeasureOnScreen(c.width, c.height, m, said)) << at << ": " << said;
    std::printf("%s: monitor %d dpi, scale %.4f, client %dx%d, window %dx%d, letters %d px\n",
                at.c_str(), m.monitor_dpi, m.scale, m.client_width, m.client_height, m.outer_width,
                m.outer_height, m.face_height);
    EXPECT_EQ(m.monitor_dpi, c.dpi) << at;
    EXPECT_EQ(m.work_width, c.width) << at << ": wine's desktop has no taskbar";
    EXPECT_EQ(m.work_height, c.height) << at;
    EXPECT_EQ(m.scale == 1.0, c.whole) << at << ": scale " << m.scale;
    const double dpi = c.dpi * m.scale;
    EXPECT_NEAR(m.client_width, kClientWidth * dpi / 1440, 1) << at;
    EXPECT_NEAR(m.client_height, kClientHeight * dpi / 1440, 1) << at;
    EXPECT_LE(m.outer_width, m.work_width) << at;
    EXPECT_LE(m.outer_height, m.work_height) << at;
    if (!c.whole) {
      // The largest that fits: one side of the frame touches the work area.
      EXPECT_TRUE(m.outer_width >= m.work_width - 1 || m.outer_height >= m.work_height - 1)
          << at << ": " << m.outer_width << "x" << m.outer_height;
    }
    // 9.75 points to the nearest pixel, which an outline face may draw a
    // pixel larger.
    EXPECT_NEAR(m.face_height, 9.75 * dpi / 72, 1.5) << at;
    EXPECT_EQ(m.outside, "-") << at << ": leaves its container";
    // Wine 8 gives every process per-monitor awareness, manifest or not;
    // only Windows tells the manifest's per-monitor v2 apart.
    EXPECT_EQ(m.awareness, 2) << at;
  }
}

// Windows sends this when the window moves to a monitor of another DPI, with
// the rectangle it suggests there; wine 8 never does, so it is sent here.
TEST(Win32Screens, ANewDpiPlacesEveryControlAgain) {
  Win32Form form;
  form.Show();
  const int to = form.monitor_dpi() * 3 / 2;
  RECT suggested{20, 10, 920, 910};
  SendMessageA(form.hwnd(), WM_DPICHANGED, MAKEWPARAM(to, to),
               reinterpret_cast<LPARAM>(&suggested));
  ASSERT_EQ(form.monitor_dpi(), to);
  const double dpi = form.dpi();
  EXPECT_DOUBLE_EQ(dpi, to * form.scale());
  for (const ControlPlace& place : kLayout) {
    if (place.kind == Kind::kBar) {
      const RECT bar = form.BarPixels(place.name);
      EXPECT_EQ(bar.bottom - bar.top, TwipsToPixels(place.height, dpi)) << place.name;
      continue;
    }
    const RECT want{TwipsToPixels(place.left, dpi), TwipsToPixels(place.top, dpi),
                    TwipsToPixels(place.left, dpi) + TwipsToPixels(place.width, dpi),
                    TwipsToPixels(place.top, dpi) + TwipsToPixels(place.height, dpi)};
    const RECT got = InParent(form.Native(place.name));
    EXPECT_TRUE(EqualRect(&got, &want))
        << place.name << ": " << got.left << "," << got.top << " " << got.right << "," << got.bottom
        << " at " << dpi << " dpi";
  }
  EXPECT_NEAR(win32::EmPixels(form.font()), 9.75 * dpi / 72, 1.5);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(form.Native("Command1"), WM_GETFONT, 0, 0)),
            form.font());
  RECT client, outer;
  GetClientRect(form.hwnd(), &client);
  GetWindowRect(form.hwnd(), &outer);
  EXPECT_EQ(client.right, TwipsToPixels(kClientWidth, dpi));
  EXPECT_EQ(client.bottom, TwipsToPixels(kClientHeight, dpi));
  EXPECT_EQ(outer.left, suggested.left) << "where Windows suggests";
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoA(MonitorFromWindow(form.hwnd(), MONITOR_DEFAULTTONEAREST), &monitor);
  EXPECT_TRUE(Inside(outer, monitor.rcWork));
}

TEST(Win32Screens, EachExecutableCarriesItsManifestAndTheListsAreCommonControls6) {
  for (const char* exe : {TENSIVO_UTILITY_EXE, TENSIVO_DEMO_EXE}) {
    HMODULE image =
        LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr) << exe;
    // The manifest Windows reads when the process starts: RT_MANIFEST, id 1.
    HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr) << exe;
    const std::string text(static_cast<const char*>(LockResource(LoadResource(image, found))),
                           SizeofResource(image, found));
    const char* const needed[] = {
        "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
        "PerMonitorV2, PerMonitor</dpiAwareness>",
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">"
        "true/pm</dpiAware>",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "<requestedExecutionLevel level=\"asInvoker\"",
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
    };
    for (const char* line : needed) EXPECT_NE(text.find(line), std::string::npos) << exe << line;
    EXPECT_EQ(text.find("activeCodePage"), std::string::npos) << exe << ": no UTF-8 code page";
    FreeLibrary(image);
  }
  // This program carries the same manifest: only common controls 6 knows
  // CB_GETMINVISIBLE, 30 rows unless told otherwise.
  Win32Form form;
  EXPECT_EQ(SendMessageA(form.Native("LC1_gain"), CB_GETMINVISIBLE, 0, 0), 30);
}

}  // namespace
}  // namespace tensivo::window::testing

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--measure") == 0) {
    return tensivo::window::testing::Measure();
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
