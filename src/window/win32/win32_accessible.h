// What the Win32 front-end tells Windows' accessibility layer (MSAA, which
// UI Automation also reads through its proxies) beyond what the standard
// objects of its windows say: the names of the lists, what the value labels
// and the painted bars are, and when a bar's value changes.
//
// The platform's own controls keep their own accessible objects (a combo box's
// proxy expands, collapses and selects); they are only named, by Dynamic
// Annotation. A value label and a bar's outline answer WM_GETOBJECT with an
// object of ours that hands everything else to the standard one.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <oleacc.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "window/bar_reading.h"
#include "window/layout.h"

namespace tensivo::window::win32 {

// What a screen reader is told of a window, read when it asks.
struct AccessibleFacts {
  std::string_view name;
  std::string value;
  std::string_view description;
  LONG role = 0;
  LONG state = 0;       // the state bits `state_mask` says are ours
  LONG state_mask = 0;  // the rest are the standard object's
};

// Fills `facts` for `hwnd`, using `context` (which lives as long as the
// program); false when the window no longer stands for a control.
using ReadFacts = bool (*)(HWND hwnd, const void* context, AccessibleFacts& facts);

// The answer to WM_GETOBJECT(OBJID_CLIENT) `wparam` on `hwnd`: an object
// that says what `read` says and delegates the rest (place, parent,
// navigation) to the window's standard client object. 0 where it cannot be
// made, so that the standard answer stands. It reads through the window's
// handle on every call, so a client that holds it after the window is gone
// gets an error, never a control that no longer exists.
LRESULT AnswerGetObject(HWND hwnd, WPARAM wparam, ReadFacts read, const void* context);

// The window's own UTF-8 words for the wide API.
std::wstring WideFromUtf8(std::string_view text);

// Whether WM_GETOBJECT's lparam asks for the client object.
inline bool AsksForClient(LPARAM lparam) {
  return static_cast<DWORD>(lparam) == static_cast<DWORD>(OBJID_CLIENT);
}

// The names given to the platform's controls, and the pace of the bars'
// value-change events: one per bar at once where the last is a gap ago,
// the others from a timer on the form, which runs only while one waits.
class Win32Accessibility {
 public:
  // How often the timer looks for waiting changes: a tenth of a second
  // late at most, against the half-second gap.
  static constexpr UINT kFlushMilliseconds = 100;

  Win32Accessibility(HWND form, UINT_PTR timer_id);
  ~Win32Accessibility();
  Win32Accessibility(const Win32Accessibility&) = delete;
  Win32Accessibility& operator=(const Win32Accessibility&) = delete;

  // Gives a control of the platform's the name `name` (Dynamic Annotation),
  // leaving its accessible object as it is.
  void Name(HWND control, std::string_view name);
  // Gives a control of the platform's the description `description`, UTF-8
  // (Dynamic Annotation); empty takes it back.
  void Describe(HWND control, std::string_view description);
  // Bar `bar` (kBars' order), shown by `outline`, is now at `percent`.
  void BarMoved(std::size_t bar, HWND outline, int percent);
  // The form's timer `timer_id`: announces the changes whose gap is over.
  void OnTimer();
  // The window is closing: nothing waits any more, and the names given
  // are taken back while the controls still exist.
  void Stop();

 private:
  void Announce(std::size_t bar) const;

  HWND form_;
  UINT_PTR timer_id_;
  bool com_ = false;
  IAccPropServices* annotations_ = nullptr;
  std::vector<HWND> named_;
  std::vector<HWND> described_;
  std::array<HWND, kBars.size()> outlines_{};
  ValueNotices<kBars.size()> notices_;
  bool timer_running_ = false;
};

}  // namespace tensivo::window::win32
