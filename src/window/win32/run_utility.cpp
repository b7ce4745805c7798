#include "window/win32/run_utility.h"

#include "window/frm_main.h"
#include "window/win32/win32_form.h"

namespace tensivo::window::win32 {

int RunUtility(platform::HidPlatform& hid) {
  Win32Form form;
  frmMain window(hid, form);
  window.Form_Load();
  return form.Run();
}

}  // namespace tensivo::window::win32
