// The utility on simulated devices, for anyone without the hardware.
#include "sim/demo_world.h"
#include "window/qt/run_utility.h"

int main(int argc, char** argv) {
  auto hid = tensivo::sim::MakeDemoWorld();
  return tensivo::window::qt::RunUtility(*hid, argc, argv, tensivo::window::kDemoWindowCaption,
                                         "tensivo-cli --simulate");
}
