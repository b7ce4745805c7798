// The three gains of a device as a small JSON file, to save and load.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "cli/cli.h"
#include "device/channels.h"

namespace tensivo::cli {

inline constexpr int kProfileFormat = 1;

// The file name `save` takes for standard output; a device or FIFO named as
// a file is refused, so printing is asked for this way alone.
inline constexpr const char* kStandardStream = "-";

struct Profile {
  std::string serial;
  std::optional<std::string> maker;    // none: the device's could not be read
  std::optional<std::string> product;
  std::string version;                                  // as the window shows it, "1.1"
  std::array<int, device::kLoadCellCount> positions{};  // list positions, in channel order
};

std::string ProfileText(const Profile& profile);

// The whole file checked before anything is written: throws
// Failure(kFileFailed) saying what is wrong with it.
Profile ParseProfile(std::string_view text);

// Reads or writes a whole profile file; throws Failure(kFileFailed). A file
// is written as WriteFileCarefully writes it. A read waits through
// console.wait_readable, so that a signal ends it.
std::string ReadProfileFile(const std::string& path, const Console& console);
void WriteProfileFile(const std::string& path, const std::string& text);

}  // namespace tensivo::cli
