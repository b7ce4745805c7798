// The utility on simulated devices, for anyone without the hardware.
#include "sim/demo_world.h"
#include "window/win32/run_utility.h"

int main() {
  auto hid = tensivo::sim::MakeDemoWorld();
  return tensivo::window::win32::RunUtility(*hid, tensivo::window::kDemoWindowCaption);
}
