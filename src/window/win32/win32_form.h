// The Win32 front-end: the platform's own controls at the layout table's
// places, mapped onto the control contract. Group boxes hold their controls,
// labels are static controls, lists are drop-down-list combo boxes, the bars
// and their outlines are painted rectangles, and the timer is SetTimer's. It
// builds, maps events and paints; the window's logic is frmMain's.
//
// Texts go through the ANSI ("A") calls, so the system's 8-bit code page is
// the one that shows them.
//
// Every place, size and the face are converted from the layout table's twips
// at the DPI of the monitor the window is on, times the largest scale up to 1
// at which the window, frame and title included, fits that monitor's work
// area; they are converted again when Windows moves the window to a monitor
// of another DPI.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "window/controls.h"
#include "window/form_base.h"

namespace tensivo::window::win32 {

// The height of a font's letters as drawn (its em), in pixels.
int EmPixels(HFONT font);

class Win32Timer;
class Win32Control;
class Win32Accessibility;

class Win32Form final : public FormBase {
 public:
  Win32Form();
  ~Win32Form() override;
  Win32Form(const Win32Form&) = delete;
  Win32Form& operator=(const Win32Form&) = delete;

  ui::Timer& GetTimer() override;

  void Show() override;
  bool Visible() const override;
  void Close() override;
  void DoEvents() override;
  char DecimalPoint() const override;

  // Runs `event` when the message loop gets to it, as a message posted now.
  void Post(ui::Handler event);

  // The message loop of the utility: runs until the window is closed or a
  // WM_QUIT arrives (which closes it), and returns the quit code or 0.
  int Run();

  // Registered once per process.
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  HWND hwnd() const { return hwnd_; }
  // The window of a control of the layout table; a bar is painted by its
  // outline, so it has none of its own (null).
  HWND Native(std::string_view name) const;
  // Where a bar shows its fill, in its outline's client pixels.
  RECT BarPixels(std::string_view bar) const;
  HFONT font() const { return font_; }
  // The monitor's DPI, the scale the window is drawn at to fit its work
  // area, and their product, which every conversion from twips uses.
  int monitor_dpi() const { return monitor_dpi_; }
  double scale() const { return scale_; }
  double dpi() const { return dpi_; }

 private:
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void Build();
  HBRUSH BrushOf(Colour colour);
  std::unique_ptr<ui::Control> MakeControl(const ControlPlace& place, const ui::Control* frame);
  // A child window of the control's frame, or of the form.
  HWND Create(const char* window_class, const ControlPlace& place, DWORD style, DWORD ex_style);
  // Fits the window to the work area of its monitor, or of the one the
  // suggested rectangle is on, at that monitor's DPI.
  void FitMonitor(int monitor_dpi, const RECT* suggested);
  void Place(double dpi);
  void Dispatch(MSG& message);
  void FocusFirstEnabled();

  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  HICON icon_small_ = nullptr;
  HICON icon_big_ = nullptr;
  std::vector<std::pair<COLORREF, HBRUSH>> brushes_;  // one per colour, made when first asked for
  int monitor_dpi_ = 96;
  double scale_ = 1;
  double dpi_ = 96;
  bool closed_ = false;
  // Counts the messages taken from the queue: notifications raised while
  // one message is handled belong to one user action.
  std::uint64_t message_serial_ = 0;
  std::vector<Win32Control*> by_id_;  // WM_COMMAND's control ids, 0-based from kFirstId
  std::vector<HWND> value_labels_;    // shown as display fields
  std::unique_ptr<Win32Timer> timer_;
  std::unique_ptr<Win32Accessibility> accessibility_;
  std::deque<ui::Handler> posted_;
};

}  // namespace tensivo::window::win32
