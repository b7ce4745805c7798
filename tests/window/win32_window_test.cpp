// What only the Win32 front-end decides: where its controls sit, their
// captions, face, icon and colours, the tab order, the bars' pixels, which
// native notifications make a user's pick, the timer and the message loop.
#include <windows.h>
// After windows.h, which it needs.
#include <oleacc.h>

#include <map>

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

// What Windows' accessibility layer reports of a window's client object.
struct Reported {
  HRESULT got = E_FAIL;
  std::string name, value, description;
  LONG role = 0;
  LONG state = 0;
  RECT at{};
};

std::string Narrow(BSTR text) {
  std::string narrow;
  if (text == nullptr) return narrow;
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  narrow.resize(static_cast<std::size_t>(std::max(size, 1)));
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
  narrow.resize(narrow.size() - 1);
  return narrow;
}

Reported Read(IAccessible* object) {
  Reported reported;
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR text = nullptr;
  reported.got = object->get_accName(self, &text);
  reported.name = Narrow(text);
  SysFreeString(text);
  text = nullptr;
  if (object->get_accValue(self, &text) == S_OK) reported.value = Narrow(text);
  SysFreeString(text);
  text = nullptr;
  if (object->get_accDescription(self, &text) == S_OK) reported.description = Narrow(text);
  SysFreeString(text);
  VARIANT role{}, state{};
  if (object->get_accRole(self, &role) == S_OK && role.vt == VT_I4) reported.role = role.lVal;
  if (object->get_accState(self, &state) == S_OK && state.vt == VT_I4) reported.state = state.lVal;
  LONG left = 0, top = 0, width = 0, height = 0;
  object->accLocation(&left, &top, &width, &height, self);
  reported.at = RECT{left, top, left + width, top + height};
  return reported;
}

IAccessible* ClientObject(HWND hwnd) {
  IAccessible* object = nullptr;
  if (FAILED(AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT),
                                        __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&object)))) {
    return nullptr;
  }
  return object;
}

Reported Report(HWND hwnd) {
  IAccessible* object = ClientObject(hwnd);
  if (object == nullptr) return {};
  Reported reported = Read(object);
  object->Release();
  return reported;
}

