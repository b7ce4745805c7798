// What travels on the wire between the host and a device of our kind, written
// once for the host side, the simulated backend and the virtual device.
// Standard library only: the device model and the virtual device include it
// without linking the rest of this room.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "device/channels.h"

namespace tensivo::device {

inline constexpr std::uint16_t kVendorId = 0xE31A;
inline constexpr std::uint16_t kProductId = 0x5C07;

// First data byte of a feature report: what it is.
inline constexpr std::uint8_t kWriteRegisterCommand = 0x01;  // host to device: register, value
inline constexpr std::uint8_t kConfigBlockTag = 0xEE;        // device to host: start, registers
inline constexpr std::uint8_t kInputMaskTag = 0xCC;          // device to host: the input mask

// Registers one configuration-block reply carries.
inline constexpr std::size_t kConfigBlockRegisters = 16;

// Report lengths as the report descriptor declares them: data bytes only.
// The host's capabilities (platform::HidCaps) count the report-id byte too.
inline constexpr std::uint16_t kInputReportBytes = kValueBytes * kChannelCount;
inline constexpr std::uint16_t kFeatureReportBytes = 2 + kConfigBlockRegisters;
inline constexpr std::uint16_t kReportIdBytes = 1;

// Registers 0 to 11 as a device leaves the factory: every gain 500.
inline constexpr std::array<std::uint8_t, 12> kFactoryValues = {15,  1,   15,  1,   15,  1,
                                                                244, 244, 244, 128, 128, 128};

}  // namespace tensivo::device
