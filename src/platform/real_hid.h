// The backend of the attached devices on the OS the build is for. Each OS's
// backend defines MakeRealHid; src/platform/CMakeLists.txt builds the one for
// this OS as tensivo_platform_real, which every executable links, so that no
// main names a backend or an OS.
#pragma once

#include <memory>

#include "platform/hid_platform.h"

namespace tensivo::platform {

std::unique_ptr<HidPlatform> MakeRealHid();

}  // namespace tensivo::platform
