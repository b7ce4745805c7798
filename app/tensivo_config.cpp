// The utility on the attached devices.
#include "platform/real_hid.h"
#include "window/qt/run_utility.h"

int main(int argc, char** argv) {
  const auto hid = tensivo::platform::MakeRealHid();
  return tensivo::window::qt::RunUtility(*hid, argc, argv);
}
