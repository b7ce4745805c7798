// The virtual device tool's commands and plug cycle, on devices that are
// made but never plugged in: on any machine, without a kernel to take them.
#include "virtual_device/device_console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tensivo::virtual_device {
namespace {

using std::chrono::milliseconds;

// A console on two unplugged USB devices whose output is kept.
struct Console {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  DeviceConsole console{Devices(), Transport::kUsb, -1, out, out};

  static std::vector<std::unique_ptr<VirtualDevice>> Devices() {
    std::vector<std::unique_ptr<VirtualDevice>> devices;
    for (const char* serial : {"A-1", "B-2"}) {
      DeviceTraits traits;
      traits.serial = serial;
      int error = 0;
      devices.push_back(MakeDevice(traits, Transport::kUsb, kUhidPath, error));
      EXPECT_TRUE(devices.back()) << error;
    }
    return devices;
  }
  std::string Said() {
    std::fflush(out);
    return std::string(text, size);
  }
  ~Console() {
    std::fclose(out);
    std::free(text);
  }
};

TEST(VirtualDeviceConsole, CommandsSayWhatTheyDidOrWhatTheCommandsAre) {
  const std::string usage = "commands: unplug N, replug N (N from 1 to 2), status, quit\n";
  const struct {
    std::string line;
    bool goes_on;
    std::string says;
  } cases[] = {
      {"status", true, "1 A-1: unplugged\n2 B-2: unplugged\n"},
      {"  unplug 2 ", true, "2 B-2: unplugged\n"},
      {"", true, ""},
      {"unplug 3", true, usage},
      {"unplug 0", true, usage},
      {"replug", true, usage},
      {"plug 1", true, usage},
      {"quit", false, ""},
      {"exit", false, ""},
  };
  for (const auto& c : cases) {
    Console console;
    EXPECT_EQ(console.console.Command(c.line), c.goes_on) << c.line;
    EXPECT_EQ(console.Said(), c.says) << c.line;
  }
}

TEST(VirtualDeviceConsole, ServeRunsEachLineUntilQuit) {
  Console console;
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const std::string input = "status\nunplug 1\nquit\nstatus\n";
  ASSERT_EQ(write(pipe_fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  console.console.Serve(pipe_fds[0], std::nullopt);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
  EXPECT_EQ(console.Said(), "1 A-1: unplugged\n2 B-2: unplugged\n1 A-1: unplugged\n")
      << "nothing after quit";
}

TEST(VirtualDeviceConsole, PlugCycleTakesTheLastDeviceOutAtTheEndOfEveryPeriod) {
  const PlugCycle cycle{milliseconds(1000), milliseconds(200)};
  const struct {
    int since;
    bool present;
    int next_change;
  } cases[] = {
      {0, true, 800},  {799, true, 1},    {800, false, 200},
      {999, false, 1}, {1000, true, 800}, {5850, false, 150},
  };
  for (const auto& c : cases) {
    const CyclePhase phase = PhaseOf(cycle, milliseconds(c.since));
    EXPECT_EQ(phase.present, c.present) << c.since;
    EXPECT_EQ(phase.next_change.count(), c.next_change) << c.since;
  }
}

}  // namespace
}  // namespace tensivo::virtual_device