// EVENT_OBJECT_VALUECHANGE on each window, as an out-of-context hook of the
// process hears them while its thread pumps, and the value then read.
struct Heard {
  int changes = 0;
  std::string value;
};
std::map<HWND, Heard> heard;
void CALLBACK HearValueChange(HWINEVENTHOOK, DWORD, HWND hwnd, LONG object, LONG child, DWORD,
                              DWORD) {
  if (object != OBJID_CLIENT || child != CHILDID_SELF) return;
  ++heard[hwnd].changes;
  heard[hwnd].value = Report(hwnd).value;
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

// MSAA as a screen reader reads it: the value labels and the painted bars
// through the objects the window answers with, the button through the
// platform's own.
TEST_F(Win32Window, AScreenReaderReadsTheDetailsTheBarsAndTheButton) {
  const auto id = Add(u"DEV-1", 0x0101, 0x28);  // inputs 4 and 6 absent
  Start();
  Push(id, {0, 32768, 65535, 9999, 13107, 9999, 26214, 39321});
  Tick();
  struct Row {
    const char* control;
    const char* name;
    LONG role;
    const char* value;
    bool absent;
  };
  constexpr LONG kText = ROLE_SYSTEM_STATICTEXT;
  constexpr LONG kBar = ROLE_SYSTEM_PROGRESSBAR;
  const Row rows[] = {
      {"lblProduct", "Device name", kText, "Load Cell Interface", false},
      {"lblManuf", "Made by", kText, "Tensivo", false},
      {"lblVersion", "Version", kText, "1.1", false},
      {"LC1_frame", "LC1", kBar, "0%", false},
      {"LC2_frame", "LC2", kBar, "50%", false},
      {"LC3_frame", "LC3", kBar, "100%", false},
      {"Ch_frame(4)", "Input 4", kBar, "No input", true},
      {"Ch_frame(5)", "Input 5", kBar, "20%", false},
      {"Ch_frame(6)", "Input 6", kBar, "No input", true},
      {"Ch_frame(8)", "Input 8", kBar, "60%", false},
  };
  for (const Row& row : rows) {
    const Reported got = Report(native(row.control));
    ASSERT_EQ(got.got, S_OK) << row.control;
    EXPECT_EQ(got.name, row.name) << row.control;
    EXPECT_EQ(got.role, row.role) << row.control;
    EXPECT_EQ(got.value, row.value) << row.control;
    EXPECT_NE(got.state & STATE_SYSTEM_READONLY, 0) << row.control;
    EXPECT_EQ((got.state & STATE_SYSTEM_UNAVAILABLE) != 0, row.absent) << row.control;
    if (row.role == kBar) {
      EXPECT_EQ(got.description, row.absent ? "No input" : "Percent of full scale") << row.control;
      EXPECT_EQ(got.state & STATE_SYSTEM_FOCUSABLE, 0) << row.control;
      RECT outline;
      GetWindowRect(native(row.control), &outline);
      EXPECT_TRUE(EqualRect(&got.at, &outline)) << row.control << ": the outline's place";
    }
  }
  EXPECT_EQ(Report(native("Command1")).name, "Restore factory settings");

  // With no input bit in the mask the window greys the whole potentiometer
  // frame, yet the inputs are there and move: greyed, not absent.
  hid.model(id).set_input_mask(0x00);
  w->SerNo.SetListIndex(0);  // reopen and read back
  Push(id, {0, 0, 0, 13107, 0, 0, 0, 0});
  Tick();
  const Reported greyed = Report(native("Ch_frame(4)"));
  EXPECT_EQ(greyed.value, "20%");
  EXPECT_NE(greyed.state & STATE_SYSTEM_UNAVAILABLE, 0);

  // A client may hold an object after the window is gone: it then answers
  // with an error, never from a control that no longer exists.
  std::vector<IAccessible*> held;
  {
    Win32Form gone;
    for (const char* name : {"lblManuf", "LC2_frame"}) {
      held.push_back(ClientObject(gone.Native(name)));
      ASSERT_NE(held.back(), nullptr) << name;
      EXPECT_EQ(Read(held.back()).got, S_OK) << name;
    }
  }
  for (IAccessible* object : held) {
    const Reported after = Read(object);
    EXPECT_TRUE(FAILED(after.got)) << after.name;
    EXPECT_EQ(after.value, "");
    object->Release();
  }
}

// Windows names a combo box after the static text just before it in window
// order, and the window also names it by Dynamic Annotation.
TEST_F(Win32Window, EachListIsNamedByTheCaptionBeforeIt) {
  Add(u"DEV-1");
  StartStill();
  const std::pair<const char*, const char*> lists[] = {
      {"SerNo", "Label3"}, {"LC1_gain", "Label6"}, {"LC2_gain", "Label8"}, {"LC3_gain", "Label7"}};
  for (const auto& [list, caption] : lists) {
    EXPECT_EQ(GetWindow(native(list), GW_HWNDPREV), native(caption)) << list;
  }
  const Reported got = Report(native("LC1_gain"));
  if (got.role != ROLE_SYSTEM_COMBOBOX) {
    GTEST_SKIP() << "this oleacc has no combo box object (wine's reads a list as role client, "
                 << got.role << ", named by its own text '" << got.name
                 << "') and ignores Dynamic Annotation (wine's SetHwndPropStr is a stub)";
  }
  const std::pair<const char*, const char*> names[] = {{"SerNo", "Serial Number"},
                                                       {"LC1_gain", "LC1 gain"},
                                                       {"LC2_gain", "LC2 gain"},
                                                       {"LC3_gain", "LC3 gain"}};
  for (const auto& [list, name] : names) EXPECT_EQ(Report(native(list)).name, name) << list;
}

// Bars move up to 50 times a second; a screen reader hears of each at most
// twice a second, and last of its value as it ends up.
TEST_F(Win32Window, BarValueChangesAreAnnouncedAtMostTwiceASecond) {
  const auto id = Add(u"DEV-1");
  StartStill();
  heard.clear();
  HWINEVENTHOOK hook =
      SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, &HearValueChange,
                      GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(hook, nullptr);
  const auto pump = [&](DWORD milliseconds) {
    const DWORD until = GetTickCount() + milliseconds;
    do {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      form().DoEvents();
    } while (static_cast<LONG>(until - GetTickCount()) > 0);
  };
  NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, form().hwnd(), OBJID_CLIENT, CHILDID_SELF);
  pump(100);
  if (heard[form().hwnd()].changes == 0) {
    UnhookWinEvent(hook);
    GTEST_SKIP() << "this system delivers no out-of-context win events to its own process";
  }
  heard.clear();
  const DWORD start = GetTickCount();
  for (int tick = 1; tick <= 25; ++tick) {
    // A new percent on every tick, 76% on the last.
    const auto value = static_cast<std::uint16_t>(2000 * tick);
    Push(id, {value, 20000, 20000, 0, value, 0, 0, 0});
    Tick();
    pump(20);
  }
  // One at once, then one per half second at most.
  const int most = 2 + static_cast<int>((GetTickCount() - start) / 500);
  const std::map<HWND, Heard> during = heard;
  pump(700);
  UnhookWinEvent(hook);
  for (const char* bar : {"LC1_frame", "Ch_frame(5)"}) {
    const int changes = during.contains(native(bar)) ? during.at(native(bar)).changes : 0;
    EXPECT_GE(changes, 1) << bar;
    EXPECT_LE(changes, most) << bar << ": 25 changes";
    EXPECT_LE(heard[native(bar)].changes, changes + 1) << bar;
    EXPECT_EQ(heard[native(bar)].value, "76%") << bar << ": the last change was announced";
  }
  EXPECT_EQ(heard[native("LC2_frame")].changes, 1) << "moved once";
  EXPECT_EQ(heard[native("LC2_frame")].value, "31%");
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
