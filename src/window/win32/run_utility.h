#pragma once

#include "platform/hid_platform.h"

namespace tensivo::window::win32 {

// Opens the window on the given backend and runs it until it is closed;
// returns the process's exit code. The backend must outlive the call.
int RunUtility(platform::HidPlatform& hid);

}  // namespace tensivo::window::win32
