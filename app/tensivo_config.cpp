// The utility on the real HID backend.
#include "platform/hidapi_hid.h"
#include "window/run_utility.h"

int main(int argc, char** argv) {
  tensivo::platform::HidapiHid hid;
  return tensivo::window::RunUtility(hid, argc, argv);
}
