// The utility on Windows' own HID stack.
#include "platform/windows_hid.h"
#include "window/win32/run_utility.h"

int main() {
  tensivo::platform::WindowsHid hid;
  return tensivo::window::win32::RunUtility(hid);
}
