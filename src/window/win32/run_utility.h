#pragma once

#include <string_view>

#include "platform/hid_platform.h"
#include "window/layout.h"

namespace tensivo::window::win32 {

// Opens the window on the given backend and runs it until it is closed;
// returns the process's exit code. The backend must outlive the call.
int RunUtility(platform::HidPlatform& hid, std::string_view caption = kWindowCaption);

}  // namespace tensivo::window::win32
