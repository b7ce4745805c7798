#pragma once

#include <string_view>

#include "platform/hid_platform.h"
#include "window/layout.h"

namespace tensivo::window::qt {

// Opens the window on the given backend and runs it until it is closed. The
// backend must outlive the call.
int RunUtility(platform::HidPlatform& hid, int argc, char** argv,
               std::string_view caption = kWindowCaption);

}  // namespace tensivo::window::qt
