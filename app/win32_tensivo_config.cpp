// The utility on the attached devices.
#include "platform/real_hid.h"
#include "window/win32/run_utility.h"

int main() {
  const auto hid = tensivo::platform::MakeRealHid();
  return tensivo::window::win32::RunUtility(*hid);
}
