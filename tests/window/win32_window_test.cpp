// What only the Win32 front-end decides: where its controls sit, their
// captions, face, icon and colours, the tab order, the bars' pixels, which
// native notifications make a user's pick, the timer and the message loop.
#include <windows.h>

#include "win32_native.h"
#include "window/win32/win32_form.h"
#include "window_world.h"

namespace tensivo::window::testing {
namespace {

using win32::Win32Form;

std::string Text(HWND hwnd) {
  char text[256] = {};
  GetWindowTextA(hwnd, text, sizeof(text));
  return text;
}

class Win32Window : public WindowWorld {
 protected:
  Win32Form& form() { return static_cast<Win32Form&>(ui->form()); }
  HWND native(std::string_view name) { return form().Native(name); }

  // Pumping here would let the real timer tick, and a tick without a report
  // drops the device; these scenarios pump, so the timer stays off.
  void StartStill() {
    Start();
    w->Timer.SetEnabled(false);
  }

  // The focus held for a while on a list, before any key is pressed.
  void Focus(std::string_view name) {
    ui->Focus(form().GetList(name));
    ASSERT_EQ(GetFocus(), native(name));
  }

  // Keys as the user's input arrives: queued, then pumped.
  void Key(std::string_view list, UINT key) {
    PostMessageA(native(list), WM_KEYDOWN, key, 0);
    form().DoEvents();
  }
};

TEST_F(Win32Window, ControlsSitWhereTheDesignPutsThemAt96Dpi) {
  Start();
  ASSERT_EQ(form().dpi(), 96) << "wine's default; the pixels below assume it";
  RECT client;
  GetClientRect(form().hwnd(), &client);
  EXPECT_EQ(client.right, 563);
  EXPECT_EQ(client.bottom, 558);
  const std::pair<const char*, RECT> places[] = {
      {"Frame1", {7, 8, 554, 137}},       {"SerNo", {137, 92, 225, 116}},
      {"lblVersion", {132, 72, 352, 94}}, {"Frame2", {7, 144, 554, 281}},
      {"LC3_gain", {393, 97, 473, 121}},  {"Label10", {13, 33, 66, 54}},
      {"Frame4", {7, 287, 554, 494}},     {"Ch_frame(8)", {67, 165, 380, 184}},
      {"Command1", {182, 511, 375, 544}},
  };
  for (const auto& [name, want] : places) {
    const RECT got = InParent(native(name));
    EXPECT_TRUE(EqualRect(&got, &want))
        << name << ": " << got.left << "," << got.top << " " << got.right << "," << got.bottom;
  }
  const RECT bar = form().BarPixels("Ch_bar(8)");
  EXPECT_EQ(bar.left, 3) << "50 twips inside its outline";
  EXPECT_EQ(bar.right - bar.left, 1) << "15 twips";
  EXPECT_EQ(bar.bottom - bar.top, 13);
  EXPECT_EQ(GetParent(native("SerNo")), native("Frame1"));
  EXPECT_EQ(GetParent(native("LC1_frame")), native("Frame2"));
  EXPECT_EQ(GetParent(native("Ch_frame(4)")), native("Frame4"));
}

TEST_F(Win32Window, CaptionsFaceAndIconAreTheWindowsOwn) {
  Start();
  EXPECT_EQ(Text(form().hwnd()), "Tensivo Configuration");
  const std::pair<const char*, const char*> captions[] = {
      {"Frame1", "Details"},
      {"Frame2", "Load cell inputs"},
      {"Frame4", "Potentiometer inputs"},
      {"Command1", "Restore factory settings"},
      {"Label5", "Device name"},
      {"Label4", "Made by"},
      {"Label2", "Version"},
      {"Label3", "Serial Number"},
      {"Label10", "LC1"},
      {"Label6", "LC1 gain"},
      {"Ch_label(8)", "Input 8"},
  };
  for (const auto& [name, caption] : captions) EXPECT_EQ(Text(native(name)), caption) << name;
  LOGFONTA face{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(native("LC1_gain"), WM_GETFONT, 0, 0)),
             sizeof(face), &face);
  EXPECT_STREQ(face.lfFaceName, "MS Sans Serif");
  EXPECT_EQ(face.lfHeight, -13) << "9.75 points at 96 dpi";
  for (const auto& [which, size] : {std::pair{ICON_SMALL, 16}, std::pair{ICON_BIG, 32}}) {
    const auto icon = reinterpret_cast<HICON>(SendMessageA(form().hwnd(), WM_GETICON, which, 0));
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info)) << size;
    BITMAP bitmap{};
    GetObjectA(info.hbmColor, sizeof(bitmap), &bitmap);
    EXPECT_EQ(bitmap.bmWidth, size);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
  }
}

TEST_F(Win32Window, ListsCannotBeTypedIntoAndTabOrderIsListsThenButton) {
  Add(u"DEV-1");
  StartStill();
  for (const char* name : {"SerNo", "LC1_gain", "LC2_gain", "LC3_gain"}) {
    EXPECT_EQ(GetWindowLongA(native(name), GWL_STYLE) & 3, CBS_DROPDOWNLIST) << name;
  }
  w->SerNo.SetEnabled(true);
  std::vector<HWND> order;
  HWND at = nullptr;
  for (int i = 0; i < 6; ++i) order.push_back(at = GetNextDlgTabItem(form().hwnd(), at, FALSE));
  EXPECT_EQ(order, (std::vector<HWND>{native("SerNo"), native("LC1_gain"), native("LC2_gain"),
                                      native("LC3_gain"), native("Command1"), native("SerNo")}));
}

