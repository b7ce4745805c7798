// The backend of the attached devices for the executables that use this
// header; app/CMakeLists.txt links its library (TENSIVO_REAL_HID).
#pragma once

#include "platform/linux_hidraw.h"

namespace tensivo::app {
using RealHid = platform::LinuxHidraw;
}  // namespace tensivo::app
