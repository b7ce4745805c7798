#include "sim/demo_world.h"

namespace tensivo::sim {

std::unique_ptr<SimulatedHid> MakeDemoWorld() {
  using std::chrono::milliseconds;
  auto hid = std::make_unique<SimulatedHid>();
  hid->AddForeign(0x046D, 0xC31C);

  SimulatedDeviceTraits first;
  first.serial = u"24-0017";
  const auto a = hid->AddDevice(first);
  hid->model(a).set_input_mask(0x28);  // inputs 4 and 6 not fitted

  SimulatedDeviceTraits second;
  second.serial = u"24-0230";
  const auto b = hid->AddDevice(second);
  hid->model(b).set_input_mask(0x80);  // input 8 not fitted
  // LC1 at gain 8.0312 and LC3 at gain 256; LC2 left at the factory's 500.
  auto& regs = hid->model(b).registers();
  regs[0] = 8 + 3, regs[1] = 0, regs[6] = 1;
  regs[4] = 8 + 7, regs[5] = 1, regs[8] = 0;

  for (const auto device : {a, b}) hid->StreamInputs(device, true);
  // The open device leaves first and the other after it, so that the list
  // the window read while searching stays true until it searches again.
  hid->SetPlugCycle(b, milliseconds(120'000), milliseconds(60'000), milliseconds(100'000));
  hid->SetPlugCycle(a, milliseconds(120'000), milliseconds(80'000), milliseconds(100'000));
  hid->FollowWallClock();
  return hid;
}

}  // namespace tensivo::sim