TEST_F(Win32Window, DetailLabelsReadAsDisplayFields) {
  Start();
  HDC dc = GetDC(form().hwnd());
  for (const char* name : {"lblProduct", "lblManuf", "lblVersion", "Label5"}) {
    HWND label = native(name);
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageA(GetParent(label), WM_CTLCOLORSTATIC,
                                                             reinterpret_cast<WPARAM>(dc),
                                                             reinterpret_cast<LPARAM>(label)));
    const bool field = std::string_view(name).starts_with("lbl");
    EXPECT_EQ(brush == GetSysColorBrush(COLOR_WINDOW), field) << name;
    if (field) {
      EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT)) << name;
    }
  }
  ReleaseDC(form().hwnd(), dc);
}

TEST_F(Win32Window, DeviceTextsAreShownInTheAnsiCodePage) {
  Start();
  const std::string text = " Caf\xE9 \xB5V";
  w->lblManuf.SetCaption(text);
  wchar_t shown[64] = {};
  GetWindowTextW(native("lblManuf"), shown, 64);
  wchar_t want[64] = {};
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, want, 64);
  EXPECT_STREQ(shown, want);
}

TEST_F(Win32Window, BarsPaintTheWidthTheyAreGiven) {
  const auto id = Add(u"DEV-1", 0x0101, 0x28);
  Start();
  Push(id, {0, 32768, 65535, 9999, 13107, 9999, 26214, 39321});
  Tick();
  const RECT five = form().BarPixels("Ch_bar(5)");
  const RECT three = form().BarPixels("LC3_bar");
  EXPECT_EQ(five.right - five.left, TwipsToPixels(922, 96));
  EXPECT_EQ(three.right - three.left, TwipsToPixels(4611, 96));
  HWND outline = native("LC3_frame");
  UpdateWindow(outline);
  HDC dc = GetDC(outline);
  EXPECT_EQ(GetPixel(dc, three.right - 1, three.top), RGB(0, 128, 0));
  EXPECT_EQ(GetPixel(dc, three.right, three.top), RGB(255, 255, 255))
      << "a pixel short of the border";
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 0, 0));
  ReleaseDC(outline, dc);
}

// Win32 raises CBN_SELCHANGE for every move in an open list and none for
// CB_SETCURSEL: only what the user commits may reach the device.
TEST_F(Win32Window, OnlyCommittedPicksReachTheDeviceEachOnce) {
  Add(u"DEV-1");
  StartStill();
  Focus("LC2_gain");
  struct Step {
    const char* what;
    std::vector<UINT> keys;
    bool drop;
    int moved;
    std::size_t writes;
  };
  const Step steps[] = {
      {"arrows in the open list, then Enter", {VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN}, true, 3, 3},
      {"arrows in the open list, then Escape", {VK_DOWN, VK_DOWN, VK_ESCAPE}, true, 0, 0},
      {"Enter on the entry already shown", {VK_RETURN}, true, 0, 3},
      {"each arrow in the closed list", {VK_UP, VK_UP}, false, -2, 6},
  };
  for (const Step& step : steps) {
    hid.ClearLogs();
    const int before = w->LC2_gain.ListIndex();
    if (step.drop) SendMessageA(native("LC2_gain"), CB_SHOWDROPDOWN, TRUE, 0);
    for (UINT key : step.keys) Key("LC2_gain", key);
    EXPECT_EQ(w->LC2_gain.ListIndex(), before + step.moved) << step.what;
    EXPECT_EQ(hid.write_log().size(), step.writes) << step.what;
  }
}

TEST_F(Win32Window, AClickOnAnEntryOfTheOpenListIsOnePick) {
  Add(u"DEV-1");
  StartStill();
  HWND combo = native("LC1_gain");
  SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetComboBoxInfo(combo, &info));
  const int top = static_cast<int>(SendMessageA(info.hwndList, LB_GETTOPINDEX, 0, 0));
  RECT item;
  SendMessageA(info.hwndList, LB_GETITEMRECT, static_cast<WPARAM>(top + 1),
               reinterpret_cast<LPARAM>(&item));
  const LPARAM at = MAKELPARAM(item.left + 2, item.top + 2);
  PostMessageA(info.hwndList, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageA(info.hwndList, WM_LBUTTONUP, 0, at);
  form().DoEvents();
  EXPECT_EQ(w->LC1_gain.ListIndex(), top + 1);
  EXPECT_EQ(hid.write_log().size(), 3u);
}

TEST_F(Win32Window, ATimerTickDuringARunningTickIsDropped) {
  Win32Form& f = form();
  int depth = 0, deepest = 0, ticks = 0;
  f.GetTimer().Tick = [&] {
    deepest = std::max(deepest, ++depth);
    ++ticks;
    Sleep(30);  // longer than the interval: WM_TIMER is due again inside
    f.DoEvents();
    --depth;
  };
  f.GetTimer().SetInterval(10);
  f.GetTimer().SetEnabled(true);
  for (int i = 0; i < 20 && ticks < 3; ++i) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    f.DoEvents();
  }
  f.GetTimer().SetEnabled(false);
  EXPECT_GE(ticks, 3);
  EXPECT_EQ(deepest, 1);
  EXPECT_GT(f.GetTimer().dropped_ticks(), 0);
}

TEST_F(Win32Window, TheLoopEndsWithACloseOrAQuitAndEitherUnloadsOnce) {
  for (const bool quit : {false, true}) {
    Win32Form f;
    int unloads = 0;
    f.Unload = [&] { ++unloads; };
    f.Show();
    if (quit) {
      PostQuitMessage(7);
      f.DoEvents();  // a pump that takes the quit hands it on
    } else {
      PostMessageA(f.hwnd(), WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(f.Run(), quit ? 7 : 0);
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(f.Visible());
  }
}

}  // namespace
}  // namespace tensivo::window::testing
