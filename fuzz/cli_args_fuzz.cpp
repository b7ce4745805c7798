// Any argument vector (the input split at NUL bytes) against simulated
// devices, some with text that would drive a terminal: every run ends with
// one of the documented exit codes, and what it writes holds no control
// character but the line feed.
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "sim/simulated_hid.h"

namespace {

using tensivo::sim::SimulatedDeviceTraits;
using tensivo::sim::SimulatedHid;

std::filesystem::path g_scratch;

// The devices whose inputs stream: a plain one and one with odd text.
std::array<SimulatedHid::DeviceId, 2> AddDevices(SimulatedHid& hid) {
  SimulatedDeviceTraits plain;
  plain.serial = u"24-0001";
  const auto first = hid.AddDevice(plain);
  SimulatedDeviceTraits odd;
  odd.serial = u"TV-\u00E9\u011B[2J";
  odd.manufacturer = u"M\u00FCller\u0107\u010A";
  const auto second = hid.AddDevice(odd);
  SimulatedDeviceTraits short_features;
  short_features.serial = u"S3";
  short_features.feature_length = 3;
  short_features.input_length = 5;
  hid.AddDevice(short_features);
  return {first, second};
}

bool Safe(const std::string& text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\n') || byte == 0x7F) return false;
  }
  return true;
}

}  // namespace

// Profiles are written and read in a scratch folder of the run's own, never
// where a path would point; libFuzzer's own relative paths are resolved
// between runs, in the folder it was started in.
class InScratch {
 public:
  InScratch() : home_(std::filesystem::current_path()) {
    if (g_scratch.empty()) {
      g_scratch =
          std::filesystem::temp_directory_path() / ("tensivo-cli-fuzz-" + std::to_string(getpid()));
      std::filesystem::create_directories(g_scratch);
      std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(g_scratch, ignored);
      });
    }
    std::filesystem::current_path(g_scratch);
  }
  ~InScratch() {
    for (const auto& entry : std::filesystem::directory_iterator(g_scratch)) {
      std::filesystem::remove_all(entry.path());
    }
    std::filesystem::current_path(home_);
  }
  InScratch(const InScratch&) = delete;
  InScratch& operator=(const InScratch&) = delete;

 private:
  std::filesystem::path home_;
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = {"tensivo-cli"};
  std::string arg;
  for (std::size_t i = 0; i < size && args.size() < 16; ++i) {
    if (data[i] != 0) {
      arg += static_cast<char>(data[i]);
      continue;
    }
    args.push_back(arg);
    arg.clear();
  }
  if (!arg.empty() && args.size() < 16) args.push_back(arg);
  for (std::string& a : args) {
    if (a.find('/') != std::string::npos) a = "profile.json";
  }

  const InScratch scratch;
  SimulatedHid real;
  SimulatedHid simulated;
  const auto streaming = AddDevices(real);
  AddDevices(simulated);
  std::ostringstream out, err;
  std::istringstream in("y\n");
  tensivo::cli::Console console(out, err, in);
  console.real_hid = [&]() -> tensivo::platform::HidPlatform& { return real; };
  console.simulated_hid = [&]() -> tensivo::platform::HidPlatform& { return simulated; };
  std::atomic<int> interrupted{0};
  int waits = 0;
  console.interrupted = &interrupted;
  // A monitor without --count ends as at Ctrl-C after a few readings.
  console.wait_until = [&](auto) {
    if (++waits > 40) interrupted = SIGINT;
    if (waits % 3 != 0) return;
    for (const auto id : streaming) {
      real.PushModelInput(id, waits);
      simulated.PushModelInput(id, waits);
    }
  };

  const int code = tensivo::cli::Run(args, console);
  switch (code) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 64:
    case 130:  // the Ctrl-C above, where a command gives up on it
      break;
    default:
      std::abort();  // 70 is an exception that is no Failure; 74 cannot happen here
  }
  if (!Safe(out.str()) || !Safe(err.str())) std::abort();
  return 0;
}
