// The utility on the real HID backend.
#include "platform/hidapi_hid.h"
#include "window/qt/run_utility.h"

int main(int argc, char** argv) {
  tensivo::platform::HidapiHid hid;
  return tensivo::window::qt::RunUtility(hid, argc, argv);
}
