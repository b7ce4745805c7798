#include "window/win32/win32_form.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>

#include "window/bar_reading.h"
#include "window/icon_design.h"
#include "window/layout.h"
#include "window/win32/win32_accessible.h"

namespace tensivo::window::win32 {

namespace {

constexpr char kFormClass[] = "TensivoConfigurationForm";
constexpr char kShapeClass[] = "TensivoConfigurationShape";
constexpr DWORD kFormStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
// Control ids start above IDOK and IDCANCEL, which IsDialogMessage sends for
// Enter and Escape.
constexpr int kFirstId = 100;
constexpr UINT_PTR kTimerId = 1;
// Announces the bars' value changes that waited for their gap.
constexpr UINT_PTR kNoticeTimerId = 2;
constexpr UINT kRunPosted = WM_APP + 1;
constexpr UINT kSettleLists = WM_APP + 2;
constexpr UINT kFocusFirst = WM_APP + 3;
// How far a drop-down list opens below its field, in pixels at 96 dpi.
constexpr int kDropHeight = 200;
// The window's classic face.
constexpr double kFacePoints = 9.75;
// A pump handles what is pending; the bound keeps a window that keeps
// posting from holding the tick.
constexpr int kMaxMessagesPerPump = 1000;

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

// user32's per-monitor DPI calls, there from Windows 10 1607 on, looked up
// when the program runs so that it still starts where they are missing.
struct DpiCalls {
  UINT(WINAPI* dpi_for_window)(HWND) = nullptr;
  BOOL(WINAPI* adjust_for_dpi)(RECT*, DWORD, BOOL, DWORD, UINT) = nullptr;
  BOOL(WINAPI* enable_non_client_scaling)(HWND) = nullptr;
};

template <typename F>
void Lookup(HMODULE module, const char* name, F& call) {
  call = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const DpiCalls& User32Dpi() {
  static const DpiCalls calls = [] {
    DpiCalls found;
    if (HMODULE user32 = GetModuleHandleA("user32.dll")) {
      Lookup(user32, "GetDpiForWindow", found.dpi_for_window);
      Lookup(user32, "AdjustWindowRectExForDpi", found.adjust_for_dpi);
      Lookup(user32, "EnableNonClientDpiScaling", found.enable_non_client_scaling);
    }
    return found;
  }();
  return calls;
}

// The DPI of the monitor the window is on; before Windows 10 1607 the
// system's, which every monitor then shares.
int WindowDpi(HWND hwnd) {
  if (User32Dpi().dpi_for_window != nullptr) {
    if (const UINT dpi = User32Dpi().dpi_for_window(hwnd); dpi > 0) return static_cast<int>(dpi);
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

// The window rectangle around a client rectangle, frame and title drawn at
// the given DPI.
RECT WithFrame(RECT client, int dpi) {
  if (User32Dpi().adjust_for_dpi != nullptr) {
    User32Dpi().adjust_for_dpi(&client, kFormStyle, FALSE, 0, static_cast<UINT>(dpi));
  } else {
    AdjustWindowRectEx(&client, kFormStyle, FALSE, 0);
  }
  return client;
}

}  // namespace

int EmPixels(HFONT font) {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return 0;
  HGDIOBJ before = SelectObject(screen, font);
  TEXTMETRICA metrics{};
  const bool got = GetTextMetricsA(screen, &metrics) != FALSE;
  SelectObject(screen, before);
  ReleaseDC(nullptr, screen);
  return got ? static_cast<int>(metrics.tmHeight - metrics.tmInternalLeading) : 0;
}

namespace {

// The window's classic face where it has the size asked for: it is a bitmap
// font of a few sizes, which would stay small at a higher DPI. Its outline
// rendition, on every Windows since 2000, stands in at every other size.
HFONT MakeFace(double dpi) {
  const int em = static_cast<int>(std::lround(kFacePoints * dpi / 72));
  auto make = [em](const char* face) {
    return CreateFontA(-em, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, face);
  };
  if (HFONT classic = make("MS Sans Serif"); classic != nullptr) {
    if (EmPixels(classic) == em) return classic;
    DeleteObject(classic);
  }
  return make("Microsoft Sans Serif");
}

std::string WindowText(HWND hwnd) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

HICON MakeIcon(int size) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP color = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (color == nullptr) return nullptr;
  const auto pixels =
      std::span(static_cast<std::uint32_t*>(bits), static_cast<std::size_t>(size * size));
  const int unit = size / 16;
  for (const IconRect& r : kIconRects) {
    const std::uint32_t argb =
        0xFF000000u | (std::uint32_t{r.red} << 16) | (std::uint32_t{r.green} << 8) | r.blue;
    for (int y = r.top * unit; y < (r.top + r.height) * unit; ++y) {
      for (int x = r.left * unit; x < (r.left + r.width) * unit; ++x) {
        pixels[static_cast<std::size_t>(y * size + x)] = argb;
      }
    }
  }
  // Every pixel is opaque: an all-zero mask, rows padded to 16 bits.
  const std::vector<std::uint8_t> zeros(static_cast<std::size_t>((size + 15) / 16 * 2 * size), 0);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, zeros.data());
  ICONINFO icon{TRUE, 0, 0, mask, color};
  HICON handle = CreateIconIndirect(&icon);
  DeleteObject(mask);
  DeleteObject(color);
  return handle;
}

}  // namespace

// What every control with a window shares: the enabled state the control
// and its frame make together, shown on its window, and the notifications
// its window sends.
class Win32Control {
 public:
  virtual ~Win32Control() = default;
  Win32Control(const Win32Control&) = delete;
  Win32Control& operator=(const Win32Control&) = delete;

