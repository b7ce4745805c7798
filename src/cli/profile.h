// The three gains of a device as a small JSON file, to save and load.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "cli/cli.h"
#include "device/channels.h"

namespace tensivo::cli {

inline constexpr int kProfileFormat = 1;

struct Profile {
  std::string serial;
  std::string maker;
  std::string product;
  std::string version;                                  // as the window shows it, "1.1"
  std::array<int, device::kLoadCellCount> positions{};  // list positions, in channel order
};

std::string ProfileText(const Profile& profile);

// The whole file checked before anything is written: throws
// Failure(kFileFailed) saying what is wrong with it.
Profile ParseProfile(std::string_view text);

// Reads or writes a whole profile file; throws Failure(kFileFailed). A file
// is written beside its final name and renamed, so a failed save leaves the
// old one.
// A read waits through console.wait_readable, so that a signal ends it.
std::string ReadProfileFile(const std::string& path, const Console& console);
void WriteProfileFile(const std::string& path, const std::string& text);

}  // namespace tensivo::cli
