// The utility on simulated devices, for anyone without the hardware.
#include "platform/demo_world.h"
#include "window/run_utility.h"

int main(int argc, char** argv) {
  auto hid = tensivo::platform::MakeDemoWorld();
  return tensivo::window::RunUtility(*hid, argc, argv);
}