  HWND hwnd() const { return hwnd_; }
  virtual bool EnabledHere() const = 0;
  // Shows the enabled state the control and its frame make together.
  virtual void Refresh() {
    // EnableWindow repaints even when nothing changes.
    if (hwnd_ == nullptr || (IsWindowEnabled(hwnd_) != FALSE) == EnabledHere()) return;
    EnableWindow(hwnd_, EnabledHere());
    // A control of the tab order enabled again may take the focus.
    if (EnabledHere() && (GetWindowLongA(hwnd_, GWL_STYLE) & WS_TABSTOP) != 0) {
      PostMessageA(GetAncestor(hwnd_, GA_ROOT), kFocusFirst, 0, 0);
    }
  }
  virtual void OnCommand(WORD /*code*/) {}
  virtual void Settle(bool /*always*/) {}
  // Puts the control where the table says, at that dpi, in that face.
  virtual void Place(const ControlPlace& place, double dpi, HFONT face) {
    SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(face), FALSE);
    SetWindowPos(hwnd_, nullptr, TwipsToPixels(place.left, dpi), TwipsToPixels(place.top, dpi),
                 TwipsToPixels(place.width, dpi), TwipsToPixels(place.height, dpi),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }

 protected:
  explicit Win32Control(HWND hwnd) : hwnd_(hwnd) {}

  HWND hwnd_;
};

namespace {

template <typename Base>
class WithWindow : public InFrame<Base>, public Win32Control {
 public:
  WithWindow(std::string_view name, HWND hwnd, const ui::Control* container)
      : InFrame<Base>(name, container), Win32Control(hwnd) {}
  bool EnabledHere() const override { return this->Enabled(); }

 protected:
  void ShowEnabled(bool /*changed*/) override { Refresh(); }
};

class Win32Frame final : public WithWindow<ui::Frame> {
 public:
  using WithWindow::WithWindow;
  void Hold(Win32Control* member) { members_.push_back(member); }
  void Refresh() override {
    WithWindow::Refresh();
    for (Win32Control* member : members_) member->Refresh();
  }

 private:
  std::vector<Win32Control*> members_;
};

class Win32Label final : public WithWindow<ui::Label> {
 public:
  Win32Label(std::string_view name, HWND hwnd, const ui::Control* container, bool shows_value)
      : WithWindow(name, hwnd, container), shows_value_(shows_value) {}
  std::string Caption() const override { return WindowText(hwnd_); }
  void SetCaption(std::string_view caption) override {
    // The same text set again would still repaint the label and announce it.
    if (WindowText(hwnd_) == caption) return;
    SetWindowTextA(hwnd_, std::string(caption).c_str());
    // A value label's text is its accessible value.
    if (shows_value_) NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, hwnd_, OBJID_CLIENT, CHILDID_SELF);
  }

  // The label names the bar `outline` stands for, which is absent while
  // the label is disabled.
  void Names(HWND outline) { bar_outline_ = outline; }
  void Refresh() override {
    const bool before = IsWindowEnabled(hwnd_) != FALSE;
    WithWindow::Refresh();
    if (bar_outline_ != nullptr && before != (IsWindowEnabled(hwnd_) != FALSE)) {
      NotifyWinEvent(EVENT_OBJECT_STATECHANGE, bar_outline_, OBJID_CLIENT, CHILDID_SELF);
      NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, bar_outline_, OBJID_CLIENT, CHILDID_SELF);
    }
  }

 private:
  bool shows_value_;
  HWND bar_outline_ = nullptr;
};

// A value label as a screen reader reads it: the caption beside it names
// it, and its text is its value. The text's leading space only indents it
// in its display field.
bool ReadValueLabel(HWND hwnd, const void* context, AccessibleFacts& facts) {
  const auto& place = *static_cast<const ControlPlace*>(context);
  facts.name = AccessibleName(place.name);
  facts.value = WindowText(hwnd);
  facts.value.erase(0, facts.value.find_first_not_of(' '));
  facts.role = ROLE_SYSTEM_STATICTEXT;
  facts.state = STATE_SYSTEM_READONLY;
  facts.state_mask = STATE_SYSTEM_READONLY | STATE_SYSTEM_FOCUSABLE;
  return true;
}

// A value label's window, subclassed to answer for itself; `data` is its
// place in the layout table.
LRESULT CALLBACK ValueLabelProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                DWORD_PTR data) {
  if (message == WM_GETOBJECT && AsksForClient(lparam)) {
    if (const LRESULT answer =
            AnswerGetObject(hwnd, wparam, &ReadValueLabel, reinterpret_cast<const void*>(data))) {
      return answer;
    }
  } else if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &ValueLabelProc, id);
  }
  return DefSubclassProc(hwnd, message, wparam, lparam);
}

