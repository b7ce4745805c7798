#include "window/win32/run_utility.h"

#include <string>

#include "window/frm_main.h"
#include "window/win32/win32_form.h"

namespace tensivo::window::win32 {

int RunUtility(platform::HidPlatform& hid, std::string_view caption) {
  Win32Form form;
  SetWindowTextA(form.hwnd(), std::string(caption).c_str());
  frmMain window(hid, form);
  window.Form_Load();
  return form.Run();
}

}  // namespace tensivo::window::win32
