#pragma once

#include "platform/hid_platform.h"

namespace tensivo::window::qt {

// Opens the window on the given backend and runs it until it is closed. The
// backend must outlive the call.
int RunUtility(platform::HidPlatform& hid, int argc, char** argv);

}  // namespace tensivo::window::qt