// A drop-down list. Win32 raises CBN_SELCHANGE for every move of the
// highlight in an open list and nothing for CB_SETCURSEL, so a pick is what
// the user commits: CBN_SELENDOK, or a change in the closed list (arrow
// keys, wheel), which some versions report with both notifications for the
// one key; those two count once.
//
// Every details read empties the gain lists and fills them again with the
// same 2560 entries, which the control takes tens of milliseconds to add
// under wine. An emptied list therefore keeps its entries out of sight for
// as long as nobody can reach them: it shows an empty field, counts none,
// and really lets them go once it can be opened again or something else is
// put in. A refill with the same entries just shows them again.
class Win32List final : public WithWindow<ui::List> {
 public:
  Win32List(std::string_view name, HWND hwnd, const ui::Control* container, HWND form,
            const std::uint64_t& message_serial, Win32Accessibility& accessibility)
      : WithWindow(name, hwnd, container),
        form_(form),
        message_serial_(message_serial),
        accessibility_(accessibility) {}

  void SetPlaceholder(ui::Placeholder placeholder) override {
    placeholder_ = placeholder;
    placeholder_wide_ = WideFromUtf8(placeholder.text);
    accessibility_.Describe(hwnd_, placeholder.hint.empty() ? placeholder.text : placeholder.hint);
    InvalidateRect(hwnd_, nullptr, TRUE);
  }
  ui::Placeholder GetPlaceholder() const override { return placeholder_; }

  // Over what the control painted: its cue banner shows only on some
  // versions, and never in a disabled list, where the window searches.
  void PaintPlaceholder() const {
    if (placeholder_wide_.empty() || ListIndex() >= 0) return;
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    if (GetComboBoxInfo(hwnd_, &info) == FALSE) return;
    HDC dc = GetDC(hwnd_);
    if (dc == nullptr) return;
    const auto font = reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
    HGDIOBJ before = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    RECT room = info.rcItem;
    room.left += 2;
    DrawTextW(dc, placeholder_wide_.c_str(), static_cast<int>(placeholder_wide_.size()), &room,
              DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, before);
    ReleaseDC(hwnd_, dc);
  }

