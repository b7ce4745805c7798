// The one state record of the configuration window. The window owns it; the
// device procedures work on it and keep nothing of their own between calls.
#pragma once

#include <cstdint>
#include <string>

#include "platform/hid_platform.h"

namespace tensivo::device {

// The window's booleans are 16-bit, -1 for true and 0 for false. Some places
// test for -1 and others for any non-zero value; the two are kept apart.
using Bool16 = std::int16_t;
inline constexpr Bool16 kTrue = -1;
inline constexpr Bool16 kFalse = 0;

struct WindowState {
  platform::HidCaps DeviceCaps;
  platform::HidAttributes DeviceAttributes;
  std::string DevicePathName;
  platform::EventId ReadEvent = 0;  // created once, kept for the life of the process
  platform::Handle DeviceHandle;    // plain: attributes, strings of the search, caps, features
  platform::ReadOverlapped ReadOverlapped;
  Bool16 DeviceFound = kFalse;
  platform::Handle ReadHandle;  // overlapped: input reads, manufacturer and product
  platform::Result LastResult = 0;
  Bool16 DetailsValid = kFalse;
  Bool16 ReconnectPending = kFalse;
  Bool16 GainEventsEnabled = kFalse;
  std::uint8_t InputMask = 0;
  Bool16 FormReady = kFalse;
  // Why the latest search could not open an attached device of ours; kNone
  // when it opened every one it saw, or saw none.
  platform::OpenError SearchRefused = platform::OpenError::kNone;
};

}  // namespace tensivo::device
