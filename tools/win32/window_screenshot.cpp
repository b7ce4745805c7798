// Runs the demo's window at the desktop's top-left corner for a while, for a
// picture of it taken from the screen (scripts/screenshot). Prints the
// window's size and place on the screen as an X geometry, WxH+X+Y, as soon
// as it is shown.
//
//   tensivo-window-screenshot.exe [MILLISECONDS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "sim/demo_world.h"
#include "window/frm_main.h"
#include "window/win32/win32_form.h"

int main(int argc, char** argv) {
  const int run_ms = argc > 1 ? std::atoi(argv[1]) : 3000;
  auto hid = tensivo::sim::MakeDemoWorld();
  tensivo::window::win32::Win32Form form;
  tensivo::window::frmMain window(*hid, form);
  SetWindowPos(form.hwnd(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  window.Form_Load();
  RECT outer;
  GetWindowRect(form.hwnd(), &outer);
  std::printf("%ldx%ld+%ld+%ld\n", outer.right - outer.left, outer.bottom - outer.top, outer.left,
              outer.top);
  std::fflush(stdout);
  SetTimer(nullptr, 0, static_cast<UINT>(run_ms),
           [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(0); });
  return form.Run();
}