  void Clear() override {
    if (shown_.empty()) return;
    SendMessageA(hwnd_, CB_SHOWDROPDOWN, FALSE, 0);
    SendMessageA(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    hidden_ = true;
    // Still reachable once the handler returns: let go before any input.
    if (EnabledHere()) PostMessageA(form_, kSettleLists, 0, 0);
  }

  void Fill(std::span<const std::string> items) override {
    if (hidden_ && std::ranges::equal(items, shown_)) {
      hidden_ = false;
      return;
    }
    // Storage reserved in one step and no repaint per entry.
    std::size_t bytes = 0;
    for (const std::string& item : items) bytes += item.size() + 1;
    SendMessageA(hwnd_, WM_SETREDRAW, FALSE, 0);
    SendMessageA(hwnd_, CB_RESETCONTENT, 0, 0);
    SendMessageA(hwnd_, CB_INITSTORAGE, items.size(), static_cast<LPARAM>(bytes));
    for (const std::string& item : items) {
      SendMessageA(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
    SendMessageA(hwnd_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hwnd_, nullptr, TRUE);
    shown_.assign(items.begin(), items.end());
    hidden_ = false;
  }

  void AddItem(std::string_view item) override {
    Settle(true);
    SendMessageA(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::string(item).c_str()));
    shown_.emplace_back(item);
  }

  int ListCount() const override {
    return hidden_ ? 0 : static_cast<int>(SendMessageA(hwnd_, CB_GETCOUNT, 0, 0));
  }

  std::string ItemText(int index) const override {
    const LRESULT length = SendMessageA(hwnd_, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (hidden_ || index < 0 || length == CB_ERR) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT got = SendMessageA(hwnd_, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                     reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == CB_ERR ? 0 : static_cast<std::size_t>(got));
    return text;
  }

  int ListIndex() const override {
    return hidden_ ? -1 : static_cast<int>(SendMessageA(hwnd_, CB_GETCURSEL, 0, 0));
  }

  std::string Text() const override { return ItemText(ListIndex()); }

  void Refresh() override {
    WithWindow::Refresh();
    Settle(false);
  }

  void Place(const ControlPlace& place, double dpi, HFONT face) override {
    SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(face), FALSE);
    const int wanted = TwipsToPixels(place.height, dpi);
    SetWindowPos(hwnd_, nullptr, TwipsToPixels(place.left, dpi), TwipsToPixels(place.top, dpi),
                 TwipsToPixels(place.width, dpi),
                 wanted + static_cast<int>(std::lround(kDropHeight * dpi / 96)),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    // The closed field as high as the layout says. Its height follows the
    // entries' height by a rule each version keeps to itself (wine reads
    // back two more than it was given), so it is set until it fits.
    LRESULT field = SendMessageA(hwnd_, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    for (int i = 0; i < 3 && field > 0; ++i) {
      SendMessageA(hwnd_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
      RECT now;
      GetWindowRect(hwnd_, &now);
      if (now.bottom - now.top == wanted) break;
      field += wanted - (now.bottom - now.top);
    }
  }

  // Lets the entries of an emptied list go, now that someone could reach
  // them (or always).
  void Settle(bool always) override {
    if (!hidden_ || !(always || EnabledHere())) return;
    SendMessageA(hwnd_, CB_RESETCONTENT, 0, 0);
    shown_.clear();
    hidden_ = false;
  }

  void OnCommand(WORD code) override {
    switch (code) {
      case CBN_DROPDOWN:
        list_open_ = true;
        index_at_drop_ = ListIndex();
        break;
      case CBN_CLOSEUP:
        list_open_ = false;
        break;
      case CBN_SELENDOK:
        if (PairedWith(kChange)) break;
        Raise(kCommit);
        break;
      case CBN_SELENDCANCEL:
        // Browsing an open list and leaving it is no pick: what was shown
        // stays shown, and nothing reaches the device.
        if (list_open_ && ListIndex() != index_at_drop_) Select(index_at_drop_);
        break;
      case CBN_SELCHANGE:
        if (list_open_ || PairedWith(kCommit)) break;
        Raise(kChange);
        break;
      default:
        break;
    }
  }

 protected:
  void Select(int index) override {
    SendMessageA(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(hidden_ ? -1 : index), 0);
  }

 private:
  enum Notice { kNone, kCommit, kChange };

  // The other half of a pair raised for the same message: consumed.
  bool PairedWith(Notice other) {
    const bool paired = raised_ == other && raised_serial_ == message_serial_;
    if (paired) raised_ = kNone;
    return paired;
  }

  void Raise(Notice notice) {
    raised_ = notice;
    raised_serial_ = message_serial_;
    if (Click) Click();
  }

  HWND form_;
  const std::uint64_t& message_serial_;
  Win32Accessibility& accessibility_;
  ui::Placeholder placeholder_;
  std::wstring placeholder_wide_;
  std::vector<std::string> shown_;  // the control's entries
  bool hidden_ = false;             // emptied for everyone but the control
  bool list_open_ = false;
  int index_at_drop_ = -1;
  Notice raised_ = kNone;
  std::uint64_t raised_serial_ = 0;
};

// A list's window, subclassed to paint its placeholder; `data` is the list.
LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                          DWORD_PTR data) {
  if (message == WM_PAINT) {
    const LRESULT painted = DefSubclassProc(hwnd, message, wparam, lparam);
    reinterpret_cast<const Win32List*>(data)->PaintPlaceholder();
    return painted;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(hwnd, &ListProc, id);
  return DefSubclassProc(hwnd, message, wparam, lparam);
}

class Win32Bar;

// A white rectangle with a black border, in a window of its own that also
// paints the bars growing inside it.
class Win32Outline final : public WithWindow<ui::Shape> {
 public:
  Win32Outline(std::string_view name, HWND hwnd, const ui::Control* container, double width,
               HBRUSH fill, HBRUSH border)
      : WithWindow(name, hwnd, container), width_(width), fill_(fill), border_(border) {}

  double Width() const override { return width_; }
  void SetWidth(double twips) override {
    if (twips == width_) return;
    width_ = twips;
    SetWindowPos(hwnd_, nullptr, 0, 0, TwipsToPixels(twips, dpi_), height_px_,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void Place(const ControlPlace& place, double dpi, HFONT /*face*/) override {
    dpi_ = dpi;
    height_px_ = TwipsToPixels(place.height, dpi);
    SetWindowPos(hwnd_, nullptr, TwipsToPixels(place.left, dpi), TwipsToPixels(place.top, dpi),
                 TwipsToPixels(width_, dpi), height_px_, SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void Track(const Win32Bar* bar) { bars_.push_back(bar); }
  // The bar the outline stands for with a screen reader, or null.
  const Win32Bar* bar() const { return bars_.empty() ? nullptr : bars_.front(); }
  void Paint(HDC dc) const;

 private:
  double width_;
  int height_px_ = 0;
  double dpi_ = 96;
  HBRUSH fill_;
  HBRUSH border_;
  std::vector<const Win32Bar*> bars_;
};

// A green bar: no window of its own; its outline paints it, and a change of
// width repaints only the strip that changed. Its outline stands for it with
// a screen reader, which hears of each change of its percent at the pace
// the form's announcements keep.
class Win32Bar final : public WithWindow<ui::Shape> {
 public:
  Win32Bar(std::string_view name, const ui::Control* container, const Win32Outline& outline,
           const ControlPlace& outline_place, double width, HBRUSH fill, const ui::Control& label,
           std::size_t index, Win32Accessibility& accessibility)
      : WithWindow(name, nullptr, container),
        outline_(outline),
        outline_place_(outline_place),
        width_(width),
        fill_(fill),
        label_(label),
        frame_(container),
        index_(index),
        accessibility_(accessibility),
        percent_(BarPercent(width, outline.Width())) {}

  // Inside the outline, short of its right border by a pixel.
  void Place(const ControlPlace& place, double dpi, HFONT /*face*/) override {
    dpi_ = dpi;
    const ControlPlace& at = outline_place_;
    const int left = TwipsToPixels(place.left, dpi) - TwipsToPixels(at.left, dpi);
    const int top = TwipsToPixels(place.top, dpi) - TwipsToPixels(at.top, dpi);
    area_ =
        RECT{left, top, TwipsToPixels(at.width, dpi) - 2, top + TwipsToPixels(place.height, dpi)};
  }

  double Width() const override { return width_; }
  void SetWidth(double twips) override {
    if (const int percent = BarPercent(twips, outline_.Width()); percent != percent_) {
      percent_ = percent;
      accessibility_.BarMoved(index_, outline_.hwnd(), percent);
    }
    const int before = FilledPixels();
    width_ = twips;
    const int after = FilledPixels();
    if (after == before) return;
    const RECT strip{area_.left + std::min(before, after), area_.top,
                     area_.left + std::max(before, after), area_.bottom};
    InvalidateRect(outline_.hwnd(), &strip, FALSE);
  }

  HBRUSH fill() const { return fill_; }
  int Percent() const { return BarPercent(width_, outline_.Width()); }
  bool Absent() const {
    return InputAbsent(label_.Enabled(), frame_ == nullptr || frame_->Enabled());
  }
  RECT Filled() const {
    return RECT{area_.left, area_.top, area_.left + FilledPixels(), area_.bottom};
  }

 private:
  int FilledPixels() const {
    return std::clamp(TwipsToPixels(width_, dpi_), 0,
                      std::max(0, static_cast<int>(area_.right - area_.left)));
  }

  const Win32Outline& outline_;
  const ControlPlace& outline_place_;
  RECT area_{};  // where the bar may grow, in the outline's client pixels
  double width_;
  double dpi_ = 96;
  HBRUSH fill_;
  const ui::Control& label_;
  const ui::Control* frame_;
  std::size_t index_;  // in kBars
  Win32Accessibility& accessibility_;
  int percent_;  // as last announced to the form's pace
};

void Win32Outline::Paint(HDC dc) const {
  RECT rect;
  GetClientRect(hwnd_, &rect);
  FillRect(dc, &rect, border_);
  InflateRect(&rect, -1, -1);
  FillRect(dc, &rect, fill_);
  for (const Win32Bar* bar : bars_) {
    const RECT filled = bar->Filled();
    FillRect(dc, &filled, bar->fill());
  }
}

// An outline as a screen reader reads it: the progress bar it shows.
bool ReadBar(HWND hwnd, const void* /*context*/, AccessibleFacts& facts) {
  const auto* outline =
      reinterpret_cast<const Win32Outline*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  const Win32Bar* bar = outline != nullptr ? outline->bar() : nullptr;
  if (bar == nullptr) return false;
  const bool absent = bar->Absent();
  facts.name = AccessibleName(bar->Name());
  facts.value = BarValueText(bar->Percent(), absent);
  facts.description = absent ? kNoInputText : kBarRangeText;
  facts.role = ROLE_SYSTEM_PROGRESSBAR;
  // Unavailable where absent, or greyed with its frame as the outline is.
  const bool greyed = absent || IsWindowEnabled(hwnd) == FALSE;
  facts.state = STATE_SYSTEM_READONLY | (greyed ? STATE_SYSTEM_UNAVAILABLE : 0);
  facts.state_mask = STATE_SYSTEM_READONLY | STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_FOCUSABLE;
  return true;
}

LRESULT CALLBACK ShapeProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_GETOBJECT:
      if (AsksForClient(lparam)) {
        if (const LRESULT answer = AnswerGetObject(hwnd, wparam, &ReadBar, nullptr)) return answer;
      }
      return DefWindowProcA(hwnd, message, wparam, lparam);
    case WM_NCDESTROY:
      // An accessible object still held finds no outline any more.
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      return DefWindowProcA(hwnd, message, wparam, lparam);
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      if (const auto* outline =
              reinterpret_cast<const Win32Outline*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))) {
        outline->Paint(dc);
      }
      EndPaint(hwnd, &paint);
      return 0;
    }
    default:
      return DefWindowProcA(hwnd, message, wparam, lparam);
  }
}

class Win32Button final : public WithWindow<ui::Button> {
 public:
  using WithWindow::WithWindow;
  void OnCommand(WORD code) override {
    if (code == BN_CLICKED && Click) Click();
  }
};

// A group box that holds its controls: their notifications and colour
// requests go to the window, and it clears its own interior. The button
// class's own procedure is kept in the box's user data.
LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
      return SendMessageA(GetAncestor(hwnd, GA_ROOT), message, wparam, lparam);
    case WM_ERASEBKGND: {
      RECT rect;
      GetClientRect(hwnd, &rect);
      FillRect(reinterpret_cast<HDC>(wparam), &rect, GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    default:
      return CallWindowProcA(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)),
                             hwnd, message, wparam, lparam);
  }
}

void RegisterClasses() {
  static const bool registered = [] {
    // The manifest asks for common controls 6; this loads it before the
    // first control is made.
    INITCOMMONCONTROLSEX common{sizeof(common), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&common);
    WNDCLASSEXA form{};
    form.cbSize = sizeof(form);
    form.lpfnWndProc = &Win32Form::WindowProc;
    form.hInstance = Instance();
    form.hCursor = LoadCursor(nullptr, IDC_ARROW);
    form.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    form.lpszClassName = kFormClass;
    WNDCLASSEXA shape{};
    shape.cbSize = sizeof(shape);
    shape.lpfnWndProc = &ShapeProc;
    shape.hInstance = Instance();
    shape.hCursor = LoadCursor(nullptr, IDC_ARROW);
    shape.lpszClassName = kShapeClass;
    return RegisterClassExA(&form) != 0 && RegisterClassExA(&shape) != 0;
  }();
  if (!registered) throw std::runtime_error("cannot register the window classes");
}

}  // namespace

class Win32Timer final : public ui::Timer {
 public:
  explicit Win32Timer(HWND owner) : Timer(kTimerName), owner_(owner) {}
  ~Win32Timer() override { SetEnabled(false); }

  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override {
    enabled_ = enabled;
    if (enabled) {
      SetTimer(owner_, kTimerId, static_cast<UINT>(interval_), nullptr);
    } else {
      KillTimer(owner_, kTimerId);
    }
  }
  int Interval() const override { return interval_; }
  void SetInterval(int milliseconds) override {
    interval_ = milliseconds;
    if (enabled_) SetTimer(owner_, kTimerId, static_cast<UINT>(interval_), nullptr);
  }

