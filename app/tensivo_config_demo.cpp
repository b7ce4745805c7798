// The utility on simulated devices, for anyone without the hardware.
#include "sim/demo_world.h"
#include "window/run_utility.h"

int main(int argc, char** argv) {
  auto hid = tensivo::sim::MakeDemoWorld();
  return tensivo::window::RunUtility(*hid, argc, argv);
}
