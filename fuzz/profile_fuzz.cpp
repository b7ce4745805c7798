// Any bytes as a profile file: refused in words (a Failure) or read, and what
// is read prints as a profile that reads back the same.
#include <cstdlib>
#include <string_view>

#include "cli/profile.h"
#include "cli/connection.h"

using tensivo::cli::Failure;
using tensivo::cli::ParseProfile;
using tensivo::cli::Profile;
using tensivo::cli::ProfileText;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Profile first;
  try {
    first = ParseProfile(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const Failure&) {
    return 0;
  }
  // A profile that was read must print as one that reads again; a Failure
  // here escapes and is a finding.
  const Profile again = ParseProfile(ProfileText(first));
  if (again.serial != first.serial || again.maker != first.maker ||
      again.product != first.product || again.version != first.version ||
      again.positions != first.positions) {
    std::abort();
  }
  return 0;
}