  // A WM_TIMER still queued when the timer was stopped is not a tick.
  void OnTimer() {
    if (enabled_) Fire();
  }

 private:
  HWND owner_;
  bool enabled_ = false;
  int interval_ = kTimerInitialInterval;
};

Win32Form::Win32Form() {
  RegisterClasses();
  icon_small_ = MakeIcon(16);
  icon_big_ = MakeIcon(32);
  // Sized once it is known which monitor it is on.
  hwnd_ = CreateWindowExA(0, kFormClass, std::string(kWindowCaption).c_str(), kFormStyle,
                          CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr, nullptr, Instance(), this);
  if (hwnd_ == nullptr) throw std::runtime_error("cannot create the window (no display?)");
  accessibility_ = std::make_unique<Win32Accessibility>(hwnd_, kNoticeTimerId);
  SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_small_));
  SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_big_));
  Build();
  FitMonitor(WindowDpi(hwnd_), nullptr);
  timer_ = std::make_unique<Win32Timer>(hwnd_);
}

void Win32Form::FitMonitor(int monitor_dpi, const RECT* suggested) {
  HMONITOR monitor = suggested != nullptr ? MonitorFromRect(suggested, MONITOR_DEFAULTTONEAREST)
                                          : MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  RECT work{0, 0, 1024, 768};
  if (GetMonitorInfoA(monitor, &info)) work = info.rcWork;
  const RECT frame = WithFrame(RECT{0, 0, 0, 0}, monitor_dpi);
  monitor_dpi_ = monitor_dpi;
  scale_ = FitScale(monitor_dpi, (work.right - work.left) - (frame.right - frame.left),
                    (work.bottom - work.top) - (frame.bottom - frame.top));
  Place(monitor_dpi_ * scale_);

  const RECT outer =
      WithFrame(RECT{0, 0, TwipsToPixels(kClientWidth, dpi_), TwipsToPixels(kClientHeight, dpi_)},
                monitor_dpi_);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  RECT at{};
  if (suggested != nullptr) {
    at = *suggested;
  } else {
    GetWindowRect(hwnd_, &at);
  }
  // The whole frame on the work area, where the area is large enough.
  const LONG left = std::clamp(at.left, work.left, std::max(work.left, work.right - width));
  const LONG top = std::clamp(at.top, work.top, std::max(work.top, work.bottom - height));
  SetWindowPos(hwnd_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  // The client area is what the layout fills. A frame drawn at another DPI
  // than the one asked for (wine's, at the system's) takes the difference.
  RECT client;
  GetClientRect(hwnd_, &client);
  const int wider = TwipsToPixels(kClientWidth, dpi_) - client.right;
  const int taller = TwipsToPixels(kClientHeight, dpi_) - client.bottom;
  if (wider != 0 || taller != 0) {
    SetWindowPos(hwnd_, nullptr, 0, 0, width + wider, height + taller,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void Win32Form::Place(double dpi) {
  dpi_ = dpi;
  HFONT face = MakeFace(dpi);
  for (const ControlPlace& place : kLayout) {
    controls_.Get<Win32Control>(place.name).Place(place, dpi, face);
  }
  if (font_ != nullptr) DeleteObject(font_);
  font_ = face;
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

Win32Form::~Win32Form() {
  timer_.reset();
  accessibility_->Stop();
  SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
  DeleteObject(font_);
  for (const auto& [colour, brush] : brushes_) DeleteObject(brush);
  DestroyIcon(icon_small_);
  DestroyIcon(icon_big_);
}

HBRUSH Win32Form::BrushOf(Colour colour) {
  const COLORREF rgb = RGB(colour.red, colour.green, colour.blue);
  const auto made = std::ranges::find(brushes_, rgb, &std::pair<COLORREF, HBRUSH>::first);
  if (made != brushes_.end()) return made->second;
  return brushes_.emplace_back(rgb, CreateSolidBrush(rgb)).second;
}

HWND Win32Form::Create(const char* window_class, const ControlPlace& place, DWORD style,
                       DWORD ex_style) {
  HWND parent = place.container.empty() ? hwnd_ : Native(place.container);
  const int id = kFirstId + static_cast<int>(by_id_.size());
  HWND hwnd = CreateWindowExA(
      ex_style, window_class, std::string(place.caption).c_str(), WS_CHILD | WS_VISIBLE | style, 0,
      0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
  if (hwnd == nullptr) throw std::runtime_error("cannot create " + std::string(place.name));
  return hwnd;
}

void Win32Form::Build() {
  // Place() puts each where the table says, at the monitor's DPI.
  BuildLayout([this](const ControlPlace& place, const ui::Control* frame) {
    std::unique_ptr<ui::Control> control = MakeControl(place, frame);
    auto* native = dynamic_cast<Win32Control*>(control.get());
    if (frame != nullptr) controls_.Get<Win32Frame>(place.container).Hold(native);
    // WM_COMMAND's control ids count the controls with a window.
    if (native->hwnd() != nullptr) by_id_.push_back(native);
    return control;
  });
}

std::unique_ptr<ui::Control> Win32Form::MakeControl(const ControlPlace& place,
                                                    const ui::Control* frame) {
  switch (place.kind) {
    case Kind::kFrame: {
      HWND box = Create("BUTTON", place, BS_GROUPBOX | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT);
      SetWindowLongPtrA(box, GWLP_USERDATA, GetWindowLongPtrA(box, GWLP_WNDPROC));
      SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FrameProc));
      return std::make_unique<Win32Frame>(place.name, box, frame);
    }
    case Kind::kLabel:
    case Kind::kValueLabel: {
      HWND label = Create("STATIC", place, SS_LEFT | SS_NOPREFIX, 0);
      const bool shows_value = place.kind == Kind::kValueLabel;
      if (shows_value) {
        value_labels_.push_back(label);
        SetWindowSubclass(label, &ValueLabelProc, 0, reinterpret_cast<DWORD_PTR>(&place));
      }
      return std::make_unique<Win32Label>(place.name, label, frame, shows_value);
    }
    case Kind::kList: {
      HWND combo = Create("COMBOBOX", place, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0);
      // Windows names a combo box after the static text before it, which
      // the table puts there; this says it where that rule is not kept.
      accessibility_->Name(combo, AccessibleName(place.name));
      auto list = std::make_unique<Win32List>(place.name, combo, frame, hwnd_, message_serial_,
                                              *accessibility_);
      SetWindowSubclass(combo, &ListProc, 0, reinterpret_cast<DWORD_PTR>(list.get()));
      return list;
    }
    case Kind::kOutline: {
      HWND shape = Create(kShapeClass, place, 0, 0);
      const ShapePaint& paint = PaintOf(place);
      auto outline = std::make_unique<Win32Outline>(place.name, shape, frame, place.width,
                                                    BrushOf(paint.fill), BrushOf(paint.border));
      SetWindowLongPtrA(shape, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(outline.get()));
      return outline;
    }
    case Kind::kBar: {
      const auto bar_place = std::ranges::find(kBars, place.name, &BarPlace::bar);
      const ControlPlace& at = *FindPlace(bar_place->outline);
      auto& outline = controls_.Get<Win32Outline>(at.name);
      auto& label = controls_.Get<Win32Label>(LabelOf(place.name));
      auto bar = std::make_unique<Win32Bar>(
          place.name, frame, outline, at, place.width, BrushOf(PaintOf(place).fill), label,
          static_cast<std::size_t>(bar_place - kBars.begin()), *accessibility_);
      outline.Track(bar.get());
      label.Names(outline.hwnd());
      return bar;
    }
    case Kind::kButton:
      return std::make_unique<Win32Button>(
          place.name, Create("BUTTON", place, BS_PUSHBUTTON | WS_TABSTOP, 0), frame);
  }
  return nullptr;
}

ui::Timer& Win32Form::GetTimer() { return *timer_; }

HWND Win32Form::Native(std::string_view name) const {
  return controls_.Get<Win32Control>(name).hwnd();
}

RECT Win32Form::BarPixels(std::string_view bar) const {
  return controls_.Get<Win32Bar>(bar).Filled();
}

void Win32Form::Show() {
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
  PostMessageA(hwnd_, kFocusFirst, 0, 0);
}

// Once the handler that enabled something is done: the focus goes to the
// first enabled control of the tab order, unless an enabled one has it.
void Win32Form::FocusFirstEnabled() {
  HWND focused = GetFocus();
  const bool held = focused != nullptr && IsChild(hwnd_, focused) && IsWindowEnabled(focused);
  if (const ui::Control* target = FocusTarget(held)) SetFocus(Native(target->Name()));
}

bool Win32Form::Visible() const { return IsWindowVisible(hwnd_) != FALSE; }

void Win32Form::Close() {
  if (!closed_) SendMessageA(hwnd_, WM_CLOSE, 0, 0);
}

void Win32Form::Dispatch(MSG& message) {
  ++message_serial_;
  if (message.message == WM_MOUSEWHEEL) {
    const auto over = std::ranges::find(by_id_, message.hwnd, &Win32Control::hwnd);
    if (over != by_id_.end() && !WheelReaches(dynamic_cast<const ui::Control&>(**over).Name(),
                                              message.hwnd == GetFocus())) {
      return;
    }
  }
  // Tab and Shift+Tab move between the lists and the button.
  if (IsDialogMessageA(hwnd_, &message)) return;
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

void Win32Form::DoEvents() {
  MSG message;
  for (int n = 0; n < kMaxMessagesPerPump && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
       ++n) {
    if (message.message == WM_QUIT) {
      // Not ours to take: the loop that owns the thread must see it too.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    Dispatch(message);
  }
}

int Win32Form::Run() {
  int code = 0;
  MSG message;
  while (!closed_) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) code = static_cast<int>(message.wParam);
    if (got == 0 || got == -1) break;
    Dispatch(message);
  }
  Close();
  return code;
}

void Win32Form::Post(ui::Handler event) {
  if (closed_) return;
  posted_.push_back(std::move(event));
  PostMessageA(hwnd_, kRunPosted, 0, 0);
}

char Win32Form::DecimalPoint() const {
  char point[8] = {};
  const int length = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, point, sizeof(point));
  return length == 2 && point[0] != '\0' ? point[0] : '.';
}

LRESULT CALLBACK Win32Form::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* form =
        static_cast<Win32Form*>(reinterpret_cast<const CREATESTRUCTA*>(lparam)->lpCreateParams);
    form->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    // Frame and title follow the monitor's DPI under per-monitor v1 too
    // (v2 has it anyway).
    if (User32Dpi().enable_non_client_scaling != nullptr) {
      User32Dpi().enable_non_client_scaling(hwnd);
    }
  }
  auto* form = reinterpret_cast<Win32Form*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  return form != nullptr ? form->Handle(message, wparam, lparam)
                         : DefWindowProcA(hwnd, message, wparam, lparam);
}

LRESULT Win32Form::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      const int index = LOWORD(wparam) - kFirstId;
      if (lparam != 0 && index >= 0 && index < static_cast<int>(by_id_.size())) {
        by_id_[static_cast<std::size_t>(index)]->OnCommand(HIWORD(wparam));
      }
      return 0;
    }
    case WM_TIMER:
      if (wparam == kTimerId && timer_) timer_->OnTimer();
      if (wparam == kNoticeTimerId) accessibility_->OnTimer();
      return 0;
    case WM_CTLCOLORSTATIC:
      if (std::ranges::find(value_labels_, reinterpret_cast<HWND>(lparam)) != value_labels_.end()) {
        // A display field: window background, window text.
        const auto dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      return DefWindowProcA(hwnd_, message, wparam, lparam);
    case WM_CLOSE:
      if (closed_) return 0;
      closed_ = true;
      if (Unload) Unload();
      timer_->SetEnabled(false);
      posted_.clear();
      ShowWindow(hwnd_, SW_HIDE);
      return 0;
    // Both only once the window is built: the timer comes last.
    case WM_DPICHANGED:
      if (timer_) FitMonitor(LOWORD(wparam), reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_DISPLAYCHANGE:
      if (timer_) FitMonitor(monitor_dpi_, nullptr);
      return 0;
    case kFocusFirst:
      if (!closed_) FocusFirstEnabled();
      return 0;
    case kSettleLists:
      controls_.ForEach([](ui::Control& control) {
        if (auto* native = dynamic_cast<Win32Control*>(&control)) native->Settle(false);
      });
      return 0;
    case kRunPosted:
      if (!posted_.empty()) {
        ui::Handler event = std::move(posted_.front());
        posted_.pop_front();
        event();
      }
      return 0;
    default:
      return DefWindowProcA(hwnd_, message, wparam, lparam);
  }
}

}  // namespace tensivo::window::win32
