// Texts the window shows for what the device reports.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "device/device_steps.h"

namespace tensivo::device {

// A device string (UTF-16LE) as 8-bit text: the low byte of each unit is one
// character, and the text ends at the first low byte that is 0 or at the end
// of the buffer. High bytes are dropped on purpose; serials are matched on
// this same text.
std::string DeviceStringToText(std::span<const std::uint8_t> buffer);

// " 1.5" style: a blank, the major in decimal, a dot, the minor in upper-case
// hex without leading zeros.
std::string VersionText(std::uint16_t version);

// Why `details` cannot be configured, as the command line says it: "its
// firmware version 2.0 is an x.0 version, which cannot be configured".
std::string UnconfigurableText(Unconfigurable why, const DeviceDetails& details);

// The exact decimal value of the gain at list position p = 256 e + m,
// 2^e (1 + m/256), with no trailing zeros: "8.03125", "500".
std::string ExactGainText(int position, char decimal_point = '.');

// The gain-list entry for position p: its exact value cut (not rounded) to
// 6 characters.
std::string GainText(int position, char decimal_point = '.');

}  // namespace tensivo::device
