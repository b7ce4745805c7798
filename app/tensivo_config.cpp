// The utility on the real HID backend.
#include "platform/linux_hidraw.h"
#include "window/qt/run_utility.h"

int main(int argc, char** argv) {
  tensivo::platform::LinuxHidraw hid;
  return tensivo::window::qt::RunUtility(hid, argc, argv);
}
