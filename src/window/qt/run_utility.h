#pragma once

#include <string_view>

#include "platform/hid_platform.h"
#include "window/layout.h"

namespace tensivo::window::qt {

// The exit status when there is no display to open the window on, as
// sysexits.h's EX_UNAVAILABLE.
inline constexpr int kNoDisplayStatus = 69;

// Opens the window on the given backend and runs it until it is closed; the
// status is 0 then. --help and --version print and return 0 without a
// display; every other word is ignored. The backend must outlive the call.
// `cli_instead` is the command line that does the same without a window.
int RunUtility(platform::HidPlatform& hid, int argc, char** argv,
               std::string_view caption = kWindowCaption,
               std::string_view cli_instead = "tensivo-cli");

}  // namespace tensivo::window::qt
