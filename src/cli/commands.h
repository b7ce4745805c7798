// The commands, once their arguments are parsed. Each returns its exit code
// or throws Failure.
#pragma once

#include <optional>
#include <string>

#include "cli/cli.h"
#include "platform/hid_platform.h"

namespace tensivo::cli {

struct Options {
  bool json = false;
  std::optional<std::string> serial;
  std::optional<int> cell;  // 0..2 for LC1..LC3
  std::optional<std::string> gain;
  std::optional<int> position;
  bool yes = false;
  bool force = false;
  double rate = 20;
  std::optional<long> count;
  std::string file;
};

int List(platform::HidPlatform& hid, const Options& options, Console& console);
int Info(platform::HidPlatform& hid, const Options& options, Console& console);
int GetGain(platform::HidPlatform& hid, const Options& options, Console& console);
int SetGain(platform::HidPlatform& hid, const Options& options, Console& console);
int Factory(platform::HidPlatform& hid, const Options& options, Console& console);
int Save(platform::HidPlatform& hid, const Options& options, Console& console);
int Load(platform::HidPlatform& hid, const Options& options, Console& console);
int Monitor(platform::HidPlatform& hid, const Options& options, Console& console);

// The list position a set-gain asks for; throws Failure(kUsage) for a value
// that is no list entry.
int RequestedPosition(const Options& options);

}  // namespace tensivo::cli
